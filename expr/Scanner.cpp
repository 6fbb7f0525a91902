#include "Scanner.h"

#include <array>
#include <charconv>
#include <cstdlib>
#include <string>

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
// The value of each hexadecimal digit, -1 for the other bytes.
constexpr std::array<std::int8_t, 256> kHexDigits = [] {
  std::array<std::int8_t, 256> digits{};
  digits.fill(-1);
  for (int c = 0; c < 10; ++c)
    digits['0' + c] = static_cast<std::int8_t>(c);
  for (int c = 0; c < 6; ++c)
    digits['a' + c] = digits['A' + c] = static_cast<std::int8_t>(10 + c);
  return digits;
}();

// The optional integer suffix letters, each at most once, in the order U, L, L, u, l, l.
std::size_t skipIntegerSuffix(const char* s, std::size_t i) {
  // Most literals have none: one test rather than six.
  if (s[i] != 'U' && s[i] != 'L' && s[i] != 'u' && s[i] != 'l') return i;
  for (char letter : {'U', 'L', 'L', 'u', 'l', 'l'}) {
    if (s[i] == letter) ++i;
  }
  return i;
}

}  // namespace

// Reads the number that starts at `p` (a digit), an integer with its value or a floating literal.
// "0x" and "0b" prefixes are tried before the floating form, which is tried before the decimal
// one.
bool Scanner::nextNumber(std::size_t p) {
  // The padding ends every run of digits.
  const char* const s = padded_;
  std::uint64_t value = 0;
  std::size_t i = p + 1;
  token_ = Token::Integer;
  if (s[p] == '0' && s[i] == 'x') {
    for (i = p + 2; kHexDigits[static_cast<unsigned char>(s[i])] >= 0; ++i)
      value = value * 16 + static_cast<unsigned>(kHexDigits[static_cast<unsigned char>(s[i])]);
    i = skipIntegerSuffix(s, i);
  } else if (s[p] == '0' && s[i] == 'b') {
    for (i = p + 2; s[i] == '0' || s[i] == '1'; ++i)
      value = value * 2 + static_cast<unsigned>(s[i] - '0');
  } else {
    // A leading zero reads base 8, whatever the digits.
    const unsigned base = s[p] == '0' ? 8 : 10;
    value = static_cast<unsigned>(s[p] - '0');
    for (; isDigit(s[i]); ++i)
      value = value * base + static_cast<unsigned>(s[i] - '0');
    if (s[i] == '.' && isDigit(s[i + 1])) {
      i += 2;
      while (isDigit(s[i]))
        ++i;
      token_ = Token::Floating;
    } else {
      i = skipIntegerSuffix(s, i);
    }
  }
  integer_ = value;
  level_ = 0;
  start_ = p;
  position_ = i;
  return true;
}

bool Scanner::nextOperator(std::size_t p) {
  // Past the end, the padding reads as NUL bytes.
  const char* const s = padded_;
  Token token;
  std::size_t length;
  if (!scanOperator(s[p], s[p + 1], s[p + 2], token, op_, length)) return false;
  token_ = token;
  level_ = token == Token::Operator ? static_cast<std::int8_t>(precedenceOf(op_)) : 0;
  start_ = p;
  position_ = p + length;
  return true;
}

bool Scanner::nextString(std::size_t p) {
  // A string runs to the next quote, which must be there.
  const std::size_t close = text_.find('"', p + 1);
  if (close == std::string_view::npos) return false;
  token_ = Token::String;
  level_ = 0;
  start_ = p;
  position_ = close + 1;
  return true;
}

double floatingLiteralValue(std::string_view text) {
#if defined(_LIBCPP_VERSION)
  // libc++ (the WebAssembly build's) has no floating-point from_chars; strtod reads the same
  // digits-point-digits in the C locale, which the tool never leaves.
  return std::strtod(std::string(text).c_str(), nullptr);
#else
  // from_chars reads digits-point-digits exactly as strtod does in the C locale.
  double value = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
#endif
}
