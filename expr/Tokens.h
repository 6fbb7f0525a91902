#pragma once

// The language's token table as the scanner applies it: the kinds of token, the operators and
// punctuation, and the tables derived from them that read the common tokens with one lookup.

#include <array>
#include <cstddef>
#include <cstdint>

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

// The operator or punctuation that starts with `c`, followed by `c1` and `c2` (NUL past the end):
// its token, operator and length; false for a byte that starts no token. Longer spellings win
// over their prefixes.
constexpr bool scanOperator(char c, char c1, char c2, Token& token, BinaryOperator& op,
                            std::size_t& length) {
  using enum BinaryOperator;
  length = 1;
  token = Token::Fails;
  // A one-byte binary operator, unless the next byte makes it another token.
  auto single = [&](BinaryOperator which, bool other) {
    if (other) return true;
    token = Token::Operator;
    op = which;
    return true;
  };
  // A two-byte binary operator.
  auto pair = [&](BinaryOperator which) {
    token = Token::Operator;
    op = which;
    length = 2;
    return true;
  };
  switch (c) {
    case '@':  // a register
    case ';':
    case ':':
    case ']':
    case '{':
    case '}':
      token = Token::Ends;
      return true;
    case '(':
      token = Token::Open;
      return true;
    case ')':
      token = Token::Close;
      return true;
    case '[':
    case '.':
    case '?':
    case ',':
      return true;
    case '-':
      return single(Subtract, c1 == '>' || c1 == '-' || c1 == '=');
    case '+':
      return single(Add, c1 == '+' || c1 == '=');
    case '!':
      if (c1 == '=') return pair(NotEqual);
      token = Token::Not;
      return true;
    case '~':
      token = Token::Tilde;
      return true;
    case '*':
      return single(Multiply, c1 == '=');
    case '/':
      return single(Divide, c1 == '=');
    case '%':
      return single(Remainder, c1 == '=');
    case '<':
      if (c1 == '<') return c2 == '=' ? true : pair(ShiftLeft);  // "<<=" is not supported
      return c1 == '=' ? pair(LessEqual) : single(Less, false);
    case '>':
      // ">>>", ">>>=" and ">>=" are not supported.
      if (c1 == '>') return c2 == '>' || c2 == '=' ? true : pair(ShiftRight);
      return c1 == '=' ? pair(GreaterEqual) : single(Greater, false);
    case '=':
      return c1 == '=' ? pair(Equal) : true;
    case '^':
      return single(BitXor, c1 == '=');
    case '&':
      if (c1 == '&') return pair(LogicalAnd);
      return single(BitAnd, c1 == '=');
    case '|':
      if (c1 == '|') return pair(LogicalOr);
      return single(BitOr, c1 == '=');
    default:
      // Numbers, strings, names and blanks, read elsewhere, and "'", "#", "\\", "`", control
      // bytes and bytes above 127, which start no token.
      return false;
  }
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
    Extendable,  // a one-byte token unless the next byte continues it into another one
  };
  Start start = Start::Invalid;
  // The token, and the operator of an Operator token, that a Single or Extendable byte forms
  // alone.
  Token token = Token::Fails;
  BinaryOperator op = BinaryOperator::Add;
  // An Extendable byte's row in kPairs.
  std::uint8_t row = 0;
  // The byte's column in kPairs when it can change the token of an Extendable byte before it
  // ("=", "<", ">", "&", "|", "+", "-"); 0 when it never does.
  std::uint8_t column = 0;
};

// The token an Extendable byte forms with a byte that may continue it.
struct Pair {
  Token token = Token::Fails;
  BinaryOperator op = BinaryOperator::Add;
  // 0 when a third byte decides ("<<" and "<<=", ">>", ">>=" and ">>>").
  std::uint8_t length = 0;
};

inline constexpr std::size_t kExtendable = 12;
inline constexpr std::size_t kContinuing = 8;  // with column 0, which no byte uses
using PairTable = std::array<std::array<Pair, kContinuing>, kExtendable>;

struct TokenTables {
  std::array<ByteClass, 256> bytes;
  PairTable pairs;
};

// Both tables, derived from scanOperator over every byte and every pair of bytes, so that they
// read exactly what it reads.
constexpr TokenTables tokenTables() {
  using Start = ByteClass::Start;
  TokenTables tables{};
  auto read = [](int c, int c1, int c2) {
    Pair pair;
    std::size_t length = 0;
    if (!scanOperator(static_cast<char>(c), static_cast<char>(c1), static_cast<char>(c2),
                      pair.token, pair.op, length))
      length = 0;
    pair.length = static_cast<std::uint8_t>(length);
    return pair;
  };
  auto same = [](const Pair& a, const Pair& b) {
    return a.length == b.length && a.token == b.token &&
           (a.token != Token::Operator || a.op == b.op);
  };
  // Which bytes continue which: a byte continues another when it changes its token.
  std::uint8_t rows = 0;
  std::uint8_t columns = 0;
  for (int c = 0; c < 256; ++c) {
    ByteClass& byte = tables.bytes[static_cast<std::size_t>(c)];
    const Pair alone = read(c, 0, 0);
    if (alone.length == 0) continue;
    byte.start = Start::Single;
    byte.token = alone.token;
    byte.op = alone.op;
    for (int c1 = 1; c1 < 256; ++c1) {
      if (same(read(c, c1, 0), alone)) continue;
      if (byte.start == Start::Single) {
        byte.start = Start::Extendable;
        byte.row = rows++;
      }
      ByteClass& next = tables.bytes[static_cast<std::size_t>(c1)];
      if (next.column == 0) next.column = ++columns;
    }
  }
  for (int c = 0; c < 256; ++c) {
    const ByteClass& byte = tables.bytes[static_cast<std::size_t>(c)];
    if (byte.start != Start::Extendable) continue;
    for (int c1 = 0; c1 < 256; ++c1) {
      const std::uint8_t column = tables.bytes[static_cast<std::size_t>(c1)].column;
      if (column == 0) continue;
      Pair pair = read(c, c1, 0);
      for (int c2 = 1; c2 < 256 && pair.length != 0; ++c2) {
        if (!same(read(c, c1, c2), pair)) pair.length = 0;
      }
      tables.pairs[byte.row][column] = pair;
    }
  }
  // The bytes the operator table does not read.
  auto set = [&tables](int c, Start start, Token token) {
    tables.bytes[static_cast<std::size_t>(c)].start = start;
    tables.bytes[static_cast<std::size_t>(c)].token = token;
  };
  for (int c : {' ', '\t', '\n', '\v', '\f', '\r'})
    set(c, Start::Blank, Token::End);
  for (int c = '0'; c <= '9'; ++c)
    set(c, Start::Digit, Token::Integer);
  // A name can only end an expression, so where it ends does not matter.
  for (int c = 'a'; c <= 'z'; ++c)
    set(c, Start::Single, Token::Ends);
  for (int c = 'A'; c <= 'Z'; ++c)
    set(c, Start::Single, Token::Ends);
  set('_', Start::Single, Token::Ends);
  set('$', Start::Single, Token::Ends);
  set('"', Start::Quote, Token::String);
  return tables;
}
inline constexpr TokenTables kTokenTables = tokenTables();
