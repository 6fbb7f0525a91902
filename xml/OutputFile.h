#pragma once

#include <string>

// Writes a file so that readers see either the old contents or the complete new ones: the bytes go
// to a temporary file in the target's directory, which replaces the target only on `commit`.
// A symbolic link is followed, so its target is replaced and the link stays. Targets that are not
// regular files (devices such as /dev/null or /dev/full, pipes) are written directly. Without a
// commit the temporary file is removed and an existing target is left as it was.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  bool open(const std::string& path);
  int fd() const { return fd_; }
  // Flushes, closes and renames the temporary file over the target; false on any failure.
  bool commit();

 private:
  int fd_ = -1;
  std::string target_;
  std::string temporary_;  // empty when writing the target directly
  unsigned mode_ = 0;
};
