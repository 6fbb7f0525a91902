#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "files/ByteSink.h"
#include "files/FilePath.h"
#include "files/OutputFile.h"
#include "files/SignalCleanup.h"

namespace {

TEST(FilePath, NormalizePath) {
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

class FilesTest : public ::testing::Test {
 protected:
  TempDir temp_{"xmlpp-files"};
  const std::filesystem::path& dir_ = temp_.path();
};

// Pieces of every size around the buffer's block, to a file and to memory: the bytes arrive whole
// and in order.
TEST_F(FilesTest, SinkKeepsEveryByteAcrossBlocks) {
  constexpr std::size_t kBlock = 1 << 20;
  const std::vector<std::size_t> sizes = {0,          1,     7,     kBlock - 1,    kBlock,
                                          kBlock + 1, 4096,  3,     3 * kBlock,    1,
                                          kBlock / 2, 12345, 65536, 2 * kBlock + 5};
  std::string expected;
  auto path = dir_ / "sink.bin";
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  {
    ByteSink toFile(fileno(file));
    ByteSink toMemory;
    char letter = 'a';
    for (std::size_t size : sizes) {
      std::string piece(size, letter);
      if (size) piece.back() = '|';
      expected += piece;
      toFile.append(piece);
      toMemory.append(piece);
      expected += std::string(size % 1000, ' ') + letter;
      toFile.spaces(size % 1000);
      toMemory.spaces(size % 1000);
      toFile.append(letter);
      toMemory.append(letter);
      letter = letter == 'z' ? 'a' : static_cast<char>(letter + 1);
    }
    toFile.spaces(kBlock + 3);
    toMemory.spaces(kBlock + 3);
    expected += std::string(kBlock + 3, ' ');
    EXPECT_FALSE(toFile.flush());
    EXPECT_EQ(toMemory.contents(), expected);
  }
  std::fclose(file);
  EXPECT_EQ(readFile(path), expected);
}

// A termination signal removes the registered temporary names (and only those) and still ends
// the process with that signal; one raised while the signals are held back takes effect only
// when they are released.
TEST_F(FilesTest, TerminationSignalRemovesRegisteredTemporaries) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    for (bool raiseWhileBlocked : {false, true}) {
      std::filesystem::remove_all(dir_);
      std::filesystem::create_directories(dir_);
      for (const char* name : {"registered", "unregistered", "other"})
        std::ofstream(dir_ / name) << name;
      pid_t pid = fork();
      if (pid == 0) {
        std::signal(signal, SIG_DFL);  // as the tool starts, whatever the test runner ignores
        int directory = open(dir_.c_str(), O_PATH | O_DIRECTORY);
        {
          TerminationSignalsBlocked blocked;
          registerTemporary(directory, "registered");
          unregisterTemporary(registerTemporary(directory, "unregistered"));
          if (raiseWhileBlocked) {
            raise(signal);
            std::ofstream(dir_ / "still-running") << "";
          }
        }
        raise(signal);
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      std::string label = std::to_string(signal) + (raiseWhileBlocked ? " blocked" : "");
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << label;
      EXPECT_FALSE(std::filesystem::exists(dir_ / "registered")) << label;
      EXPECT_TRUE(std::filesystem::exists(dir_ / "unregistered")) << label;
      EXPECT_TRUE(std::filesystem::exists(dir_ / "other")) << label;
      EXPECT_EQ(std::filesystem::exists(dir_ / "still-running"), raiseWhileBlocked) << label;
    }
  }
}

volatile sig_atomic_t handled = 0;
extern "C" void countSignal(int) {
  handled = handled + 1;
}

// A signal the program handles itself keeps its handler while temporaries are registered: it does
// not end the process, and removes nothing.
TEST_F(FilesTest, ProgramsOwnSignalHandlerIsKept) {
  std::ofstream(dir_ / "registered") << "";
  pid_t pid = fork();
  if (pid == 0) {
    std::signal(SIGALRM, countSignal);
    int directory = open(dir_.c_str(), O_PATH | O_DIRECTORY);
    {
      TerminationSignalsBlocked blocked;
      registerTemporary(directory, "registered");
    }
    raise(SIGALRM);
    _exit(handled == 1 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "registered"));
}

// The bits of a file whose owner or group could not be kept: nobody gains access.
TEST(OutputFile, NarrowedModeGivesNobodyMoreAccess) {
  struct Case {
    unsigned mode;
    bool ownerKept;
    bool groupKept;
    unsigned expected;
  } cases[] = {
      {0644, true, true, 0644},   {0640, true, false, 0600},  {0664, false, true, 0664},
      {0674, false, true, 0664},  {0662, false, false, 0222}, {0604, false, true, 0004},
      {0077, false, false, 0000}, {0755, true, false, 0755},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(narrowedMode(c.mode, c.ownerKept, c.groupKept), c.expected)
        << std::oct << c.mode << " " << c.ownerKept << c.groupKept;
  }
}

std::vector<std::string> hiddenNames(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename().string().front() == '.') names.push_back(entry.path().string());
  }
  return names;
}

// Finished files replace nothing until they are put in place, in order; where one cannot be, the
// files before it are in place, the others untouched, and no temporary file is left.
TEST_F(FilesTest, FilesReplaceTogetherInOrder) {
  for (bool secondFails : {false, true}) {
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    const auto first = dir_ / "first", second = dir_ / "second";
    std::ofstream(first) << "old";
    std::ofstream(second) << "old";
    {
      OutputFile a, b;
      ASSERT_FALSE(a.open(first.string()));
      ASSERT_FALSE(b.open(second.string()));
      for (OutputFile* file : {&a, &b}) {
        ASSERT_EQ(::write(file->fd(), "new", 3), 3);
        ASSERT_FALSE(file->finish());
      }
      EXPECT_EQ(readFile(first) + readFile(second), "oldold");
      EXPECT_EQ(hiddenNames(dir_).size(), 2u);
      if (secondFails) {
        std::filesystem::remove(second);
        std::filesystem::create_directories(second / "taken");
      }
      EXPECT_EQ(static_cast<bool>(replaceInOrder({&a, &b})), secondFails);
    }
    EXPECT_EQ(readFile(first), "new");
    EXPECT_EQ(std::filesystem::is_directory(second) ? "taken" : readFile(second),
              secondFails ? "taken" : "new");
    EXPECT_EQ(hiddenNames(dir_), std::vector<std::string>{});
  }
}

// A termination signal between finishing a file and putting it in place removes the temporary
// name it was finished under, and replaces nothing.
TEST_F(FilesTest, SignalAfterFinishLeavesTheTargetAlone) {
  const auto target = dir_ / "out";
  std::ofstream(target) << "old";
  pid_t pid = fork();
  if (pid == 0) {
    std::signal(SIGTERM, SIG_DFL);
    OutputFile file;
    if (file.open(target.string()) || ::write(file.fd(), "new", 3) != 3 || file.finish()) _exit(1);
    raise(SIGTERM);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_EQ(readFile(target), "old");
  EXPECT_EQ(hiddenNames(dir_), std::vector<std::string>{});
}

}  // namespace
