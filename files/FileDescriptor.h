#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>
#include <utility>

// A system call that failed with ENOMEM ran out of memory like a failed allocation, and is
// reported the same way.
inline void throwIfOutOfMemory() {
  if (errno == ENOMEM) throw std::bad_alloc();
}

// An owned file descriptor, closed when the owner goes.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~FileDescriptor() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes the descriptor and reports whether closing succeeded (it can report a failed write).
  bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_ = -1;
};

// Which file a path or descriptor leads to, for telling whether two of them are the same file:
// the device and inode of an existing file, or, for a file still to be created, those of the
// directory it will be created in together with its name there.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  std::string name;  // empty for an existing file

  static FileIdentity of(const struct stat& info, std::string name = {}) {
    return {info.st_dev, info.st_ino, std::move(name)};
  }
  bool operator==(const FileIdentity&) const = default;
};
