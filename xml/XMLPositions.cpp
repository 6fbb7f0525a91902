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

void XMLDocument::addText(const char* text, std::size_t size, const std::string& fileName) {
  const LoadedText& added =
      texts_.emplace_back(LoadedText{text, fileName, TextLines(std::string_view(text, size))});
  const auto at = std::upper_bound(
      byAddress_.begin(), byAddress_.end(), text,
      [](const char* position, const LoadedText* t) { return std::less<>()(position, t->begin); });
  byAddress_.insert(at, &added);
}

const XMLDocument::LoadedText* XMLDocument::loadedTextAt(const char* position) const {
  const auto after = std::upper_bound(
      byAddress_.begin(), byAddress_.end(), position,
      [](const char* p, const LoadedText* t) { return std::less<>()(p, t->begin); });
  if (after == byAddress_.begin()) return nullptr;
  const LoadedText* text = *(after - 1);
  const std::size_t size = text->lines.text().size();
  return std::less<>()(text->begin + size, position) ? nullptr : text;
}

std::optional<XMLDocument::TextPlace> XMLDocument::placeAt(const char* position) const {
  const LoadedText* text = loadedTextAt(position);
  if (!text) return std::nullopt;
  const std::string_view whole = text->lines.text();
  return TextPlace{&text->fileName, whole.substr(static_cast<std::size_t>(position - text->begin))};
}

const TextLines* XMLDocument::linesAt(const char* position) const {
  const LoadedText* text = loadedTextAt(position);
  return text ? &text->lines : nullptr;
}

const TextLines* XMLDocument::linesOf(std::string_view fileName) const {
  for (auto it = texts_.rbegin(); it != texts_.rend(); ++it) {
    if (it->fileName == fileName) return &it->lines;
  }
  return nullptr;
}

std::int32_t XMLDocument::columnAt(const char* position) const {
  const LoadedText* text = loadedTextAt(position);
  return text ? text->lines.byteColumn(static_cast<std::size_t>(position - text->begin)) : 0;
}

std::optional<std::size_t> XMLDocument::offsetAt(const char* position) const {
  const LoadedText* text = loadedTextAt(position);
  if (!text) return std::nullopt;
  return static_cast<std::size_t>(position - text->begin);
}

void XMLDocument::textRepairs(const char* text, std::size_t size, const char* nul) {
  // A UTF-16 text starts with its byte-order mark, and its second byte is then 0.
  const bool utf16 = size >= 2 && (text[0] == '\xFF' || text[0] == '\xFE') &&
                     (text[1] == '\xFE' || text[1] == '\xFF') && text[0] != text[1];
  if (utf16) {
    if (records(Repair::Kind::Utf16)) repairs.push_back({Repair::Kind::Utf16, text, {}, {}});
  } else if (nul) {
    if (records(Repair::Kind::NulByte)) {
      repairs.push_back({Repair::Kind::NulByte, text + size, {}, {}});
    }
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

std::int32_t lineOfPosition(const char* begin, const char* end, const char* position) {
  const char* from = begin + 1;
  const char* to = std::min(position + 1, end);
  return from < to ? static_cast<std::int32_t>(countLineFeeds(from, to)) : 0;
}

std::int32_t XMLDocument::lineOf(const XMLElement* element) const {
  // The name of an element read from a text is a view right after its "<", into that text.
  return lineAt(element->name().data());
}

std::int32_t XMLDocument::lineAt(const char* position) const {
  const LoadedText* text = loadedTextAt(position);
  return text ? text->lines.lineOf(static_cast<std::size_t>(position - text->begin)) : 0;
}
