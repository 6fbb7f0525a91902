#pragma once

#include <array>
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

// The level of a binary operator, from 0 (||) to 9 (* / %), by the operator's value.
inline constexpr std::array<std::int8_t, 18> kPrecedence = {9, 9, 9, 8, 8, 7, 7, 6, 6,
                                                            6, 6, 5, 5, 4, 3, 2, 1, 0};
constexpr int precedenceOf(BinaryOperator op) {
  return kPrecedence[static_cast<std::size_t>(op)];
}

// What a byte tells the scanner when a token starts with it.
struct ByteClass {
  enum class Start : std::uint8_t {
    Invalid,     // starts no token: "'", "#", "\\", "`", control bytes and bytes above 127
    Blank,       // white space, skipped
    Digit,       // a number
    Quote,       // a string
    Single,      // a one-byte token whatever follows (a name ends the expression, so its length
                 // does not matter)
    Extendable,  // a one-byte token unless the next byte can continue it into a longer one
  };
  Start start = Start::Invalid;
  // The token, and the operator of an Operator token, that a Single or Extendable byte forms
  // alone.
  Token token = Token::Fails;
  BinaryOperator op = BinaryOperator::Add;
  // The byte can be the second of an operator spelled with two or more ("=", "<", ">", "&", "|",
  // "+", "-"): after an Extendable byte it sends the scanner to the full operator table.
  bool continues = false;
};

// The class of every byte.
constexpr std::array<ByteClass, 256> byteClasses() {
  using Start = ByteClass::Start;
  using enum BinaryOperator;
  std::array<ByteClass, 256> bytes{};
  auto set = [&bytes](char c, Start start, Token token, BinaryOperator op = Add) {
    bytes[static_cast<unsigned char>(c)] = {start, token, op, false};
  };
  for (char c : {' ', '\t', '\n', '\v', '\f', '\r'})
    set(c, Start::Blank, Token::End);
  for (char c = '0'; c <= '9'; ++c)
    set(c, Start::Digit, Token::Integer);
  for (char c = 'a'; c <= 'z'; ++c)
    set(c, Start::Single, Token::Ends);
  for (char c = 'A'; c <= 'Z'; ++c)
    set(c, Start::Single, Token::Ends);
  // Names and registers, and the punctuation that can only end an expression.
  for (char c : {'_', '$', '@', ';', ':', ']', '{', '}'})
    set(c, Start::Single, Token::Ends);
  for (char c : {'[', '.', '?', ','})
    set(c, Start::Single, Token::Fails);
  set('"', Start::Quote, Token::String);
  set('(', Start::Single, Token::Open);
  set(')', Start::Single, Token::Close);
  set('~', Start::Single, Token::Tilde);
  set('!', Start::Extendable, Token::Not);
  set('=', Start::Extendable, Token::Fails);
  set('*', Start::Extendable, Token::Operator, Multiply);
  set('/', Start::Extendable, Token::Operator, Divide);
  set('%', Start::Extendable, Token::Operator, Remainder);
  set('+', Start::Extendable, Token::Operator, Add);
  set('-', Start::Extendable, Token::Operator, Subtract);
  set('<', Start::Extendable, Token::Operator, Less);
  set('>', Start::Extendable, Token::Operator, Greater);
  set('&', Start::Extendable, Token::Operator, BitAnd);
  set('^', Start::Extendable, Token::Operator, BitXor);
  set('|', Start::Extendable, Token::Operator, BitOr);
  for (char c : {'=', '<', '>', '&', '|', '+', '-'})
    bytes[static_cast<unsigned char>(c)].continues = true;
  return bytes;
}
inline constexpr std::array<ByteClass, 256> kByteClasses = byteClasses();

// Reads a text one token at a time. The first rule of the language's token table that matches
// at the current position decides the token (so longer operators win over their prefixes);
// white space between tokens is skipped. Decimal literals, and operators whose next byte cannot
// continue them, are read inline; the rest of the table is read out of line.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  // Reads the next token; false when the bytes at the current position form no token (the
  // expression then fails, even when the token would only have been looked at).
  inline bool next();

  Token token() const { return token_; }
  // The operator of an Operator token.
  BinaryOperator op() const { return op_; }
  // The value of an Integer token (see integerLiteralValue).
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
    byte = &kByteClasses[static_cast<unsigned char>(s[p])];
    if (byte->start != ByteClass::Start::Blank) break;
    ++p;
  }
  switch (byte->start) {
    case ByteClass::Start::Digit: {
      // A decimal literal is read here, digit by digit, unless a point or a suffix letter follows;
      // "0" starts the other bases.
      if (s[p] == '0') return nextNumber(p);
      std::uint64_t value = static_cast<unsigned>(s[p] - '0');
      std::size_t i = p + 1;
      while (i < n &&
             kByteClasses[static_cast<unsigned char>(s[i])].start == ByteClass::Start::Digit) {
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
    case ByteClass::Start::Extendable:
      if (p + 1 < n && kByteClasses[static_cast<unsigned char>(s[p + 1])].continues)
        return nextOperator(p);
      [[fallthrough]];
    case ByteClass::Start::Single:
      token_ = byte->token;
      op_ = byte->op;
      start_ = p;
      position_ = p + 1;
      return true;
    case ByteClass::Start::Quote:
      return nextString(p);
    default:
      return false;
  }
}

// The value of an integer literal, always a 64-bit signed number: "0x" reads base 16, "0b" base
// 2, a leading zero base 8, anything else base 10. Digits are not checked against the base (09 is
// 9, 0189 is 137), the value wraps at 64 bits, and the first suffix letter ends the digits.
std::int64_t integerLiteralValue(std::string_view text);
// The value of a floating literal (digits, a point, digits), independent of the locale.
double floatingLiteralValue(std::string_view text);
