#include "files/ByteSink.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "files/OutputFile.h"

ByteSink::ByteSink(int fd, std::string name) : fd_(fd), name_(std::move(name)) {
  const std::size_t size = fd_ >= 0 ? kBlock : 4096;
  buffer_ = uninitializedBuffer(size);
  cursor_ = buffer_.get();
  end_ = cursor_ + size;
}

bool ByteSink::writeOut(const char* data, std::size_t size) {
  std::size_t done = 0;
  while (!failed_ && done < size) {
    ssize_t n = ::write(fd_, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      systemError_ = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  return !failed_;
}

Failure ByteSink::flush() {
  if (fd_ >= 0) {
    writeOut(buffer_.get(), static_cast<std::size_t>(cursor_ - buffer_.get()));
    cursor_ = buffer_.get();
  }
  if (!failed_) return std::nullopt;
  return Diagnostic::failure("couldn't write " + name_, {}, systemError_);
}

void ByteSink::makeRoom(std::size_t size) {
  if (fd_ >= 0) {
    flush();
    if (size <= static_cast<std::size_t>(end_ - cursor_)) return;
  }
  const std::size_t used = static_cast<std::size_t>(cursor_ - buffer_.get());
  const std::size_t capacity = static_cast<std::size_t>(end_ - buffer_.get());
  std::size_t grown = capacity * 2;
  if (grown < used + size) grown = used + size;
  auto bigger = uninitializedBuffer(grown);
  if (used) std::memcpy(bigger.get(), buffer_.get(), used);
  buffer_ = std::move(bigger);
  cursor_ = buffer_.get() + used;
  end_ = buffer_.get() + grown;
}

void ByteSink::appendSlow(std::string_view bytes) {
  if (fd_ >= 0 && bytes.size() >= kBlock) {
    // Too large to be worth copying: what is buffered goes first, then the bytes themselves.
    flush();
    writeOut(bytes.data(), bytes.size());
    return;
  }
  makeRoom(bytes.size());
  std::memcpy(cursor_, bytes.data(), bytes.size());
  cursor_ += bytes.size();
}

void ByteSink::spacesSlow(std::size_t count) {
  // A deep level asks for more spaces than a block holds: write them a block at a time.
  while (count > 0) {
    if (cursor_ == end_) makeRoom(1);
    const std::size_t chunk = std::min(count, static_cast<std::size_t>(end_ - cursor_));
    std::memset(cursor_, ' ', chunk);
    cursor_ += chunk;
    count -= chunk;
  }
}

Failure writeWhole(OutputFile& file, const std::string& path, std::string_view text) {
  if (Failure failure = file.open(path)) return failure;
  ByteSink sink(file.fd(), file.path());
  sink.append(text);
  if (Failure failure = sink.flush()) return failure;
  return file.finish();
}
