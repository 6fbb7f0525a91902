#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "diagnostics/Diagnostic.h"
#include "files/FileDescriptor.h"

// Reads a whole input: the file `name`, or standard input when the name is "-". The bytes are
// copied into blocks that `allocateBlock` gives (each of the size asked, living as long as the text
// is used), so the text stays as it was read whatever happens to the file afterwards: an input
// that shrinks, grows or is replaced while it is read yields what was read. Reading stops at the
// first NUL byte of a stream without a size (such as /dev/zero). Fails with "couldn't read NAME"
// and the system's reason when the input cannot be opened or read (a directory, a read error);
// throws std::bad_alloc when memory runs out, the system's ENOMEM included.
Expected<std::span<char>> readInputFile(const std::string& name,
                                        const std::function<char*(std::size_t)>& allocateBlock);

// Reads a whole regular file of at most `limit` bytes, for a reader that must never wait: the
// name is checked before it is opened, and opened without blocking, so that a FIFO, a device, a
// socket, a folder or standard input (/dev/stdin, /proc/self/fd/0) is refused, not read. Fails
// with "couldn't read NAME", and the system's reason or what the file is ("a FIFO, not a regular
// file") or "larger than LIMIT bytes".
Expected<std::string> readRegularFile(const std::string& name, std::size_t limit);

// The file an input name reads ("-": standard input), or nothing when it cannot be found.
std::optional<FileIdentity> inputIdentity(const std::string& name);

// Reads a regular file a window at a time, for a reader that needs only the part of the text it
// has not finished with: a large input then costs a window of memory, not its size. A NUL byte
// ends the text, as it does for a whole read.
class InputWindow {
 public:
  // Opens `name` when it is a regular file larger than `atLeast` bytes, and reads the first
  // window; false, with nothing read, for any other file (`readInputFile` then reads it, and
  // reports what went wrong), and false on a read error.
  bool open(const std::string& name, std::size_t atLeast);
  // Moves the bytes from `keep` to the end of the window to its front and reads after them until
  // the window is full or the text ends. When `keep` is its front and it is full, the window
  // grows first to hold the rest of the file. False on a read error.
  bool refill(const char* keep);
  char* begin() const { return buffer_.get(); }
  char* end() const { return buffer_.get() + size_; }
  // Whether the window holds the rest of the text.
  bool atEnd() const { return atEnd_; }
  // Whether the text ended at a NUL byte (the file goes on after it, unread).
  bool endedAtNul() const { return endedAtNul_; }

 private:
  static constexpr std::size_t kFirstSize = 1 << 20;
  FileDescriptor file_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
  std::size_t fileSize_ = 0;  // when it was opened
  std::size_t consumed_ = 0;  // bytes read from the file
  bool atEnd_ = false;
  bool endedAtNul_ = false;
};
