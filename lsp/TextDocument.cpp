#include "TextDocument.h"

#include <algorithm>

CharacterSize characterAt(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  std::uint32_t minimum = 0;
  std::uint32_t code = 0;
  if (lead < 0x80) return {1, 1};
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, code = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, code = lead & 0x07u;
  } else {
    return {1, 1};
  }
  if (at + length > text.size()) return {1, 1};
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0u) != 0x80u) return {1, 1};
    code = (code << 6) | (byte(at + i) & 0x3Fu);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {1, 1};
  return {length, length == 4 ? std::size_t{2} : std::size_t{1}};
}

LineIndex::LineIndex(std::string_view text) : starts_{0} {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      starts_.push_back(i + 1);
    } else if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      starts_.push_back(i + 1);
    }
  }
}

std::size_t LineIndex::contentEnd(std::string_view text, std::size_t line) const {
  std::size_t end = line + 1 < starts_.size() ? starts_[line + 1] : text.size();
  if (end > starts_[line] && line + 1 < starts_.size()) {
    --end;  // the LF or lone CR
    if (end > starts_[line] && text[end] == '\n' && text[end - 1] == '\r') --end;
  }
  return end;
}

std::size_t LineIndex::offsetOf(std::string_view text, TextPosition position) const {
  if (position.line < 0) return 0;
  if (static_cast<std::uint64_t>(position.line) >= starts_.size()) return text.size();
  const std::size_t line = static_cast<std::size_t>(position.line);
  const std::size_t end = contentEnd(text, line);
  std::size_t at = starts_[line];
  std::int64_t units = 0;
  while (at < end && units < position.character) {
    const CharacterSize size = characterAt(text, at);
    if (units + static_cast<std::int64_t>(size.units) > position.character) break;
    units += static_cast<std::int64_t>(size.units);
    at += size.bytes;
  }
  return std::min(at, end);
}

TextPosition LineIndex::positionOf(std::string_view text, std::size_t offset) const {
  offset = std::min(offset, text.size());
  const auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
  const std::size_t line = static_cast<std::size_t>(after - starts_.begin()) - 1;
  const std::size_t end = std::min(offset, contentEnd(text, line));
  std::size_t at = starts_[line];
  std::int64_t units = 0;
  while (at < end) {
    const CharacterSize size = characterAt(text, at);
    if (at + size.bytes > end) break;
    units += static_cast<std::int64_t>(size.units);
    at += size.bytes;
  }
  return {static_cast<std::int64_t>(line), units};
}

void TextDocument::change(const std::optional<TextRange>& range, std::string_view replacement) {
  if (!range) {
    text_.assign(replacement);
  } else {
    std::size_t start = offsetOf(range->start);
    std::size_t end = offsetOf(range->end);
    if (end < start) std::swap(start, end);
    text_.replace(start, end - start, replacement);
  }
  lines_ = LineIndex(text_);
}
