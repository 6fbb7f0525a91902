#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "TestFiles.h"
#include "driver/DepFile.h"
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
