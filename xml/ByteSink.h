#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

// An output buffer that writes to a file descriptor in large blocks, or collects everything in
// memory when it has none. Write errors are remembered and reported by `flush`.
class ByteSink {
 public:
  explicit ByteSink(int fd = -1) : fd_(fd) {
    if (fd_ >= 0) buffer_.reserve(kBlock + 4096);
  }

  void append(std::string_view bytes) {
    buffer_.append(bytes);
    if (fd_ >= 0 && buffer_.size() >= kBlock) flush();
  }
  void append(char byte) {
    buffer_.push_back(byte);
    if (fd_ >= 0 && buffer_.size() >= kBlock) flush();
  }
  void spaces(std::size_t count) {
    buffer_.append(count, ' ');
    if (fd_ >= 0 && buffer_.size() >= kBlock) flush();
  }
  // Writes out what is buffered; false once any write has failed.
  bool flush();

  // Everything written so far, for a sink without a file.
  const std::string& contents() const { return buffer_; }

 private:
  static constexpr std::size_t kBlock = 1 << 20;
  int fd_;
  bool failed_ = false;
  std::string buffer_;
};
