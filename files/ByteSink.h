#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "diagnostics/Diagnostic.h"

class OutputFile;

// Opens `file` at `path`, writes `text` as the whole of it and finishes it (OutputFile::finish:
// nothing is put in place yet).
Failure writeWhole(OutputFile& file, const std::string& path, std::string_view text);

// A buffer of `size` bytes left uninitialized, to be written before it is read
// (std::make_unique_for_overwrite, which not every standard library the tool is built with has).
inline std::unique_ptr<char[]> uninitializedBuffer(std::size_t size) {
  return std::unique_ptr<char[]>(new char[size]);
}

// An output buffer that writes to a file descriptor in large blocks, or collects everything in
// memory when it has none. Appending is a bounds check and a copy into the buffer; only a full
// buffer leaves the inline path. Write errors are remembered and reported by `flush`, as
// "couldn't write NAME" with the system's reason.
class ByteSink {
 public:
  explicit ByteSink(int fd = -1, std::string name = {});
  ByteSink(const ByteSink&) = delete;
  ByteSink& operator=(const ByteSink&) = delete;

  void append(std::string_view bytes) {
    if (bytes.size() > static_cast<std::size_t>(end_ - cursor_)) return appendSlow(bytes);
    if (!bytes.empty()) std::memcpy(cursor_, bytes.data(), bytes.size());
    cursor_ += bytes.size();
  }
  void append(char byte) {
    if (cursor_ == end_) makeRoom(1);
    *cursor_++ = byte;
  }
  void spaces(std::size_t count) {
    if (count > static_cast<std::size_t>(end_ - cursor_)) return spacesSlow(count);
    std::memset(cursor_, ' ', count);
    cursor_ += count;
  }
  // Room for `size` more bytes at the cursor (what is buffered is written out first when they do
  // not fit), or null when more than a block is asked for. The caller writes its bytes there and
  // hands the end of what it wrote to `advanceTo`; nothing else may come in between.
  char* room(std::size_t size) {
    if (size <= static_cast<std::size_t>(end_ - cursor_)) return cursor_;
    if (size > kBlock) return nullptr;
    makeRoom(size);
    return cursor_;
  }
  void advanceTo(char* end) { cursor_ = end; }
  // Writes out what is buffered; fails once any write has failed, with the reason the first
  // failed (ENOSPC for a write that wrote nothing).
  Failure flush();
  // Whether a write of a full buffer has failed (what is still buffered is not written).
  bool failed() const { return failed_; }

  // Everything written so far, for a sink without a file.
  std::string_view contents() const {
    return std::string_view(buffer_.get(), static_cast<std::size_t>(cursor_ - buffer_.get()));
  }

 private:
  static constexpr std::size_t kBlock = 1 << 20;

  // Makes room for at least `size` more bytes: a file sink writes its buffer out, a memory sink
  // grows it.
  void makeRoom(std::size_t size);
  void appendSlow(std::string_view bytes);
  void spacesSlow(std::size_t count);
  bool writeOut(const char* data, std::size_t size);

  int fd_;
  std::string name_;
  bool failed_ = false;
  int systemError_ = 0;
  std::unique_ptr<char[]> buffer_;
  char* cursor_ = nullptr;
  char* end_ = nullptr;
};
