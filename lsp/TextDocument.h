#pragma once

// An open document's text as the client edits it, and the conversion between the protocol's
// positions (a line, and a count of UTF-16 code units within it) and byte offsets. Lines end at
// LF, CR LF or a lone CR, as the protocol counts them. The text is bytes: a byte that starts no
// valid UTF-8 sequence counts as one code unit, a four-byte sequence as two (a surrogate pair).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TextPosition {
  std::int64_t line = 0;
  std::int64_t character = 0;  // UTF-16 code units from the line's start
  bool operator==(const TextPosition&) const = default;
};

struct TextRange {
  TextPosition start;
  TextPosition end;
};

// Where each line of a text starts, to convert positions and offsets.
class LineIndex {
 public:
  LineIndex() : starts_{0} {}
  explicit LineIndex(std::string_view text);

  std::size_t lineCount() const { return starts_.size(); }
  // The byte offset of a position: a line past the last is the end of the text; a character past
  // the line's end is the line's end (before its line end); one inside a character that takes
  // two code units is that character's start.
  std::size_t offsetOf(std::string_view text, TextPosition position) const;
  // The position of a byte offset (one inside a character is that character's start).
  TextPosition positionOf(std::string_view text, std::size_t offset) const;

 private:
  // The end of line `line`'s content, before its line end.
  std::size_t contentEnd(std::string_view text, std::size_t line) const;
  std::vector<std::size_t> starts_;
};

// The length in bytes of the UTF-8 sequence starting at `text[at]` and its UTF-16 length: a byte
// that starts no valid sequence is one byte, one unit.
struct CharacterSize {
  std::size_t bytes;
  std::size_t units;
};
CharacterSize characterAt(std::string_view text, std::size_t at);

class TextDocument {
 public:
  TextDocument(std::string text, std::int64_t version)
      : text_(std::move(text)), version_(version), lines_(text_) {}

  const std::string& text() const { return text_; }
  std::int64_t version() const { return version_; }
  const LineIndex& lines() const { return lines_; }

  // Replaces the range (the whole text without one) by `replacement`. A range whose end is
  // before its start is taken with its ends swapped.
  void change(const std::optional<TextRange>& range, std::string_view replacement);
  void setVersion(std::int64_t version) { version_ = version; }

  std::size_t offsetOf(TextPosition position) const { return lines_.offsetOf(text_, position); }
  TextPosition positionOf(std::size_t offset) const { return lines_.positionOf(text_, offset); }

 private:
  std::string text_;
  std::int64_t version_;
  LineIndex lines_;
};
