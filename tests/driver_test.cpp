#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestFiles.h"
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

}  // namespace
