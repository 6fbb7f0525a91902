#include "XMLReferences.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

// The UTF-8 bytes of `code`, a character XML allows above 0x7F, written to `out`; their count.
std::size_t encodeUtf8(std::uint32_t code, char* out) {
  auto byte = [](std::uint32_t bits) { return static_cast<char>(bits); };
  if (code < 0x800) {
    out[0] = byte(0xC0 | code >> 6);
    out[1] = byte(0x80 | (code & 0x3F));
    return 2;
  }
  if (code < 0x10000) {
    out[0] = byte(0xE0 | code >> 12);
    out[1] = byte(0x80 | ((code >> 6) & 0x3F));
    out[2] = byte(0x80 | (code & 0x3F));
    return 3;
  }
  out[0] = byte(0xF0 | code >> 18);
  out[1] = byte(0x80 | ((code >> 12) & 0x3F));
  out[2] = byte(0x80 | ((code >> 6) & 0x3F));
  out[3] = byte(0x80 | (code & 0x3F));
  return 4;
}

// True for a code above 0x7F that is a character XML allows: up to U+10FFFF, no surrogate, not
// U+FFFE or U+FFFF.
bool isWideCharacter(std::uint32_t code) {
  return code > 0x7F && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF) && code != 0xFFFE &&
         code != 0xFFFF;
}

}  // namespace

DecodedReference decodeReference(std::string_view token, std::size_t& i, char* out, bool utf8) {
  std::string_view rest = token.substr(i);
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}};
  for (const auto& [text, byte] : kNamed) {
    if (rest.starts_with(text)) {
      i += text.size() - 1;
      out[0] = byte;
      return {1, false};
    }
  }
  if (rest.size() < 2 || rest[1] != '#') return {};
  std::size_t start = 2;
  unsigned base = 10;
  if (rest.size() > 2 && rest[2] == 'x') {
    start = 3;
    base = 16;
  }
  std::size_t semicolon = rest.find(';', start);
  if (semicolon == std::string_view::npos) return {};
  unsigned value = 0;      // wraps: only its low byte is exact
  std::uint32_t code = 0;  // the code, held at 0x110000 once above U+10FFFF
  bool wide = false;
  for (std::size_t k = start; k < semicolon; ++k) {
    unsigned char c = rest[k];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'z') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'Z') {
      digit = c - 'A' + 10;
    } else {
      return {};
    }
    value = value * base + digit;
    wide = wide || value > 0xFF;  // a code no single byte holds
    code = std::min<std::uint32_t>(code * base + digit, 0x110000);
  }
  i += semicolon;
  if (utf8 && isWideCharacter(code)) return {encodeUtf8(code, out), false};
  out[0] = static_cast<char>(value & 0xFF);
  return {1, wide};
}
