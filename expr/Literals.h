#pragma once

#include <cstdint>
#include <string_view>

// The value of an integer literal token (decimal, "0x" hexadecimal or "0b" binary), always a
// 64-bit signed number. The prefix chooses the base ("0x" 16, "0b" 2, a leading zero 8, else 10);
// digits are not checked against the base (09 is 9, 0189 is 137), the value wraps at 64 bits, and
// the first suffix letter (U, u, L, l) ends the digits.
std::int64_t integerLiteralValue(std::string_view text);

// The value of a floating literal token (digits, a point, digits), independent of the locale.
double floatLiteralValue(std::string_view text);
