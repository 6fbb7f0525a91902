// Runs the built tool over every folder in tests/cases. A case folder holds:
//   args             the arguments, one per line (an empty line is an empty argument); without
//                    it the tool is not run here and only the check script runs (it runs the
//                    tool itself), so none of the expected files below apply
//   expected.xml     the bytes `out.xml` must hold afterwards; without it (and without a check
//                    script), `out.xml` must not exist
//   expected.stderr  what the tool prints on stderr (default: nothing)
//   expected.stdout  what the tool prints on stdout (default: nothing)
//   stdin            the tool's standard input (default: empty)
//   expected.status  the exit status (default: 0)
//   install/         when present, the tool is run from a copy at <work>/inst/bin/xmlpp with this
//                    folder's files under <work>/inst, so $(ZuruvaDez) is <work>/inst
//   setup            optional shell script run in the work folder before the tool
//   check            optional shell script run in the work folder after the tool; must exit 0
//                    (both scripts find the tool's path in $XMLPP)
//   env              optional NAME=VALUE lines added to the tool's environment
//   expected.plain.* when any of expected.plain.{xml,stderr,stdout,status} is present, the tool
//                    is run a second time, without the options (the args lines starting with
//                    "--"), and compared with these as above: options must change nothing else
// Every other file is copied into a fresh work folder, in which the tool runs. In args and the
// expected files, @WORK@ stands for the work folder and @INSTALL@ for <work>/inst.
// Whatever the case, a failing run must leave the work folder (and every folder below it) with no
// new file, and no run may leave a hidden file behind (temporary files are hidden).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "TestFiles.h"

namespace fs = std::filesystem;

namespace {

std::string substitute(std::string text, const std::string& work) {
  for (auto [key, value] :
       {std::pair<std::string, std::string>{"@INSTALL@", work + "/inst"}, {"@WORK@", work}}) {
    for (std::size_t at; (at = text.find(key)) != std::string::npos;)
      text.replace(at, key.size(), value);
  }
  return text;
}

struct Result {
  int status = -1;
  std::string stdoutText;
  std::string stderrText;
};

Result run(const std::string& binary, const std::vector<std::string>& args, const fs::path& cwd,
           const std::vector<std::string>& environment, const fs::path& input) {
  // The captured streams go beside the work folder, which must hold only what the tool leaves.
  fs::path outPath = cwd.string() + ".stdout";
  fs::path errPath = cwd.string() + ".stderr";
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(127);
    int in = open(fs::exists(input) ? input.c_str() : "/dev/null", O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary.c_str()));
    for (const auto& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The caller's own settings of the variables the tool reads do not reach the cases; a case
    // that wants one says so in its env file.
    unsetenv("XMLPP_DEPFILE");
    unsetenv("SOURCE_DATE_EPOCH");
    for (const auto& assignment : environment)
      putenv(const_cast<char*>(assignment.c_str()));
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Result result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.stdoutText = readFile(outPath);
  result.stderrText = readFile(errPath);
  fs::remove(outPath);
  fs::remove(errPath);
  return result;
}

// Every path below `folder`, relative to it (links are listed, not followed).
void listFiles(const fs::path& folder, const std::string& prefix, std::set<std::string>& names) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = prefix + entry.path().filename().string();
    names.insert(name);
    if (fs::is_directory(fs::symlink_status(entry.path()))) {
      listFiles(entry.path(), name + "/", names);
    }
  }
}

std::set<std::string> listFiles(const fs::path& folder) {
  std::set<std::string> names;
  listFiles(folder, "", names);
  return names;
}

std::vector<std::string> caseNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(XMLPP_CASES_DIR)) {
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Runs the tool with `args` and the case's env and stdin and compares what it did with the
// expected files whose names start with `expected` ("expected." or "expected.plain.").
void runAndCompare(const fs::path& source, const fs::path& work, const std::string& binary,
                   const std::vector<std::string>& args, const std::string& expected) {
  std::string workText = work.string();
  std::vector<std::string> environment;
  if (fs::exists(source / "env")) {
    std::istringstream lines(substitute(readFile(source / "env"), workText));
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty()) environment.push_back(line);
    }
  }
  const std::set<std::string> before = listFiles(work);
  Result result = run(binary, args, work, environment, source / "stdin");
  for (const std::string& name : listFiles(work)) {
    if (before.contains(name)) continue;
    EXPECT_EQ(result.status, 0) << "a failing run left " << name;
    EXPECT_NE(fs::path(name).filename().string().front(), '.') << "left behind: " << name;
  }

  auto expectedOr = [&](const char* name, const std::string& fallback) {
    fs::path path = source / (expected + name);
    return fs::exists(path) ? substitute(readFile(path), workText) : fallback;
  };
  SCOPED_TRACE(expected + "*");
  EXPECT_EQ(result.status, std::stoi(expectedOr("status", "0")));
  EXPECT_EQ(result.stderrText, expectedOr("stderr", ""));
  EXPECT_EQ(result.stdoutText, expectedOr("stdout", ""));
  fs::path out = work / "out.xml";
  if (fs::exists(source / (expected + "xml"))) {
    ASSERT_TRUE(fs::exists(out)) << "no out.xml";
    EXPECT_EQ(readFile(out), expectedOr("xml", ""));
  } else if (!fs::exists(source / "check")) {
    EXPECT_FALSE(fs::exists(out)) << "out.xml written";
  }
}

class EndToEnd : public ::testing::TestWithParam<std::string> {};

TEST_P(EndToEnd, Case) {
  fs::path source = fs::path(XMLPP_CASES_DIR) / GetParam();
  fs::path work =
      fs::temp_directory_path() / ("xmlpp-e2e-" + GetParam() + "-" + std::to_string(getpid()));
  fs::remove_all(work);
  fs::create_directories(work);
  std::string workText = work.string();
  for (const auto& entry : fs::directory_iterator(source)) {
    std::string name = entry.path().filename().string();
    if (name.starts_with("expected.") || name == "args" || name == "install" || name == "setup" ||
        name == "check" || name == "env" || name == "stdin") {
      continue;
    }
    fs::copy(entry.path(), work / name,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  }
  std::string binary = XMLPP_BINARY;
  if (fs::exists(source / "install")) {
    fs::create_directories(work / "inst" / "bin");
    fs::copy(source / "install", work / "inst", fs::copy_options::recursive);
    fs::copy_file(binary, work / "inst" / "bin" / "xmlpp");
    binary = (work / "inst" / "bin" / "xmlpp").string();
  }
  auto script = [&](const char* name) {
    return "cd '" + workText + "' && XMLPP='" + binary + "' sh '" + (source / name).string() + "'";
  };
  if (fs::exists(source / "setup")) {
    ASSERT_EQ(std::system(script("setup").c_str()), 0) << "setup failed";
  }
  if (fs::exists(source / "args")) {
    std::vector<std::string> args;
    std::istringstream lines(substitute(readFile(source / "args"), workText));
    for (std::string line; std::getline(lines, line);)
      args.push_back(line);
    runAndCompare(source, work, binary, args, "expected.");
    bool plain = false;
    for (const char* name : {"xml", "stderr", "stdout", "status"})
      plain = plain || fs::exists(source / (std::string("expected.plain.") + name));
    if (plain) {
      std::erase_if(args, [](const std::string& arg) { return arg.starts_with("--"); });
      fs::remove(work / "out.xml");
      runAndCompare(source, work, binary, args, "expected.plain.");
    }
  }
  if (fs::exists(source / "check")) {
    EXPECT_EQ(std::system(script("check").c_str()), 0) << "check failed";
  }
  if (!HasFailure()) fs::remove_all(work);
}

INSTANTIATE_TEST_SUITE_P(Cases, EndToEnd, ::testing::ValuesIn(caseNames()), [](const auto& info) {
  std::string name = info.param;
  for (char& c : name) {
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
});

}  // namespace
