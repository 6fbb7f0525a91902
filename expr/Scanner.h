#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "expr/Value.h"

// The kinds of token the evaluator tells apart. Every token of the language's table is
// recognised, but those with which an expression can only fail, and those that can only end one,
// are folded into one kind each.
enum class Token : std::uint8_t {
  End,
  Integer,   // decimal, "0x" hexadecimal or "0b" binary, with optional U/L suffix letters
  Floating,  // digits, a point, digits
  String,    // between double quotes, the quotes included in the text
  Open,
  Close,
  Operator,  // a binary operator (Scanner::op), "+" and "-" also prefix ones
  Not,
  Tilde,
  // Names, registers, "::", ";", ":", "]", "{" and "}": after an operand they end the
  // expression, and no operand starts with them (a name, looked up, would only fail here).
  Ends,
  // "[", ".", "->", "++", "--", ">>>", "?", ",", "=" and the compound assignments: the
  // subscripts, members, increments and assignments the language parses can never evaluate
  // here, and the other operators are not supported.
  Fails,
};

// Reads a text one token at a time. The first rule of the language's token table that matches
// at the current position decides the token (so longer operators win over their prefixes);
// white space between tokens is skipped.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  // Reads the next token; false when the bytes at the current position form no token (the
  // expression then fails, even when the token would only have been looked at).
  bool next();

  Token token() const { return token_; }
  // The operator of an Operator token.
  BinaryOperator op() const { return op_; }
  std::string_view text() const { return tokenText_; }
  // Where the current token starts in the text (its size at the end).
  std::size_t tokenStart() const { return position_ - tokenText_.size(); }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
  Token token_ = Token::End;
  BinaryOperator op_ = BinaryOperator::Add;
  std::string_view tokenText_;
};

// The level of a binary operator, from 0 (||) to 9 (* / %).
int precedenceOf(BinaryOperator op);

// The value of an integer literal, always a 64-bit signed number: "0x" reads base 16, "0b" base
// 2, a leading zero base 8, anything else base 10. Digits are not checked against the base (09 is
// 9, 0189 is 137), the value wraps at 64 bits, and the first suffix letter ends the digits.
std::int64_t integerLiteralValue(std::string_view text);
// The value of a floating literal (digits, a point, digits), independent of the locale.
double floatingLiteralValue(std::string_view text);
