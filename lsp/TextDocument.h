#pragma once

// An open document's text as the client edits it, and the conversion between the protocol's
// positions (a line, and a count of UTF-16 code units within it) and byte offsets, through the
// text's line index (TextLines), which follows each edit rather than being built again.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "xml/TextLines.h"

struct TextPosition {
  std::int64_t line = 0;
  std::int64_t character = 0;  // UTF-16 code units from the line's start
  bool operator==(const TextPosition&) const = default;
};

struct TextRange {
  TextPosition start;
  TextPosition end;
};

// The byte offset of a position in the text `lines` indexes: a line past the last is the end of
// the text; a character past the line's end is the line's end (before its line end); one inside
// a character that takes two code units is that character's start. And the position of a byte
// offset (one inside a character is that character's start).
std::size_t offsetOf(const TextLines& lines, TextPosition position);
TextPosition positionOf(const TextLines& lines, std::size_t offset);

// A text the document owns and its line index, which views it.
class IndexedText {
 public:
  explicit IndexedText(std::string text) : text_(std::move(text)), lines_(text_) {}
  IndexedText(const IndexedText&) = delete;
  IndexedText& operator=(const IndexedText&) = delete;
  IndexedText(IndexedText&& other) noexcept
      : text_(std::move(other.text_)), lines_(std::move(other.lines_)) {
    lines_.moved(text_);
  }
  IndexedText& operator=(IndexedText&& other) noexcept {
    text_ = std::move(other.text_);
    lines_ = std::move(other.lines_);
    lines_.moved(text_);
    return *this;
  }

  const std::string& text() const { return text_; }
  const TextLines& lines() const { return lines_; }
  std::size_t offsetOf(TextPosition position) const { return ::offsetOf(lines_, position); }
  TextPosition positionOf(std::size_t offset) const { return ::positionOf(lines_, offset); }
  // Replaces the bytes [start, end) by `replacement`.
  void replace(std::size_t start, std::size_t end, std::string_view replacement);

 private:
  std::string text_;
  TextLines lines_;
};

class TextDocument {
 public:
  TextDocument(std::string text, std::int64_t version)
      : text_(std::move(text)), version_(version) {}

  const std::string& text() const { return text_.text(); }
  std::int64_t version() const { return version_; }
  const TextLines& lines() const { return text_.lines(); }

  // Replaces the range (the whole text without one) by `replacement`. A range whose end is
  // before its start is taken with its ends swapped.
  void change(const std::optional<TextRange>& range, std::string_view replacement);
  void setVersion(std::int64_t version) { version_ = version; }

  std::size_t offsetOf(TextPosition position) const { return text_.offsetOf(position); }
  TextPosition positionOf(std::size_t offset) const { return text_.positionOf(offset); }

 private:
  IndexedText text_;
  std::int64_t version_;
};
