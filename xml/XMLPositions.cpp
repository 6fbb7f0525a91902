// Where elements and repairs stand in the texts a document read, and the repairs that concern a
// whole text.

#include <functional>

#include "xml/XMLDocument.h"

std::int32_t XMLDocument::columnOf(const XMLElement* element) const {
  // The "<" is the byte before the name.
  const std::int32_t column = columnAt(element->name().data());
  return column > 0 ? column - 1 : 0;
}

std::int32_t XMLDocument::columnAt(const char* position) const {
  for (const auto& [begin, end] : texts_) {
    if (std::less<>()(position, begin) || std::less<>()(end, position)) continue;
    const char* lineStart = position;
    while (lineStart > begin && lineStart[-1] != '\n' && lineStart[-1] != '\r')
      --lineStart;
    return static_cast<std::int32_t>(position - lineStart + 1);
  }
  return 0;
}

std::ptrdiff_t XMLDocument::offsetAt(const char* position) const {
  for (const auto& [begin, end] : texts_) {
    if (std::less<>()(position, begin) || std::less<>()(end, position)) continue;
    return position - begin;
  }
  return -1;
}

std::string_view XMLDocument::textOf(const char* position) const {
  for (const auto& [begin, end] : texts_) {
    if (std::less<>()(position, begin) || std::less<>()(end, position)) continue;
    return std::string_view(begin, static_cast<std::size_t>(end - begin));
  }
  return {};
}

void XMLDocument::textRepairs(const char* text, std::size_t size, const char* nul) {
  // A UTF-16 text starts with its byte-order mark, and its second byte is then 0.
  const bool utf16 = size >= 2 && (text[0] == '\xFF' || text[0] == '\xFE') &&
                     (text[1] == '\xFE' || text[1] == '\xFF') && text[0] != text[1];
  if (utf16) {
    repairs.push_back({Repair::Kind::Utf16, text, {}, {}});
  } else if (nul) {
    repairs.push_back({Repair::Kind::NulByte, text + size, {}, {}});
  }
}
