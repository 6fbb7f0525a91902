#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "xmlpp/Preprocessor.h"
#include "xmlpp/Walk.h"

namespace {

namespace fs = std::filesystem;

// Runs the preprocessor in-process on a text written to a file; the result is the written
// document, or the failure's message.
class RunTest : public ::testing::Test {
 protected:
  std::string run(const std::string& text, const std::string& macros = "") {
    const fs::path input = dir_ / "in.xml";
    std::ofstream(input, std::ios::binary) << text;
    Preprocessor preprocessor{MacroEnvironment("/opt/t")};
    if (auto failure = preprocessor.run(input.string(), macros)) return failure->message;
    std::string out;
    preprocessor.document().write(out);
    return out;
  }

  TempDir temp_{"xmlpp-run"};
  const fs::path& dir_ = temp_.path();
};

TEST_F(RunTest, FailuresComeBackAsValues) {
  struct Case {
    const char* input;
    const char* message;
  } cases[] = {
      {"<r><if a='1' b='2'><x/></if><for/></r>", "one condition required for <if[not]>"},
      {"<r><define/><include/></r>", "missing name in <define>"},
      {"<r><for index='i' start='0' end='1' incr='0'><x/></for></r>",
       "<for index=\"i\"> never ends"},
      {"<r><xmlput name='n'/></r>", "xmlput cannot fine xmldef named n"},
      {"<if a=''><x/></if>", "<if> cannot be the root element"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(run(c.input), std::string("XmlPP::processConditionals(): ") + c.message) << c.input;
  EXPECT_EQ(run("<r></b>"), "load error tagName mismatch at 0");
  EXPECT_EQ(run("<r a='$(A)'><ifdef name='A'><x/></ifdef></r>", "A=1"),
            "<r a=\"1\">\n  <x/>\n</r>\n");
}

// A loop's copies hold what expanding the body with the iteration, and then the scope, gives:
// a counter's digits as it carries into a new digit, and the references the iteration leaves for
// the scope (a macro of the scope, "$$", a default), in values, an ifex expression and the values
// of a foreach inside the loop.
TEST_F(RunTest, LoopCopiesExpandAsTheBodyWould) {
  struct Case {
    const char* input;
    const char* macros;
    const char* output;
  } cases[] = {
      {"<r><for index='i' start='97' end='102' incr='1'><x v='$(i)'/></for>"
       "<for index='j' start='999' end='1001' incr='1'><y v='$(j)'/></for>"
       "<for index='k' start='8' end='11' incr='1'><z v='$(k)'/></for></r>",
       "",
       "<r>\n  <x v=\"97\" />\n  <x v=\"98\" />\n  <x v=\"99\" />\n  <x v=\"100\" />\n"
       "  <x v=\"101\" />\n  <y v=\"999\" />\n  <y v=\"1000\" />\n  <z v=\"8\" />\n"
       "  <z v=\"9\" />\n  <z v=\"10\" />\n</r>\n"},
      {"<r><for index='i' start='0' end='2' incr='1'>"
       "<x v='$(i)-$(N)' w='$$(i)' u='$(i)$(M:none)'/>"
       "<ifex expression='$(i) == $(N)'><y n='$(i)'/></ifex>"
       "<foreach v='a,$(N)'><z v='$(v)'/></foreach></for></r>",
       "N=1",
       "<r>\n  <x v=\"0-1\" w=\"$(i)\" u=\"0none\" />\n  <z v=\"a\" />\n  <z v=\"1\" />\n"
       "  <x v=\"1-1\" w=\"$(i)\" u=\"1none\" />\n  <y n=\"1\" />\n  <z v=\"a\" />\n"
       "  <z v=\"1\" />\n</r>\n"},
      // An item that holds a reference once "$$" is expanded: the copies expand it again.
      {"<r><foreach v='$$(N),a'><z v='$(v)'/></foreach></r>", "N=1",
       "<r>\n  <z v=\"1\" />\n  <z v=\"a\" />\n</r>\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(run(c.input, c.macros), c.output) << c.input;
}

TEST_F(RunTest, DeepDocumentsWalkWithoutRecursion) {
  constexpr int kDepth = 100000;
  std::string ifs = "<r>";
  for (int i = 0; i < kDepth; ++i)
    ifs += "<if A='1'>";
  ifs += "<x v='$(A)'/>";
  for (int i = 0; i < kDepth; ++i)
    ifs += "</if>";
  ifs += "</r>";
  EXPECT_EQ(run(ifs, "A=1"), "<r>\n  <x v=\"1\" />\n</r>\n");

  // Its indented output would be 20 GB: the tree is checked in place.
  std::string deep;
  for (int i = 0; i < kDepth; ++i)
    deep += "<a v='$(X)'>";
  for (int i = 0; i < kDepth; ++i)
    deep += "</a>";
  std::ofstream(dir_ / "deep.xml") << deep;
  Preprocessor preprocessor{MacroEnvironment("/opt/t")};
  ASSERT_FALSE(preprocessor.run((dir_ / "deep.xml").string(), "X=1"));
  int depth = 0;
  for (XMLNode* n = preprocessor.document().root; n; n = n->firstChild, ++depth)
    ASSERT_EQ(static_cast<XMLElement*>(n)->attribute("v"), "1");
  EXPECT_EQ(depth, kDepth);
}

// Records, at each <probe> element, every macro in scope with where its value was defined.
class ScopeRecorder : public WalkListener {
 public:
  explicit ScopeRecorder(const XMLDocument& document) : document_(document) {}
  void reached(const XMLElement& element, const std::string& file,
               const MacroTable& scope) override {
    if (element.name() != "probe") return;
    std::string line = fs::path(file).filename().string() + ":";
    scope.forEach([&](const std::string& name, const std::string& value, const MacroOrigin& at) {
      static constexpr const char* kKinds[] = {"command line", "define", "macros", "loop",
                                               "tested"};
      line += " " + name + "=" + value + "(" + kKinds[static_cast<int>(at.kind)];
      if (at.file) {
        line += " " + fs::path(*at.file).filename().string() + ":" +
                std::to_string(document_.lineAt(at.position) + 1);
      }
      line += ")";
    });
    probes.push_back(line);
  }
  std::vector<std::string> probes;

 private:
  const XMLDocument& document_;
};

// Where each value in scope was defined, across an include and a fragment put in another file:
// the command line, a define (the latest one in scope), an include's and an xmlput's "macros",
// a name an "if" tested before it was defined; and a scope's definitions gone when it ends.
TEST_F(RunTest, ScopesKnowWhereEachValueWasDefined) {
  std::ofstream(dir_ / "main.xml") << "<r>\n"
                                      "  <define name='B' value='1'/>\n"
                                      "  <xmldef name='f'><probe/></xmldef>\n"
                                      "  <include filename='inc.xml' macros='C=2'/>\n"
                                      "  <probe/>\n"
                                      "</r>\n";
  std::ofstream(dir_ / "inc.xml") << "<i>\n"
                                     "  <if D='x'/>\n"
                                     "  <define name='B' value='2'/>\n"
                                     "  <define name='B' value='3'/>\n"
                                     "  <probe/>\n"
                                     "  <xmlput name='f' macros='E=4'/>\n"
                                     "</i>\n";
  Preprocessor preprocessor{MacroEnvironment("/opt/t")};
  ScopeRecorder recorder(preprocessor.document());
  ASSERT_FALSE(preprocessor.run((dir_ / "main.xml").string(), "A=0;B=9", &recorder));
  const std::vector<std::string> expected = {
      "inc.xml: A=0(command line) B=3(define inc.xml:4) C=2(macros main.xml:4) "
      "D=(tested inc.xml:2)",
      "main.xml: A=0(command line) B=3(define inc.xml:4) C=2(macros main.xml:4) "
      "D=(tested inc.xml:2) E=4(macros inc.xml:6)",
      "main.xml: A=0(command line) B=1(define main.xml:2)",
  };
  EXPECT_EQ(recorder.probes, expected);
}

// Texts by path, in place of the files of those names.
class Buffers : public FileSource {
 public:
  std::map<std::string, std::string> texts;
  std::optional<std::string_view> text(const std::string& fileName) override {
    const auto found = texts.find(fileName);
    if (found == texts.end()) return std::nullopt;
    return found->second;
  }
};

TEST_F(RunTest, IncludeFoldersFindTextsOfTheFileSource) {
  // inc/part.xml exists only as a text of the source; main.xml's own text is the source's too.
  fs::create_directories(dir_ / "inc");
  const std::string input = (dir_ / "main.xml").string();
  std::ofstream(input) << "<r><on-disk/></r>";
  Buffers buffers;
  buffers.texts[input] = "<r><include filename=\"part.xml\"/></r>";
  buffers.texts[(dir_ / "inc").string() + "/part.xml"] = "<part/>";
  Preprocessor preprocessor{MacroEnvironment("/opt/t")};
  preprocessor.setFileSource(&buffers);
  preprocessor.setIncludeDirs({(dir_ / "inc").string()});
  ASSERT_FALSE(preprocessor.run(input, "")) << "run failed";
  std::string out;
  preprocessor.document().write(out);
  EXPECT_EQ(out, "<r>\n  <part/>\n</r>\n");
}

TEST(CombineValueLists, OrderAndEmptyLists) {
  auto combine = [](const std::vector<std::vector<std::string>>& lists) {
    std::string out;
    combineValueLists(lists, [&](const std::vector<std::size_t>& chosen, bool last) {
      for (std::size_t k = 0; k < chosen.size(); ++k)
        out += lists[k][chosen[k]];
      out += last ? '.' : ';';
      return true;
    });
    return out;
  };
  EXPECT_EQ(combine({{"1", "2"}, {"x", "y"}}), "1x;1y;2x;2y.");
  EXPECT_EQ(combine({{"1", "2"}, {}}), "");
  EXPECT_EQ(combine({}), ".");
  EXPECT_EQ(combine({{"a"}, {"b"}, {"c", "d"}}), "abc;abd.");
}

}  // namespace

// What may be written before the walk: an element the walk keeps exactly as read.
TEST(KeepsAsRead, NoDirectiveAndNoReference) {
  struct Case {
    const char* element;
    bool kept;
  };
  const Case cases[] = {
      {"<a b='1' c=''/>", true},
      {"<a b='&#36;'/>", false},  // a reference once decoded
      {"<a b='1' v='x$(X)'/>", false},
      {"<a v='$'/>", false},
      {"<if X='1'/>", false},
      {"<include filename='x'/>", false},
      {"<foreach a='1'/>", false},
      {"<If/>", true},  // names are compared exactly
      {"<ifexx/>", true},
      {"<case/>", true},  // read only inside a switch
      {"<default/>", true},
  };
  for (const Case& c : cases) {
    XMLDocument doc;
    ASSERT_FALSE(doc.loadText(std::string("<r>") + c.element + "</r>"));
    EXPECT_EQ(Preprocessor::keepsAsRead(*asElement(doc.root->firstChild)), c.kept) << c.element;
  }
}
