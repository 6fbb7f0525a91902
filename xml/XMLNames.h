#pragma once

// How the reader classifies bytes: those of names, and white space.

#include <cstdint>
#include <string_view>

// The bytes the reader accepts in names: a name continues with letters, digits, "_", ":" and "-",
// and an attribute name starts with any of them but a digit. A table, as the reader tests every
// byte of every name.

struct NameCharTable {
  bool name[256] = {};
  constexpr NameCharTable() {
    for (int c = 0; c < 256; ++c) {
      name[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '_' || c == ':' || c == '-';
    }
  }
};
inline constexpr NameCharTable kNameChars;

inline bool isNameChar(unsigned char c) {
  return kNameChars.name[c];
}

inline bool startsAttributeName(unsigned char c) {
  return isNameChar(c) && !(c >= '0' && c <= '9');
}

// White space between markup: a blank, a tab, a line break, a vertical tab or a form feed.
inline bool isSpace(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Eight bytes at a time, as the reader skips the indentation between tags.
inline constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// The high bit of each byte of `x` that is zero, exactly.
inline std::uint64_t zeroBytes(std::uint64_t x) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// The high bit of each byte of `word` that is a blank or a line feed.
inline std::uint64_t blanksOrLineFeeds(std::uint64_t word) {
  return zeroBytes(word ^ 0x2020202020202020ULL) | zeroBytes(word ^ 0x0A0A0A0A0A0A0A0AULL);
}

inline bool isPrefixOf(std::string_view word, std::string_view of) {
  return word.size() <= of.size() && of.substr(0, word.size()) == word;
}
