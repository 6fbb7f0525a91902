#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "driver/InstallDirectory.h"
#include "driver/MacroList.h"

namespace {

TEST(MacroList, SplitAndMap) {
  struct Case {
    const char* text;
    MacroMap expected;
  } cases[] = {
      {"", {}},
      {";;", {}},
      {"A=1;B=x=y;;C", {{"A", "1"}, {"B", "x=y"}, {"C", ""}}},
      {"A=1;A=2", {{"A", "2"}}},
      {"P=a\\;b", {{"P", "a;b"}}},
      {"P=a\\\\b;Q=c\\", {{"P", "a\\b"}, {"Q", "c\\"}}},
      {"S\\=T=u", {{"S", "T=u"}}},  // the escape only keeps "=" out of the split at ";"
      {" A = 1 ", {{" A ", " 1 "}}},
      {"=v;a=", {{"", "v"}, {"a", ""}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(macroListToMap(splitMacroList(c.text)), c.expected) << c.text;
  }
  EXPECT_EQ(splitMacroList("a\\;;;b;"), (std::vector<std::string>{"a;", "b"}));
}

TEST(InstallDirectory, NormalizePath) {
  struct Case {
    const char* path;
    const char* expected;
  } cases[] = {
      {"/opt/t", "/opt/t"},
      {"/opt/./t", "/opt/t"},
      {"/opt//t/", "/opt/t"},
      {"/opt/x/../t", "/opt/t"},
      {"../a/b/..", "../a"},
      {"a/../../b", "../b"},
      {"/", ""},
      {"", ""},
      {".", ""},
      {"//a", "/a"},
      {"a//", "a"},
      {"/../a", "/../a"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(normalizePath(c.path), c.expected) << c.path;
}

TEST(InstallDirectory, DerivedFromTheExecutable) {
  namespace fs = std::filesystem;
  fs::path root = fs::temp_directory_path() / ("xmlpp-inst-" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "opt" / "t" / "bin");
  fs::create_directories(root / "links");
  fs::create_directory_symlink(root / "opt" / "t" / "bin", root / "links" / "bin");
  std::string canonicalRoot = fs::canonical(root).string();

  Directories direct = setupDirectories((root / "opt/t/bin/xmlpp").string(), 1);
  EXPECT_EQ(direct.binDirectory, canonicalRoot + "/opt/t/bin");
  EXPECT_EQ(direct.installDirectory, canonicalRoot + "/opt/t");
  EXPECT_EQ(installDirectoryMacroValue(direct), canonicalRoot + "/opt/t");
  // The directories are canonical: a linked folder resolves to the real one.
  EXPECT_EQ(setupDirectories((root / "links/bin/xmlpp").string(), 1).installDirectory,
            canonicalRoot + "/opt/t");
  EXPECT_EQ(installDirectoryMacroValue(setupDirectories("/xmlpp", 1)), "/");
  EXPECT_EQ(installDirectoryMacroValue(setupDirectories("/no-such-dir/xmlpp", 1)), "/");
  fs::remove_all(root);
}

TEST(InstallDirectory, ExecutablePathIsTheRealFile) {
  std::string path = executablePath("fallback");
  EXPECT_TRUE(path.starts_with("/")) << path;
  EXPECT_NE(path.find("unit_tests"), std::string::npos) << path;
}

}  // namespace
