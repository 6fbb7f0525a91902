#include "TextDocument.h"

#include <algorithm>

std::size_t offsetOf(const TextLines& lines, TextPosition position) {
  if (position.line < 0) return 0;
  if (static_cast<std::uint64_t>(position.line) >= lines.lineCount()) return lines.text().size();
  return lines.offsetOfUtf16(static_cast<std::size_t>(position.line), position.character);
}

TextPosition positionOf(const TextLines& lines, std::size_t offset) {
  offset = std::min(offset, lines.text().size());
  return {lines.lineOf(offset), lines.utf16Column(offset)};
}

void IndexedText::replace(std::size_t start, std::size_t end, std::string_view replacement) {
  text_.replace(start, end - start, replacement);
  lines_.replaced(text_, start, end, replacement.size());
}

void TextDocument::change(const std::optional<TextRange>& range, std::string_view replacement) {
  if (!range) {
    text_ = IndexedText(std::string(replacement));
    return;
  }
  std::size_t start = offsetOf(range->start);
  std::size_t end = offsetOf(range->end);
  if (end < start) std::swap(start, end);
  text_.replace(start, end, replacement);
}
