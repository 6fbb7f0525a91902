#pragma once

// Text for JSON diagnostics (the SARIF log, the language server's messages). The tool passes
// bytes through untouched, so file names and messages that quote input may hold bytes that are
// not UTF-8, which JSON strings cannot carry. `jsonText` makes any byte string valid UTF-8: each
// well-formed UTF-8 sequence is kept as it is, and every other byte is written as the four
// characters `\xHH` (two uppercase hexadecimal digits), so the byte can still be read from the
// text. Well-formed means as UTF-8 defines it: the shortest form only (no overlong sequences),
// no surrogates (U+D800 to U+DFFF), nothing above U+10FFFF. A backslash is kept as it is.

#include <cstddef>
#include <string>
#include <string_view>

// The length (1 to 4) of the well-formed UTF-8 sequence that starts at `text[at]`, or 0 when
// none does (a stray continuation byte, a truncated or overlong sequence, a surrogate, a value
// above U+10FFFF, or a byte that never starts one).
inline std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;   // the range of the byte after the lead, which rules out overlong
  unsigned char high = 0xBF;  // forms, surrogates and values above U+10FFFF
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// `bytes` as valid UTF-8: well-formed sequences kept, every other byte as `\xHH`.
inline std::string jsonText(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = utf8SequenceLength(bytes, at);
    if (length > 0) {
      text.append(bytes.substr(at, length));
      at += length;
      continue;
    }
    const auto byte = static_cast<unsigned char>(bytes[at++]);
    text += "\\x";
    text += kHex[byte >> 4];
    text += kHex[byte & 0xF];
  }
  return text;
}
