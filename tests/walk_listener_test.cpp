#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "xmlpp/Preprocessor.h"

namespace {

namespace fs = std::filesystem;

// Writes each event as one line: the kind, the place as FILE:LINE:COL, and what it carries, with
// each origin as KIND@FILE:LINE:COL, so that a test states the whole sequence of a run.
class EventRecorder : public WalkListener {
 public:
  explicit EventRecorder(const XMLDocument& document) : doc_(document) {}

  void reference(const ReferenceEvent& e) override {
    static constexpr const char* kSources[] = {"macro", "system", "default", "unresolved"};
    const ResolvedReference& r = e.reference;
    std::string line = "ref " + place(e.place) + " " + std::string(e.attribute) + " " +
                       std::string(r.reference) + "=" + std::string(r.value) + " " +
                       kSources[static_cast<int>(r.source)] + origin(r.origin);
    if (e.loopVariable) line += " loop";
    // A reference of the text as read is located in it.
    if (r.pass == 0 && doc_.columnAt(r.reference.data()) > 0) line += " @" + at(r.reference.data());
    events.push_back(line);
  }
  void condition(const ConditionEvent& e) override {
    static constexpr const char* kNames[] = {"if", "ifnot", "ifdef", "ifndef", "ifex", "switch"};
    std::string line = std::string(kNames[static_cast<int>(e.directive)]) + " " + place(e.place) +
                       (e.taken ? " taken " : " not ") + std::string(e.attribute) + "@" +
                       at(e.attribute.data()) + " " + std::string(e.name) + "[" +
                       std::string(e.tested) + "]=" + std::string(e.value) +
                       (e.defined || e.name.empty() ? "" : " undefined") + origin(e.origin);
    if (e.truth) line += *e.truth ? " true" : " false";
    if (e.chosen) line += " chosen " + std::to_string(doc_.lineOf(e.chosen) + 1);
    if (e.chosenDefault) line += " default";
    events.push_back(line);
  }
  void include(const IncludeEvent& e) override {
    events.push_back(
        "include " + place(e.place) + " " + std::string(e.filename) + " -> " +
        fs::path(std::string(e.path)).filename().string() +
        (e.includeDir ? " via -I " + fs::path(*e.includeDir).filename().string() : ""));
  }
  void put(const PutEvent& e) override {
    events.push_back("put " + place(e.place) + " " + std::string(e.name) + " xmldef " +
                     place({e.fragment, e.fragmentFile}));
  }
  void define(const DefineEvent& e) override {
    events.push_back("define " + place(e.place) + " " + std::string(e.name) + "=" +
                     std::string(e.value) + " " + std::string(e.attribute) +
                     (e.set ? "" : " unset") + origin(&e.origin));
  }
  void iteration(const IterationEvent& e) override {
    std::string line = "iteration " + place(e.place) + " " + std::to_string(e.index);
    // Every variable of the iteration, those the body does not refer to too.
    e.variables.forEach([&](const std::string& name, const std::string& value, const MacroOrigin&) {
      line += " " + name + "=" + value;
    });
    events.push_back(line);
  }
  void loop(const LoopEvent& e) override {
    events.push_back(std::string(e.foreach ? "foreach " : "for ") + place(e.place) + " " +
                     std::to_string(e.iterations));
  }

  std::vector<std::string> events;

 private:
  std::string at(const char* position) const {
    return std::to_string(doc_.lineAt(position) + 1) + ":" +
           std::to_string(doc_.columnAt(position));
  }
  std::string place(const WalkPlace& p) const {
    return fs::path(*p.file).filename().string() + ":" +
           std::to_string(doc_.lineOf(p.element) + 1) + ":" +
           std::to_string(doc_.columnOf(p.element));
  }
  std::string origin(const MacroOrigin* o) const {
    static constexpr const char* kKinds[] = {"cmdline", "define", "macros", "loop", "tested"};
    if (!o) return "";
    std::string text = std::string(" (") + kKinds[static_cast<int>(o->kind)];
    if (o->file) text += "@" + fs::path(*o->file).filename().string() + ":" + at(o->position);
    return text + ")";
  }
  const XMLDocument& doc_;
};

class WalkListenerTest : public ::testing::Test {
 protected:
  void write(const std::string& name, const std::string& text) {
    fs::create_directories((dir_ / name).parent_path());
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  // The events of a run of main.xml, and its output, which a listener must not change.
  std::vector<std::string> events(const std::string& macros, std::string* output = nullptr,
                                  std::vector<std::string> includeDirs = {}) {
    Preprocessor preprocessor{MacroEnvironment("/opt/t")};
    for (std::string& dir : includeDirs)
      dir = (dir_ / dir).string();
    preprocessor.setIncludeDirs(includeDirs);
    EventRecorder recorder(preprocessor.document());
    if (auto failure = preprocessor.run((dir_ / "main.xml").string(), macros, &recorder)) {
      recorder.events.push_back("failed: " + failure->message);
    }
    if (output) preprocessor.document().write(*output);
    return recorder.events;
  }
  std::string outputWithoutListener(const std::string& macros, const std::string& includeDir) {
    Preprocessor preprocessor{MacroEnvironment("/opt/t")};
    preprocessor.setIncludeDirs({(dir_ / includeDir).string()});
    EXPECT_FALSE(preprocessor.run((dir_ / "main.xml").string(), macros));
    std::string out;
    preprocessor.document().write(out);
    return out;
  }

  TempDir temp_{"xmlpp-listener"};
  const fs::path& dir_ = temp_.path();
};

TEST_F(WalkListenerTest, ConditionsTellWhatTheyTestedAndWhereItWasDefined) {
  write("main.xml",
        "<r>\n"
        "  <define name='V' value='full'/>\n"
        "  <if BOARD='evb1,evb2'><a/></if>\n"
        "  <ifnot V='full'><b/></ifnot>\n"
        "  <if NEW='x'><c/></if>\n"
        "  <ifdef name='V'><d/></ifdef>\n"
        "  <ifndef name='W'><e/></ifndef>\n"
        "  <ifex expression='$(N) &gt; 2'><f/></ifex>\n"
        "  <ifex expression='(('><g/></ifex>\n"
        "  <switch name='V'><case value='lite'/><case value='full'><h/></case></switch>\n"
        "  <switch name='BOARD'><case value='x'/><default><i/></default></switch>\n"
        "  <switch name='NONE'><case value='x'/></switch>\n"
        "</r>\n");
  const std::vector<std::string> expected = {
      "define main.xml:2:3 V=full value (define@main.xml:2:4)",
      "if main.xml:3:3 taken BOARD@3:7 BOARD[evb1,evb2]=evb2 (cmdline)",
      "ifnot main.xml:4:3 not V@4:10 V[full]=full (define@main.xml:2:4)",
      "if main.xml:5:3 not NEW@5:7 NEW[x]= undefined (tested@main.xml:5:4)",
      "ifdef main.xml:6:3 taken name@6:10 V[]=full (define@main.xml:2:4)",
      "ifndef main.xml:7:3 taken name@7:11 W[]= undefined",
      "ref main.xml:8:3 expression $(N)=3 macro (cmdline) @8:21",
      "ifex main.xml:8:3 taken expression@8:9 []=3 > 2 true",
      "ifex main.xml:9:3 not expression@9:9 []=((",
      "switch main.xml:10:3 taken name@10:11 V[]=full (define@main.xml:2:4) chosen 10",
      "switch main.xml:11:3 taken name@11:11 BOARD[]=evb2 (cmdline) chosen 11 default",
      "switch main.xml:12:3 not name@12:11 NONE[]= undefined (tested@main.xml:12:4)",
  };
  EXPECT_EQ(events("BOARD=evb2;N=3"), expected);
}

TEST_F(WalkListenerTest, ReferencesIncludesPutsAndLoops) {
  write("main.xml",
        "<r>\n"
        "  <xmldef name='frag'><p v='$(P)'/></xmldef>\n"
        "  <include filename='common.xml' macros='M=1'/>\n"
        "  <include filename='lib.xml'/>\n"
        "  <xmlput name='frag' macros='P=7'/>\n"
        "  <foreach c='red,blue'><x c='$(c)' n='$(NAME)' d='$(U:dflt)' u='$(U)'/></foreach>\n"
        "  <for index='i' start='0' end='2' incr='1'><y i='$(i)'/></for>\n"
        "</r>\n");
  write("common.xml",
        "<common>\n"
        "  <define name='NAME' value='v$(M)'/>\n"
        "  <define name='E' expression='2+3'/>\n"
        "  <define name='BAD' expression='(('/>\n"
        "</common>\n");
  write("inc/lib.xml", "<lib/>\n");
  std::string output;
  const std::vector<std::string> expected = {
      "include main.xml:3:3 common.xml -> common.xml",
      "define main.xml:3:3 M=1 macros (macros@main.xml:3:4)",
      "ref common.xml:2:3 value $(M)=1 macro (macros@main.xml:3:4) @2:31",
      "define common.xml:2:3 NAME=v1 value (define@common.xml:2:4)",
      "define common.xml:3:3 E=5 expression (define@common.xml:3:4)",
      "define common.xml:4:3 BAD= expression unset (define@common.xml:4:4)",
      "include main.xml:4:3 lib.xml -> lib.xml via -I inc",
      "put main.xml:5:3 frag xmldef main.xml:2:3",
      "define main.xml:5:3 P=7 macros (macros@main.xml:5:4)",
      "ref main.xml:2:23 v $(P)=7 macro (macros@main.xml:5:4) @2:29",
      "iteration main.xml:6:3 0 c=red",
      "iteration main.xml:6:3 1 c=blue",
      "ref main.xml:6:25 c $(c)=red macro (loop@main.xml:6:4) loop @6:31",
      "ref main.xml:6:25 d $(U:dflt)=dflt default loop @6:52",
      "foreach main.xml:6:3 2",
      "ref main.xml:6:25 n $(NAME)=$(NAME) unresolved",
      "ref main.xml:6:25 u $(U)=$(U) unresolved",
      "ref main.xml:6:25 c $(c)=blue macro (loop@main.xml:6:4) loop @6:31",
      "ref main.xml:6:25 d $(U:dflt)=dflt default loop @6:52",
      "ref main.xml:6:25 n $(NAME)=$(NAME) unresolved",
      "ref main.xml:6:25 u $(U)=$(U) unresolved",
      "iteration main.xml:7:3 0 i=0 i_alpha=A i_ap=0 i_ap_hex=0x0 i_hex=0x0",
      "ref main.xml:7:45 i $(i)=0 macro (loop@main.xml:7:4) loop @7:51",
      "iteration main.xml:7:3 1 i=1 i_alpha=B i_ap=1 i_ap_hex=0x1 i_hex=0x1",
      "for main.xml:7:3 2",
      "ref main.xml:7:45 i $(i)=1 macro (loop@main.xml:7:4) loop @7:51",
  };
  EXPECT_EQ(events("", &output, {"inc"}), expected);
  EXPECT_EQ(output, outputWithoutListener("", "inc"));
}

// A failing run has told everything up to the failure.
TEST_F(WalkListenerTest, FailingRunTellsUpToTheFailure) {
  write("main.xml", "<r>\n  <if A='1'><x/></if>\n  <xmlput name='none'/>\n  <if B='1'/>\n</r>\n");
  const std::vector<std::string> expected = {
      "if main.xml:2:3 taken A@2:7 A[1]=1 (cmdline)",
      "failed: XmlPP::processConditionals(): xmlput cannot fine xmldef named none",
  };
  EXPECT_EQ(events("A=1"), expected);
}

}  // namespace
