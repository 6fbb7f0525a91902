#include "files/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "files/ByteSink.h"

namespace {

// One read, again when a signal interrupted it; -1 on an error (out of memory is thrown).
ssize_t readRetrying(int fd, char* into, std::size_t size) {
  while (true) {
    const ssize_t n = ::read(fd, into, size);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    throwIfOutOfMemory();
    return -1;
  }
}

// Reads from the descriptor until its end, appending to `data`; false on a read error.
// A NUL byte ends the text, so reading stops there: a stream such as /dev/zero ends at once.
bool readToEnd(int fd, std::string& data) {
  char chunk[65536];
  while (true) {
    const ssize_t n = readRetrying(fd, chunk, sizeof chunk);
    if (n < 0) return false;
    if (n == 0) return true;
    if (const void* nul = std::memchr(chunk, '\0', static_cast<std::size_t>(n))) {
      data.append(chunk, static_cast<const char*>(nul) - chunk);
      return true;
    }
    data.append(chunk, static_cast<std::size_t>(n));
  }
}

}  // namespace

Expected<std::span<char>> readInputFile(const std::string& name,
                                        const std::function<char*(std::size_t)>& allocateBlock) {
  auto failure = [&](int reason) {
    return Diagnostic::failure("couldn't read " + name, {}, reason);
  };
  bool standardInput = name == "-";
  FileDescriptor opened;
  if (!standardInput) {
    opened.reset(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    if (!opened) {
      throwIfOutOfMemory();
      return failure(errno);
    }
  }
  int fd = standardInput ? STDIN_FILENO : opened.get();
  struct stat info {};
  if (::fstat(fd, &info) != 0) return failure(errno);
  if (S_ISDIR(info.st_mode)) return failure(EISDIR);
  // A regular file is read straight into a block of its size (standard input from where it
  // stands), in as few reads as it takes; large blocks are backed by huge pages (the document's
  // arena), which makes this copy about as cheap as mapping the file, and unlike a mapping it
  // cannot fault when the file is truncated meanwhile. Anything that turns up beyond that size, and
  // streams without a size (pipes), are read to their end and then copied into the document.
  std::size_t expected = 0;
  if (S_ISREG(info.st_mode)) {
    off_t at = standardInput ? ::lseek(fd, 0, SEEK_CUR) : 0;
    if (at >= 0 && at < info.st_size) expected = static_cast<std::size_t>(info.st_size - at);
  }
  char* buffer = expected ? allocateBlock(expected) : nullptr;
  std::size_t size = 0;
  while (size < expected) {
    const ssize_t n = readRetrying(fd, buffer + size, expected - size);
    if (n < 0) return failure(errno);
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  std::string rest;
  if (!readToEnd(fd, rest)) return failure(errno);
  if (!rest.empty()) {
    char* whole = allocateBlock(size + rest.size());
    if (size) std::memcpy(whole, buffer, size);
    std::memcpy(whole + size, rest.data(), rest.size());
    buffer = whole;
    size += rest.size();
  }
  return std::span<char>(buffer, size);
}

std::optional<FileIdentity> inputIdentity(const std::string& name) {
  struct stat info {};
  int status = name == "-" ? ::fstat(STDIN_FILENO, &info) : ::stat(name.c_str(), &info);
  if (status != 0) return std::nullopt;
  return FileIdentity::of(info);
}

bool InputWindow::open(const std::string& name, std::size_t atLeast) {
  // Only a regular file is opened: opening a FIFO would wait for its writer, and the whole read
  // that follows would then find it gone. (Without blocking, should the name change meanwhile.)
  struct stat named {};
  if (::stat(name.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) return false;
  file_.reset(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file_) {
    throwIfOutOfMemory();
    return false;
  }
  struct stat info {};
  if (::fstat(file_.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::size_t>(info.st_size) <= atLeast) {
    return false;
  }
  fileSize_ = static_cast<std::size_t>(info.st_size);
  buffer_ = uninitializedBuffer(kFirstSize);
  capacity_ = kFirstSize;
  return refill(buffer_.get());
}

bool InputWindow::refill(const char* keep) {
  const auto kept = static_cast<std::size_t>(end() - keep);
  if (kept == capacity_) {
    // What the reader keeps fills the window: the window takes the rest of the file at once (it
    // was as large when the reading began), so that a large child is read again once, not once
    // for every doubling.
    const std::size_t rest = fileSize_ > consumed_ ? fileSize_ - consumed_ : 0;
    const std::size_t larger = std::max(capacity_ * 2, kept + rest + 1);
    auto buffer = uninitializedBuffer(larger);
    std::memcpy(buffer.get(), keep, kept);
    buffer_ = std::move(buffer);
    capacity_ = larger;
  } else if (kept) {
    std::memmove(buffer_.get(), keep, kept);
  }
  size_ = kept;
  while (size_ < capacity_ && !atEnd_) {
    char* into = buffer_.get() + size_;
    const ssize_t n = readRetrying(file_.get(), into, capacity_ - size_);
    if (n < 0) return false;
    if (n == 0) {
      atEnd_ = true;
      break;
    }
    consumed_ += static_cast<std::size_t>(n);
    if (const void* nul = std::memchr(into, '\0', static_cast<std::size_t>(n))) {
      size_ += static_cast<std::size_t>(static_cast<const char*>(nul) - into);
      atEnd_ = true;
      endedAtNul_ = true;
      break;
    }
    size_ += static_cast<std::size_t>(n);
  }
  return true;
}

namespace {

// What a file that is not a regular file is, for a message.
const char* fileKind(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "no regular file";
}

}  // namespace

Expected<std::string> readRegularFile(const std::string& name, std::size_t limit) {
  auto failure = [&](int reason, const std::string& what = {}) {
    return Diagnostic::failure("couldn't read " + name + what, {}, reason);
  };
  auto tooLarge = [&] { return failure(0, ": larger than " + std::to_string(limit) + " bytes"); };
  struct stat info {};
  // The name is looked at first: opening a FIFO or some devices waits, or acts on the device.
  if (name == "-") return failure(0, ": standard input, not a regular file");
  if (::stat(name.c_str(), &info) != 0) return failure(errno);
  if (!S_ISREG(info.st_mode))
    return failure(0, std::string(": ") + fileKind(info.st_mode) + ", not a regular file");
  if (static_cast<std::uintmax_t>(info.st_size) > limit) return tooLarge();
  FileDescriptor file(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!file) return failure(errno);
  // The name may have been replaced between the two looks: what was opened is checked again.
  if (::fstat(file.get(), &info) != 0) return failure(errno);
  if (!S_ISREG(info.st_mode))
    return failure(0, std::string(": ") + fileKind(info.st_mode) + ", not a regular file");
  if (static_cast<std::uintmax_t>(info.st_size) > limit) return tooLarge();
  std::string text(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t size = 0;
  // A file that grew since fstat is read up to one byte past the limit, to tell it is too large.
  for (;;) {
    if (size == text.size()) {
      if (size > limit) return tooLarge();
      text.resize(std::min(limit + 1, std::max<std::size_t>(2 * size, 4096)));
    }
    const ssize_t n = ::read(file.get(), text.data() + size, text.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failure(errno);
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  if (size > limit) return tooLarge();
  text.resize(size);
  return text;
}
