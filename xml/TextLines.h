#pragma once

// Where a byte of a text stands: its line and its column, counted the one way every part of the
// tool counts them (messages, --locations, the trace, SARIF and the language server). A line
// ends at a line feed, a carriage return, or a carriage return and a line feed together. Lines
// count from 0; byte and code point columns from 1, UTF-16 columns (the language server
// protocol's) from 0. A byte that starts no valid UTF-8 sequence is one code point and one unit;
// a four-byte character is two units; a position inside a character stands for that character.
//
// The line starts are found on the first question, in one pass over the text; a line then costs
// a binary search. Code point and UTF-16 columns count from checkpoints taken every few KiB along
// the text, so one costs a bounded scan however long its line is: k positions in a text of n
// bytes cost O(n + k log n). The text is not owned; whoever changes it tells the index (replaced).

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class TextLines {
 public:
  explicit TextLines(std::string_view text = {}) : text_(text) {}

  std::string_view text() const { return text_; }
  std::size_t lineCount() const { return starts().size(); }
  // The line of a byte offset (one past the end: the last line).
  std::int32_t lineOf(std::size_t offset) const;
  // Where a line starts, and where its content ends (before its line end); a line past the last
  // starts and ends at the end of the text.
  std::size_t lineStart(std::size_t line) const;
  std::size_t lineEnd(std::size_t line) const;
  // The column of a byte offset in bytes, from 1.
  std::int32_t byteColumn(std::size_t offset) const {
    return static_cast<std::int32_t>(offset - lineStart(static_cast<std::size_t>(lineOf(offset))) +
                                     1);
  }
  // The column, in code points from 1, of the byte column `byteColumn` (from 1) of `line`; 0 when
  // there is no such line, or the column lies past the line's content.
  std::int32_t codePointColumn(std::size_t line, std::int32_t byteColumn) const;
  // The UTF-16 units before `offset` on its line (an offset inside a character: before that
  // character), and the offset of `units` units into `line` (past its content: its end; inside a
  // character that takes two units: that character's start).
  std::int64_t utf16Column(std::size_t offset) const;
  std::size_t offsetOfUtf16(std::size_t line, std::int64_t units) const;

  // The text changed: its bytes [start, end) were replaced by `length` bytes, and `text` is what
  // it is now. What stands before the change is kept, what follows is shifted.
  void replaced(std::string_view text, std::size_t start, std::size_t end, std::size_t length);
  // The same bytes now stand at `text` (their owner moved them).
  void moved(std::string_view text) { text_ = text; }

 private:
  // The characters that start before `offset`, counted from the start of the text.
  struct Count {
    std::uint64_t codePoints = 0;
    std::uint64_t units = 0;
    std::size_t inside = 0;  // the units of the character `offset` falls inside, or 0
  };
  struct Checkpoint {
    std::size_t offset;  // a character's first byte
    std::uint64_t codePoints;
    std::uint64_t units;
  };
  static constexpr std::size_t kCheckpointEvery = 4096;

  const std::vector<std::size_t>& starts() const;
  // The characters from `from`, a character's first byte, up to `offset`; from the start of the
  // text; and from `start`, a line's start, up to `offset` on that line.
  Count countBetween(std::size_t from, std::size_t offset) const;
  Count countBefore(std::size_t offset) const;
  Count countOnLine(std::size_t start, std::size_t offset) const;
  // Checkpoints as far as `offset`.
  void checkpointsTo(std::size_t offset) const;

  std::string_view text_;
  // Built when first needed: a question about a text changes nothing it answers.
  mutable std::vector<std::size_t> starts_;
  mutable std::vector<Checkpoint> checkpoints_;
};
