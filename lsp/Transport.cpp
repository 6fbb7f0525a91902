#include "Transport.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

constexpr std::string_view kLengthHeader = "content-length:";

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// Where a Content-Length header starts in a line that holds other bytes before it (what is left
// of a dropped body or of garbage), or npos.
std::size_t embeddedLengthHeader(std::string_view line, std::size_t from = 0) {
  for (std::size_t at = line.find_first_of("Cc", from); at != std::string_view::npos;
       at = line.find_first_of("Cc", at + 1)) {
    if (startsWithNoCase(line.substr(at), kLengthHeader)) return at;
  }
  return std::string_view::npos;
}

void addReason(std::string& reasons, std::string_view reason) {
  if (reasons.find(reason) != std::string::npos) return;
  if (!reasons.empty()) reasons += "; ";
  reasons += reason;
}

}  // namespace

bool MessageReader::fill(std::size_t count) {
  if (pos_ > 0 && pos_ >= buffer_.size() / 2) {
    buffer_.erase(0, pos_);
    pos_ = 0;
  }
  while (buffer_.size() - pos_ < count) {
    char chunk[65536];
    const std::size_t got = read_(chunk, sizeof chunk);
    if (got == 0) return false;
    buffer_.append(chunk, got);
  }
  return true;
}

bool MessageReader::skip(std::size_t count) {
  while (count > 0) {
    if (pos_ == buffer_.size() && !fill(1)) return false;
    const std::size_t step = std::min(count, buffer_.size() - pos_);
    pos_ += step;
    count -= step;
  }
  return true;
}

MessageReader::LineKind MessageReader::readLine(std::string& line) {
  std::size_t searched = 0;
  while (true) {
    const std::size_t end = buffer_.find('\n', pos_ + searched);
    if (end != std::string::npos && end - pos_ <= kMaxHeaderLine) {
      std::size_t length = end - pos_;
      if (length > 0 && buffer_[pos_ + length - 1] == '\r') --length;
      line.assign(buffer_, pos_, length);
      pos_ = end + 1;
      return LineKind::Line;
    }
    if (buffer_.size() - pos_ > kMaxHeaderLine) {
      // Too long for a header: drop it up to its line end, but keep a header that follows
      // garbage on the same line (the first byte is dropped in any case, so that a long line
      // that starts with a header is not read again).
      std::size_t from = 1;
      while (true) {
        const std::string_view text(buffer_.data() + pos_, buffer_.size() - pos_);
        const std::size_t lineEnd = text.find('\n');
        const std::size_t header = embeddedLengthHeader(
            text.substr(0, lineEnd == std::string_view::npos ? text.size() : lineEnd), from);
        if (header != std::string_view::npos) {
          pos_ += header;
          return LineKind::Overlong;
        }
        if (lineEnd != std::string_view::npos) {
          pos_ += lineEnd + 1;
          return LineKind::Overlong;
        }
        // Keep what could be the start of a header cut by the end of the buffer.
        const std::size_t keep = std::min(text.size(), kLengthHeader.size() - 1);
        pos_ = buffer_.size() - keep;
        from = 0;
        if (!fill(keep + 1)) {
          pos_ = buffer_.size();
          return LineKind::End;
        }
      }
    }
    searched = buffer_.size() - pos_;
    if (!fill(searched + 1)) {
      pos_ = buffer_.size();
      return LineKind::End;
    }
  }
}

bool MessageReader::headerLine(const std::string& line, Message& message, bool& haveLength,
                               std::size_t& length) {
  std::string_view text = line;
  if (startsWithNoCase(text, kLengthHeader)) {
    std::string_view value = text.substr(kLengthHeader.size());
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
      value.remove_suffix(1);
    std::size_t parsed = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
    if (error != std::errc() || end != value.data() + value.size() || value.empty()) {
      addReason(message.dropped, "a Content-Length that is not a number");
      haveLength = false;
      return true;
    }
    haveLength = true;
    length = parsed;
    return true;
  }
  const std::size_t colon = text.find(':');
  const bool headerName = colon != std::string_view::npos && colon > 0 &&
                          text.substr(0, colon).find_first_of(" \t{}\"") == std::string_view::npos;
  if (!headerName) addReason(message.dropped, "bytes that are no header");
  return true;
}

MessageReader::Message MessageReader::next() {
  Message message;
  while (true) {
    bool haveLength = false;
    bool anyLine = false;
    std::size_t length = 0;
    std::string line;
    while (true) {
      const LineKind kind = readLine(line);
      if (kind == LineKind::End) {
        if (anyLine) addReason(message.dropped, "the input ended inside a header");
        message.end = true;
        return message;
      }
      if (kind == LineKind::Overlong) {
        addReason(message.dropped, "a header line over 4096 bytes");
        haveLength = false;
        continue;
      }
      if (line.empty()) {
        if (anyLine) break;
        continue;  // blank lines between messages
      }
      if (!startsWithNoCase(line, kLengthHeader)) {
        // A header may follow garbage on its line: the garbage is dropped, the header read.
        const std::size_t header = embeddedLengthHeader(line);
        if (header != std::string_view::npos) {
          addReason(message.dropped, "bytes that are no header");
          line.erase(0, header);
          haveLength = false;
        }
      }
      anyLine = true;
      headerLine(line, message, haveLength, length);
    }
    if (!haveLength) {
      addReason(message.dropped, "a header without Content-Length");
      continue;
    }
    if (length > kMaxBody) {
      addReason(message.dropped, "a body over 64 MiB");
      if (!skip(length)) {
        message.end = true;
        return message;
      }
      continue;
    }
    if (!fill(length)) {
      addReason(message.dropped, "the input ended inside a body");
      pos_ = buffer_.size();
      message.end = true;
      return message;
    }
    message.body.assign(buffer_, pos_, length);
    pos_ += length;
    return message;
  }
}

std::string frameMessage(std::string_view body) {
  std::string framed = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  framed.append(body);
  return framed;
}
