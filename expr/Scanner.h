#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Tokens.h"

// Reads a text one token at a time. The first rule of the language's token table that matches
// at the current position decides the token (so longer operators win over their prefixes);
// white space between tokens is skipped. Blanks, decimal literals and most operators and
// punctuation are read inline with table lookups; the other numbers, strings and the operators
// whose third byte matters are read out of line.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  // Reads the next token; false when the bytes at the current position form no token (the
  // expression then fails, even when the token would only have been looked at).
  inline bool next();

  Token token() const { return token_; }
  // The operator of an Operator token.
  BinaryOperator op() const { return op_; }
  // The value of an Integer token, always a 64-bit signed number: "0x" reads base 16, "0b" base
  // 2, a leading zero base 8, anything else base 10. Digits are not checked against the base (09
  // is 9, 0189 is 137), the value wraps at 64 bits, and the first suffix letter ends the digits.
  std::uint64_t integer() const { return integer_; }
  std::string_view text() const { return text_.substr(start_, position_ - start_); }
  // Where the current token starts in the text (its size at the end).
  std::size_t tokenStart() const { return start_; }

 private:
  bool nextNumber(std::size_t p);
  bool nextOperator(std::size_t p);
  bool nextString(std::size_t p);

  std::string_view text_;
  std::size_t position_ = 0;  // where the current token ends
  std::size_t start_ = 0;
  std::uint64_t integer_ = 0;
  Token token_ = Token::End;
  BinaryOperator op_ = BinaryOperator::Add;
};

bool Scanner::next() {
  using Start = ByteClass::Start;
  const auto& bytes = kTokenTables.bytes;
  const char* const s = text_.data();
  const std::size_t n = text_.size();
  std::size_t p = position_;
  const ByteClass* byte;
  while (true) {
    if (p == n) {
      token_ = Token::End;
      start_ = position_ = p;
      return true;
    }
    byte = &bytes[static_cast<unsigned char>(s[p])];
    if (byte->start != Start::Blank) break;
    ++p;
  }
  switch (byte->start) {
    case Start::Digit: {
      // A decimal literal is read here, its value with it, unless a point or a suffix letter
      // follows; "0" starts the other bases.
      if (s[p] == '0') return nextNumber(p);
      std::uint64_t value = static_cast<unsigned>(s[p] - '0');
      std::size_t i = p + 1;
      while (i < n && bytes[static_cast<unsigned char>(s[i])].start == Start::Digit) {
        value = value * 10 + static_cast<unsigned>(s[i] - '0');
        ++i;
      }
      if (i < n && (s[i] == '.' || s[i] == 'U' || s[i] == 'L' || s[i] == 'u' || s[i] == 'l'))
        return nextNumber(p);
      token_ = Token::Integer;
      integer_ = value;
      start_ = p;
      position_ = i;
      return true;
    }
    case Start::Extendable: {
      const std::uint8_t column = p + 1 < n ? bytes[static_cast<unsigned char>(s[p + 1])].column : 0;
      if (column != 0) {
        const Pair& pair = kTokenTables.pairs[byte->row][column];
        if (pair.length == 0) return nextOperator(p);
        token_ = pair.token;
        op_ = pair.op;
        start_ = p;
        position_ = p + pair.length;
        return true;
      }
      [[fallthrough]];
    }
    case Start::Single:
      token_ = byte->token;
      op_ = byte->op;
      start_ = p;
      position_ = p + 1;
      return true;
    case Start::Quote:
      return nextString(p);
    default:
      return false;
  }
}

// The value of a floating literal (digits, a point, digits), independent of the locale.
double floatingLiteralValue(std::string_view text);
