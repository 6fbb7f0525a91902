#include "xml/TextLines.h"

#include <algorithm>

#include "diagnostics/JsonText.h"

namespace {

// Whether a line starts at `at`: the byte before it ends a line (a line feed, or a carriage
// return not followed by a line feed).
bool startsLine(std::string_view text, std::size_t at) {
  if (at == 0 || at > text.size()) return false;
  const char before = text[at - 1];
  return before == '\n' || (before == '\r' && (at == text.size() || text[at] != '\n'));
}

// The bytes and UTF-16 units of the character at `at`.
struct Character {
  std::size_t bytes;
  std::uint64_t units;
};
Character characterAt(std::string_view text, std::size_t at) {
  const std::size_t length = utf8SequenceLength(text, at);
  if (length == 0) return {1, 1};
  return {length, length == 4 ? 2u : 1u};
}

}  // namespace

const std::vector<std::size_t>& TextLines::starts() const {
  if (starts_.empty()) {
    starts_.push_back(0);
    const char* const begin = text_.data();
    const std::size_t size = text_.size();
    for (std::size_t i = 0; i < size; ++i) {
      const char c = begin[i];
      if (c != '\n' && c != '\r') continue;
      if (c == '\r' && i + 1 < size && begin[i + 1] == '\n') ++i;
      starts_.push_back(i + 1);
    }
  }
  return starts_;
}

std::int32_t TextLines::lineOf(std::size_t offset) const {
  const std::vector<std::size_t>& lines = starts();
  const auto after = std::upper_bound(lines.begin(), lines.end(), offset);
  return static_cast<std::int32_t>(after - lines.begin() - 1);
}

std::size_t TextLines::lineStart(std::size_t line) const {
  const std::vector<std::size_t>& lines = starts();
  return line < lines.size() ? lines[line] : text_.size();
}

std::size_t TextLines::lineEnd(std::size_t line) const {
  const std::vector<std::size_t>& lines = starts();
  if (line + 1 >= lines.size()) return text_.size();
  std::size_t end = lines[line + 1] - 1;  // the line feed or lone carriage return
  if (end > lines[line] && text_[end] == '\n' && text_[end - 1] == '\r') --end;
  return end;
}

void TextLines::checkpointsTo(std::size_t offset) const {
  if (checkpoints_.empty()) checkpoints_.push_back({0, 0, 0});
  Checkpoint last = checkpoints_.back();
  offset = std::min(offset, text_.size());
  while (last.offset + kCheckpointEvery <= offset) {
    const std::size_t target = last.offset + kCheckpointEvery;
    while (last.offset < target) {
      const Character c = characterAt(text_, last.offset);
      last.offset += c.bytes;
      ++last.codePoints;
      last.units += c.units;
    }
    checkpoints_.push_back(last);
  }
}

TextLines::Count TextLines::countBetween(std::size_t from, std::size_t offset) const {
  Count count;
  std::size_t at = from;
  while (at < offset) {
    // Runs of ASCII bytes are one unit each.
    if (static_cast<unsigned char>(text_[at]) < 0x80) {
      ++count.codePoints;
      ++count.units;
      ++at;
      continue;
    }
    const Character c = characterAt(text_, at);
    ++count.codePoints;
    count.units += c.units;
    if (at + c.bytes > offset) count.inside = c.units;
    at += c.bytes;
  }
  return count;
}

TextLines::Count TextLines::countBefore(std::size_t offset) const {
  checkpointsTo(offset);
  const auto after =
      std::upper_bound(checkpoints_.begin(), checkpoints_.end(), offset,
                       [](std::size_t value, const Checkpoint& c) { return value < c.offset; });
  const Checkpoint& from = *(after - 1);
  Count count = countBetween(from.offset, offset);
  count.codePoints += from.codePoints;
  count.units += from.units;
  return count;
}

TextLines::Count TextLines::countOnLine(std::size_t start, std::size_t offset) const {
  // A short stretch is counted directly; a long one from the checkpoints.
  if (offset - start <= kCheckpointEvery) return countBetween(start, offset);
  const Count before = countBefore(start);
  Count upTo = countBefore(offset);
  upTo.codePoints -= before.codePoints;
  upTo.units -= before.units;
  return upTo;
}

std::int32_t TextLines::codePointColumn(std::size_t line, std::int32_t byteColumn) const {
  if (line >= lineCount() || byteColumn < 1) return 0;
  const std::size_t start = lineStart(line);
  const std::size_t at = start + static_cast<std::size_t>(byteColumn) - 1;
  if (at > lineEnd(line)) return 0;
  const Count count = countOnLine(start, at);
  return static_cast<std::int32_t>(count.codePoints) + (count.inside ? 0 : 1);
}

std::int64_t TextLines::utf16Column(std::size_t offset) const {
  const auto line = static_cast<std::size_t>(lineOf(offset));
  const Count count = countOnLine(lineStart(line), std::min(offset, lineEnd(line)));
  return static_cast<std::int64_t>(count.units - count.inside);
}

std::size_t TextLines::offsetOfUtf16(std::size_t line, std::int64_t units) const {
  if (line >= lineCount()) return text_.size();
  const std::size_t start = lineStart(line);
  const std::size_t end = lineEnd(line);
  if (units <= 0) return start;
  const auto wanted = static_cast<std::uint64_t>(units);
  std::size_t at = start;
  std::uint64_t counted = 0;
  if (end - start > kCheckpointEvery) {
    // A long line: from the last checkpoint on it at or before the units asked for.
    const Count before = countBefore(start);
    checkpointsTo(end);
    const auto past = std::upper_bound(
        checkpoints_.begin(), checkpoints_.end(), std::pair(end, wanted + before.units),
        [](const std::pair<std::size_t, std::uint64_t>& limit, const Checkpoint& c) {
          return c.offset > limit.first || c.units > limit.second;
        });
    if (past != checkpoints_.begin() && (past - 1)->offset > start) {
      at = (past - 1)->offset;
      counted = (past - 1)->units - before.units;
    }
  }
  while (at < end && counted < wanted) {
    const Character c = characterAt(text_, at);
    if (counted + c.units > wanted) break;
    counted += c.units;
    at += c.bytes;
  }
  return std::min(at, end);
}

void TextLines::replaced(std::string_view text, std::size_t start, std::size_t end,
                         std::size_t length) {
  text_ = text;
  // A checkpoint stands for the bytes before it, which are unchanged up to `start`.
  while (!checkpoints_.empty() && checkpoints_.back().offset > start)
    checkpoints_.pop_back();
  if (starts_.empty()) return;
  // Whether a line starts at x depends on the bytes at x - 1 and x: those before `start` are
  // kept, those in the changed range found again, and those after it shifted.
  const auto firstAfter = std::upper_bound(starts_.begin(), starts_.end(), end);
  std::vector<std::size_t> following(firstAfter, starts_.end());
  const auto kept =
      std::lower_bound(starts_.begin(), starts_.end(), std::max<std::size_t>(start, 1));
  starts_.erase(kept, starts_.end());
  for (std::size_t x = std::max<std::size_t>(start, 1); x <= start + length; ++x) {
    if (startsLine(text_, x)) starts_.push_back(x);
  }
  for (const std::size_t old : following)
    starts_.push_back(old - end + start + length);
}
