// Where elements and repairs stand in the texts a document read, and the repairs that concern a
// whole text.

#include <algorithm>
#include <cstring>
#include <functional>

#include "XMLLines.h"
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

// Eight bytes at a time.
std::size_t countLineFeeds(const char* from, const char* to) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  constexpr std::uint64_t kFeeds = 0x0A0A0A0A0A0A0A0AULL;
  std::size_t count = 0;
  for (; to - from >= 8; from += 8) {
    std::uint64_t word;
    std::memcpy(&word, from, 8);
    std::uint64_t x = word ^ kFeeds;  // a zero byte where a line feed was
    // The high bit of each byte is set exactly for the zero bytes of x.
    std::uint64_t zero = ~(((x & kLow7) + kLow7) | x | kLow7);
    // One bit per line feed at the bottom of each byte; the multiply sums the bytes into the top.
    count += static_cast<std::size_t>(((zero >> 7) * 0x0101010101010101ULL) >> 56);
  }
  for (; from < to; ++from)
    count += *from == '\n';
  return count;
}

// The line of a position in a text: the line feeds between its second byte and the position, both
// included, so a line feed at the very start is not counted.
std::int32_t lineOfPosition(const char* begin, const char* end, const char* position) {
  const char* from = begin + 1;
  const char* to = std::min(position + 1, end);
  return from < to ? static_cast<std::int32_t>(countLineFeeds(from, to)) : 0;
}

// The line of a position in [begin, end) as editors count it, from 0: the line ends before it,
// each a line feed, a carriage return, or a carriage return and a line feed together.
std::int32_t editorLine(const char* begin, const char* end, const char* position) {
  std::size_t lines = countLineFeeds(begin, position);
  const char* cr = begin;
  while ((cr = static_cast<const char*>(
              std::memchr(cr, '\r', static_cast<std::size_t>(position - cr)))) != nullptr) {
    if (cr + 1 == end || cr[1] != '\n') ++lines;  // a line feed after it ends the same line
    ++cr;
  }
  return static_cast<std::int32_t>(lines);
}

std::int32_t XMLDocument::lineOf(const XMLElement* element) const {
  // The name of an element read from a text is a view right after its "<", into that text.
  return lineAt(element->name().data());
}

std::int32_t XMLDocument::lineAt(const char* position) const {
  for (const auto& [begin, end] : texts_) {
    if (std::less<>()(begin, position) && !std::less<>()(end, position)) {
      return editorLine(begin, end, position);
    }
  }
  return 0;
}
