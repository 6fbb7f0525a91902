#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "TestFiles.h"
#include "driver/DepFile.h"
#include "driver/Fix.h"
#include "driver/InstallDirectory.h"

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

// Fixes rename within lines: each replaces its columns, once, whatever line ends the text uses;
// one that overlaps another or lies outside its line is left out.
TEST(Fix, ReplacementsWithinLines) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<FixIt> fixes;
    std::string want;
  };
  const auto fix = [](std::int32_t line, std::int32_t column, std::int32_t end, std::string text) {
    return FixIt{"f", line, column, end, std::move(text)};
  };
  const Case cases[] = {
      {"two on a line, given out of order",
       "<Define></Define>\n",
       {fix(0, 11, 17, "define"), fix(0, 2, 8, "define")},
       "<define></define>\n"},
      {"the same twice",
       "<a nmae=\"x\"/>",
       {fix(0, 4, 8, "name"), fix(0, 4, 8, "name")},
       "<a name=\"x\"/>"},
      {"overlapping: the first kept", "abcdef", {fix(0, 2, 5, "X"), fix(0, 3, 6, "Y")}, "aXef"},
      {"lines ended by CR, CR LF and LF",
       "a\rbb\r\nccc\nd",
       {fix(2, 2, 4, "Z"), fix(1, 1, 2, "Y")},
       "a\rYb\r\ncZ\nd"},
      {"past its line, or no such line",
       "ab\ncd",
       {fix(0, 2, 4, "X"), fix(5, 1, 2, "Y")},
       "ab\ncd"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(applyFixes(c.text, c.fixes), c.want) << c.what;
  EXPECT_EQ(unifiedDiff("f", "a\nb\nc\n", "a\nB\nc\n"), "--- f\n+++ f\n@@ -2,1 +2,1 @@\n-b\n+B\n");
}
