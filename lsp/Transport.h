#pragma once

// The framing of the language server's messages: each is a header block ("Content-Length: N",
// possibly "Content-Type: ...", each line ended by CR LF, then an empty line) and N bytes of
// JSON. The reader tolerates what a confused or hostile client may send: bytes that are no
// header, a missing or impossible length, lines or bodies over the limits. It drops them, says
// why, and goes on at the next header block it recognises.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

class MessageReader {
 public:
  // Reads up to `size` bytes into `buffer`: the count read, 0 at the end of the input (a read
  // error counts as the end).
  using Read = std::function<std::size_t(char* buffer, std::size_t size)>;

  static constexpr std::size_t kMaxHeaderLine = 4096;
  static constexpr std::size_t kMaxBody = std::size_t{64} << 20;

  explicit MessageReader(Read read) : read_(std::move(read)) {}

  struct Message {
    bool end = false;  // the input ended: `body` is empty
    std::string body;
    // Why the bytes before this message (or before the end) were dropped; empty when none were.
    std::string dropped;
  };
  // The next message, or the end of the input.
  Message next();
  // Whether bytes already read wait in the buffer (the start of a further message, perhaps).
  bool buffered() const { return pos_ < buffer_.size(); }

 private:
  enum class LineKind { Line, Overlong, End };
  // The next header line, without its line end (LF or CR LF). An overlong line is skipped to its
  // end.
  LineKind readLine(std::string& line);
  // Makes at least `count` bytes available after pos_; false when the input ends first.
  bool fill(std::size_t count);
  // Drops `count` bytes of input, buffered or not; false when the input ends first.
  bool skip(std::size_t count);
  // Reads one header line into the block being parsed; false at the end of the block.
  bool headerLine(const std::string& line, Message& message, bool& haveLength, std::size_t& length);

  Read read_;
  std::string buffer_;
  std::size_t pos_ = 0;
};

// The framed form of a message body.
std::string frameMessage(std::string_view body);
