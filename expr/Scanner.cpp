#include "Scanner.h"

#include <charconv>

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The optional integer suffix letters, each at most once, in the order U, L, L, u, l, l.
std::size_t skipIntegerSuffix(std::string_view text, std::size_t i) {
  // Most literals have none: one test rather than six.
  if (i >= text.size() || (text[i] != 'U' && text[i] != 'L' && text[i] != 'u' && text[i] != 'l'))
    return i;
  for (char letter : {'U', 'L', 'L', 'u', 'l', 'l'}) {
    if (i < text.size() && text[i] == letter) ++i;
  }
  return i;
}

// The length of the number that starts at `p` (a digit), and whether it is an integer or a
// floating literal. "0x" and "0b" prefixes are tried before the floating form, which is tried
// before the decimal one.
std::size_t scanNumber(std::string_view s, std::size_t p, Token& token) {
  const std::size_t n = s.size();
  std::size_t i = p + 1;
  token = Token::Integer;
  if (s[p] == '0' && i < n && s[i] == 'x') {
    i = p + 2;
    while (i < n && isHexDigit(s[i]))
      ++i;
    return skipIntegerSuffix(s, i) - p;
  }
  if (s[p] == '0' && i < n && s[i] == 'b') {
    i = p + 2;
    while (i < n && (s[i] == '0' || s[i] == '1'))
      ++i;
    return i - p;
  }
  while (i < n && isDigit(s[i]))
    ++i;
  if (i + 1 < n && s[i] == '.' && isDigit(s[i + 1])) {
    i += 2;
    while (i < n && isDigit(s[i]))
      ++i;
    token = Token::Floating;
    return i - p;
  }
  return skipIntegerSuffix(s, i) - p;
}

// The operator or punctuation that starts with `c`, followed by `c1` and `c2` (NUL past the end):
// its token, operator and length; false for a byte that starts no token. Longer spellings win
// over their prefixes.
bool scanOperator(char c, char c1, char c2, Token& token, BinaryOperator& op, std::size_t& length) {
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
      return false;  // "'", "#", "\\", "`", control bytes and bytes above 127
  }
}

}  // namespace

bool Scanner::nextNumber(std::size_t p) {
  Token token;
  const std::size_t length = scanNumber(text_, p, token);
  token_ = token;
  start_ = p;
  position_ = p + length;
  if (token == Token::Integer) integer_ = static_cast<std::uint64_t>(integerLiteralValue(text()));
  return true;
}

bool Scanner::nextOperator(std::size_t p) {
  const std::string_view s = text_;
  const std::size_t n = s.size();
  Token token;
  std::size_t length;
  if (!scanOperator(s[p], p + 1 < n ? s[p + 1] : '\0', p + 2 < n ? s[p + 2] : '\0', token, op_,
                    length))
    return false;
  token_ = token;
  start_ = p;
  position_ = p + length;
  return true;
}

bool Scanner::nextString(std::size_t p) {
  const std::size_t close = text_.find('"', p + 1);
  if (close == std::string_view::npos) return false;
  token_ = Token::String;
  start_ = p;
  position_ = close + 1;
  return true;
}

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
    unsigned digit;
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

double floatingLiteralValue(std::string_view text) {
  // from_chars reads digits-point-digits exactly as strtod does in the C locale.
  double value = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}
