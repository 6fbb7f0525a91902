#include "expr/Literals.h"

#include <charconv>

std::int64_t integerLiteralValue(std::string_view text) {
  unsigned base = 10;
  std::size_t i = 0;
  if (text.starts_with("0x")) {
    base = 16;
    i = 2;
  } else if (text.starts_with("0b")) {
    base = 2;
    i = 2;
  } else if (text.starts_with("0")) {
    base = 8;
    i = 1;
  }
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c == 'U' || c == 'u' || c == 'L' || c == 'l') {
      break;
    } else if (c >= 'a' && c <= 'z') {
      digit = static_cast<unsigned>(c - 'a') + 10;
    } else {
      digit = static_cast<unsigned>(c - 'A') + 10;
    }
    value = value * base + digit;
  }
  return static_cast<std::int64_t>(value);
}

double floatLiteralValue(std::string_view text) {
  // from_chars reads digits-point-digits exactly as strtod does in the C locale.
  double value = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}
