#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "xmlpp/Preprocessor.h"

namespace {

namespace fs = std::filesystem;

// Runs of the preprocessor in-process, on files in a folder of their own.
class RunTest : public ::testing::Test {
 protected:
  TempDir temp_{"xmlpp-run"};
  const fs::path& dir_ = temp_.path();
};

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
  std::optional<Expected<std::string_view>> text(const std::string& fileName) override {
    const auto found = texts.find(fileName);
    if (found == texts.end()) return std::nullopt;
    return std::string_view(found->second);
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

}  // namespace
