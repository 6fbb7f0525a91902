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
    Invalid,  // starts no token: "'", "#", "\\", "`", control bytes and bytes above 127
    Nul,      // the end of the text, or a NUL byte in it (which starts no token)
    Blank,    // white space, skipped
    Digit,    // a number
    Quote,    // a string
    Token,    // an operator, punctuation or a name: kTokenTables.pairs[row + column of next byte]
  };
  Start start = Start::Invalid;
  // Where a Token byte's row starts in the pairs table.
  std::uint8_t row = 0;
  // The byte's column in the pairs table when it can continue an operator before it into
  // another token ("=", "<", ">", "&", "|", "+", "-"); 0 when it never does.
  std::uint8_t column = 0;
  // Right after decimal digits, the byte makes them another number: a floating one (".") or one
  // with suffix letters.
  bool extendsDigits = false;
};

// The token a Token byte starts, given the byte after it.
struct Pair {
  Token token = Token::Fails;
  BinaryOperator op = BinaryOperator::Add;
  // 0 when a third byte decides ("<<" and "<<=", ">>", ">>=" and ">>>").
  std::uint8_t length = 0;
  // The level down to which the operators before the token are complete when it follows an
  // operand: an operator's precedence, 0 for any other token.
  std::int8_t level = 0;
};

inline constexpr std::size_t kTokenRows = 26;  // the bytes scanOperator reads, and names
inline constexpr std::size_t kColumns = 8;     // no byte continues another, and 7 bytes that do
// Row after row, kColumns entries each.
using PairTable = std::array<Pair, kTokenRows * kColumns>;

struct TokenTables {
  std::array<ByteClass, 256> bytes;
  PairTable pairs;
};

// The bytes of tokens that scanOperator does not read, given where the first free row of the
// pairs table starts.
constexpr void addOtherBytes(TokenTables& tables, std::uint8_t row) {
  using Start = ByteClass::Start;
  // Names: a name can only end an expression, so where it ends does not matter.
  const std::uint8_t names = row;
  for (std::size_t column = 0; column < kColumns; ++column)
    tables.pairs[names + column] = {Token::Ends, BinaryOperator::Add, 1, 0};
  auto set = [&tables](int c, Start start, std::uint8_t pairsRow = 0) {
    tables.bytes[static_cast<std::size_t>(c)].start = start;
    tables.bytes[static_cast<std::size_t>(c)].row = pairsRow;
  };
  for (int c = 'a'; c <= 'z'; ++c)
    set(c, Start::Token, names);
  for (int c = 'A'; c <= 'Z'; ++c)
    set(c, Start::Token, names);
  set('_', Start::Token, names);
  set('$', Start::Token, names);
  for (int c : {' ', '\t', '\n', '\v', '\f', '\r'})
    set(c, Start::Blank);
  for (int c = '0'; c <= '9'; ++c)
    set(c, Start::Digit);
  set('"', Start::Quote);
  set('\0', Start::Nul);
  for (int c : {'.', 'U', 'L', 'u', 'l'})
    tables.bytes[static_cast<std::size_t>(c)].extendsDigits = true;
}

// Both tables, derived from scanOperator so that they read exactly what it reads. scanOperator
// compares the bytes after the first only with ASCII punctuation, and looks at a third byte only
// after a second that continues the first, which bounds the work to fit a compiler's constant
// evaluation; the unit tests compare the scanner with it on bytes of every kind.
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
    if (pair.token == Token::Operator) pair.level = static_cast<std::int8_t>(precedenceOf(pair.op));
    return pair;
  };
  auto same = [](const Pair& a, const Pair& b) {
    return a.length == b.length && a.token == b.token &&
           (a.token != Token::Operator || a.op == b.op);
  };
  // The bytes that start tokens, and the bytes that continue them: a byte continues another
  // when it changes its token.
  std::uint8_t rows = 0;
  std::uint8_t columns = 0;
  for (int c = 0; c < 256; ++c) {
    const Pair alone = read(c, 0, 0);
    if (alone.length == 0) continue;
    tables.bytes[static_cast<std::size_t>(c)].start = Start::Token;
    tables.bytes[static_cast<std::size_t>(c)].row = static_cast<std::uint8_t>(rows++ * kColumns);
    for (int c1 = '!'; c1 <= '~'; ++c1) {
      ByteClass& next = tables.bytes[static_cast<std::size_t>(c1)];
      if (!same(read(c, c1, 0), alone) && next.column == 0) next.column = ++columns;
    }
  }
  // Each row: the token alone in column 0, and with each byte that may continue it, unless a
  // third byte decides.
  for (int c = 0; c < 256; ++c) {
    const ByteClass& byte = tables.bytes[static_cast<std::size_t>(c)];
    if (byte.start != Start::Token) continue;
    const Pair alone = read(c, 0, 0);
    tables.pairs[byte.row] = alone;
    for (int c1 = '!'; c1 <= '~'; ++c1) {
      const std::uint8_t column = tables.bytes[static_cast<std::size_t>(c1)].column;
      if (column == 0) continue;
      Pair pair = read(c, c1, 0);
      for (int c2 = '!'; c2 <= '~' && !same(pair, alone) && pair.length != 0; ++c2) {
        if (!same(read(c, c1, c2), pair)) pair.length = 0;
      }
      tables.pairs[byte.row + column] = pair;
    }
  }
  addOtherBytes(tables, static_cast<std::uint8_t>(rows * kColumns));
  return tables;
}
inline constexpr TokenTables kTokenTables = tokenTables();
