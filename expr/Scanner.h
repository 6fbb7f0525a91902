#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Tokens.h"

// How many NUL bytes the scanner reads past the end of a text: it looks at most two bytes ahead.
inline constexpr std::size_t kScannerPadding = 4;

// Reads a text one token at a time. The first rule of the language's token table that matches
// at the current position decides the token (so longer operators win over their prefixes);
// white space between tokens is skipped. Blanks, decimal literals and most operators and
// punctuation are read inline with table lookups, on a copy of the text followed by NUL bytes so
// that no byte needs a bounds test; the other numbers, strings and the operators whose third byte
// matters are read out of line.
class Scanner {
 public:
  // `padded` holds the bytes of `text` followed by kScannerPadding NUL bytes.
  Scanner(std::string_view text, const char* padded) : text_(text), padded_(padded) {}

  // Reads the next token; false when the bytes at the current position form no token (the
  // expression then fails, even when the token would only have been looked at).
  inline bool next();

  Token token() const { return token_; }
  // The operator of an Operator token.
  BinaryOperator op() const { return op_; }
  // After an operand, the level down to which the operators before the token are complete: an
  // operator's precedence, 0 for any other token.
  int level() const { return level_; }
  // The value of an Integer token, always a 64-bit signed number: "0x" reads base 16, "0b" base
  // 2, a leading zero base 8, anything else base 10. Digits are not checked against the base (09
  // is 9, 0189 is 137), the value wraps at 64 bits, and the first suffix letter ends the digits.
  std::uint64_t integer() const { return integer_; }
  // The token's characters, a view into the text.
  std::string_view text() const { return text_.substr(start_, position_ - start_); }
  // Where the current token starts in the text (its size at the end).
  std::size_t tokenStart() const { return start_; }

 private:
  bool nextNumber(std::size_t p);
  bool nextOperator(std::size_t p);
  bool nextString(std::size_t p);

  std::string_view text_;
  const char* padded_;
  std::size_t position_ = 0;  // where the current token ends
  std::size_t start_ = 0;
  std::uint64_t integer_ = 0;
  Token token_ = Token::End;
  BinaryOperator op_ = BinaryOperator::Add;
  std::int8_t level_ = 0;
};

bool Scanner::next() {
  using Start = ByteClass::Start;
  const auto& bytes = kTokenTables.bytes;
  const char* const s = padded_;
  std::size_t p = position_;
  const ByteClass* byte = &bytes[static_cast<unsigned char>(s[p])];
  while (byte->start == Start::Blank)
    byte = &bytes[static_cast<unsigned char>(s[++p])];
  if (byte->start == Start::Token) {
    const Pair& pair =
        kTokenTables.pairs[byte->row + bytes[static_cast<unsigned char>(s[p + 1])].column];
    token_ = pair.token;
    op_ = pair.op;
    level_ = pair.level;
    start_ = p;
    // The length is a branch rather than an addition, so that where the next token starts is
    // known before the tables are read.
    if (pair.length == 1) {
      position_ = p + 1;
    } else if (pair.length == 2) {
      position_ = p + 2;
    } else {
      return nextOperator(p);
    }
    return true;
  }
  switch (byte->start) {
    case Start::Digit: {
      // A decimal or octal literal is read here, its value with it, unless a point or a suffix
      // letter follows; "0x" and "0b" start the other bases. A leading zero reads base 8,
      // whatever the digits.
      if (s[p] == '0' && (s[p + 1] == 'x' || s[p + 1] == 'b')) return nextNumber(p);
      const unsigned base = s[p] == '0' ? 8 : 10;
      std::uint64_t value = static_cast<unsigned>(s[p] - '0');
      std::size_t i = p + 1;
      for (unsigned digit; (digit = static_cast<unsigned char>(s[i]) - unsigned{'0'}) < 10; ++i)
        value = value * base + digit;
      if (bytes[static_cast<unsigned char>(s[i])].extendsDigits) return nextNumber(p);
      token_ = Token::Integer;
      level_ = 0;
      integer_ = value;
      start_ = p;
      position_ = i;
      return true;
    }
    case Start::Nul:
      // The end of the text; a NUL byte within it forms no token.
      token_ = Token::End;
      level_ = 0;
      start_ = position_ = p;
      return p == text_.size();
    case Start::Quote:
      return nextString(p);
    default:
      return false;
  }
}

// The value of a floating literal (digits, a point, digits), independent of the locale.
double floatingLiteralValue(std::string_view text);
