#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "TestFiles.h"
#include "driver/DepFile.h"
#include "driver/InstallDirectory.h"
#include "driver/Options.h"

namespace {

TEST(InstallDirectory, DerivedFromTheExecutable) {
  namespace fs = std::filesystem;
  const TempDir temp("xmlpp-inst");
  const fs::path& root = temp.path();
  fs::create_directories(root / "opt" / "t" / "bin");
  fs::create_directories(root / "links");
  fs::create_directory_symlink(root / "opt" / "t" / "bin", root / "links" / "bin");
  std::string canonicalRoot = fs::canonical(root).string();

  EXPECT_EQ(installDirectory((root / "opt/t/bin/xmlpp").string()), canonicalRoot + "/opt/t");
  // The directories are canonical: a linked folder resolves to the real one.
  EXPECT_EQ(installDirectory((root / "links/bin/xmlpp").string()), canonicalRoot + "/opt/t");
  EXPECT_EQ(installDirectory("/xmlpp"), "/");
  EXPECT_EQ(installDirectory("/no-such-dir/xmlpp"), "/");
}

TEST(InstallDirectory, ExecutablePathIsTheRealFile) {
  std::string path = executablePath("fallback");
  EXPECT_TRUE(path.starts_with("/")) << path;
  EXPECT_NE(path.find("unit_tests"), std::string::npos) << path;
}

// Names as the dependency file writes them, and the names it refuses with the reason it gives.
TEST(DepFile, NamesEscapedOrRefused) {
  const std::pair<std::string_view, std::string_view> written[] = {
      {"a b", "a\\ b"},         {"c#d:e$f", "c\\#d\\:e$$f"},      {"g\\h", "g\\h"},
      {"i\\ j", "i\\\\\\ j"},   {"k\\\\  l", "k\\\\\\\\\\ \\ l"}, {" m", "\\ m"},
      {"./-x.xml", "./-x.xml"}, {"./.Phony", "./.Phony"},         {"a~b", "a~b"},
  };
  for (const auto& [name, text] : written) {
    EXPECT_EQ(escapeDepFileName(name), text) << name;
    EXPECT_EQ(unlistableName(name), std::nullopt) << name;
  }
  const std::pair<std::string_view, std::string_view> refused[] = {
      {"a;b", "holds \";\""},
      {"a|b", "holds \"|\""},
      {"a\tb", "holds a tab"},
      {"a\x1b", "holds the byte 0x1B"},
      {"a\x7f", "holds the byte 0x7F"},
      {"x\\#", "holds \"\\\" before \"#\""},
      {"x\\:y", "holds \"\\\" before \":\""},
      {"x\\$y", "holds \"\\\" before \"$\""},
      {"end\\", "ends in \"\\\""},
      {"end:", "ends in \":\""},
      {"end ", "ends in a blank"},
      {"./~root", "begins with \"~\""},
      {".//./-lc", "begins with \"-l\""},
      {"./.PHONY", "begins with \".\" and capital letters only"},
      {".A_B", "begins with \".\" and capital letters only"},
  };
  for (const auto& [name, reason] : refused)
    EXPECT_EQ(unlistableName(name).value_or("-"), reason) << name;
}

// The rule leaves out standard input and the target itself, gives each file but the input an empty
// rule, and fails naming the first name it cannot write.
TEST(DepFile, RuleListsEveryFileOnce) {
  Expected<std::string> rule = depFileRule("o.xml", {"-", "a b.xml", "./o.xml"});
  ASSERT_TRUE(rule);
  EXPECT_EQ(*rule, "o.xml: a\\ b.xml\na\\ b.xml:\n");
  Expected<std::string> refused = depFileRule("o.xml", {"in.xml", "x;y", "a=b"});
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message, "x;y holds \";\", which GNU Make or Ninja would misread");
  Expected<std::string> lineBreak = depFileRule("o.xml", {"in\r.xml"});
  ASSERT_FALSE(lineBreak);
  EXPECT_EQ(lineBreak.error().message, "a file name holds a line break");
}

Options parsed(std::vector<const char*> args) {
  args.insert(args.begin(), "xmlpp");
  Expected<Options> options = parseOptions(static_cast<int>(args.size()), args.data());
  EXPECT_TRUE(options);
  return options ? *options : Options{};
}

using Views = std::vector<std::string_view>;

// Options with a value take the next argument whatever it looks like, or the rest of their own;
// the positional arguments keep their order around them.
TEST(Options, ValuesSeparateAndAttached) {
  const Options o = parsed({"in.xml", "-o", "-x", "-DA=1", "-D", "B", "-Iinc", "L", "-I", "-",
                            "--macros-file=m", "--doctype", "d", "--macros-file", "n", "D"});
  EXPECT_EQ(o.output, "-x");
  EXPECT_EQ(o.defines, (Views{"A=1", "B"}));
  EXPECT_EQ(o.includeDirs, (Views{"inc", "-"}));
  EXPECT_EQ(o.macrosFiles, (Views{"m", "n"}));
  EXPECT_EQ(o.doctype, "d");
  EXPECT_EQ(o.arguments, (Views{"in.xml", "L", "D"}));
  // The last -o and --doctype win; "--" makes the rest positional.
  const Options last = parsed({"-oa", "-ob", "--doctype=x", "--doctype=", "--", "-o", "-"});
  EXPECT_EQ(last.output, "b");
  EXPECT_EQ(last.doctype, "");
  EXPECT_EQ(last.arguments, (Views{"-o", "-"}));
}

// An option at the end without its value fails, and so does a long option followed by anything
// but "=" (an unknown option is named first).
TEST(Options, MissingValueAndNearNames) {
  const char* missing[] = {"xmlpp", "in.xml", "-D"};
  Expected<Options> noValue = parseOptions(3, missing);
  ASSERT_FALSE(noValue);
  EXPECT_EQ(noValue.error().message, "xmlpp: option -D needs a value (see xmlpp --help)");
  const char* near[] = {"xmlpp", "--doctypes=x", "-o"};
  Expected<Options> unknown = parseOptions(3, near);
  ASSERT_FALSE(unknown);
  EXPECT_EQ(unknown.error().message, "xmlpp: unknown option --doctypes=x (see xmlpp --help)");
}

// --trace takes its file attached only (a separate argument stays positional); its filters take
// theirs either way.
TEST(Options, TraceAndItsFilters) {
  const Options o = parsed({"--trace", "t.txt", "--trace-file", "a.xml", "--trace-macro=M"});
  EXPECT_TRUE(o.trace);
  EXPECT_EQ(o.traceOutput, std::nullopt);
  EXPECT_EQ(o.traceFile, "a.xml");
  EXPECT_EQ(o.traceMacro, "M");
  EXPECT_EQ(o.arguments, (Views{"t.txt"}));
  const Options file = parsed({"--trace=t.txt", "in.xml"});
  EXPECT_TRUE(file.trace);
  EXPECT_EQ(file.traceOutput, "t.txt");
  const char* near[] = {"xmlpp", "--traces"};
  ASSERT_FALSE(parseOptions(2, near));
}

// -MD's name: the last component's suffix replaced by ".d", or ".d" added.
TEST(DepFile, NamedAfterTheOutput) {
  const std::pair<std::string_view, std::string_view> names[] = {
      {"out.xml", "out.d"},     {"b/o.v1.xml", "b/o.v1.d"}, {"dir.x/a", "dir.x/a.d"},
      {".hidden", ".hidden.d"}, {"d/.x", "d/.x.d"},         {"a.", "a.d"},
  };
  for (const auto& [output, name] : names)
    EXPECT_EQ(dependencyFileName(output), name) << output;
}

}  // namespace
