#include "expr/CStyleLexer.h"

CStyleLexer::CStyleLexer() {
  using enum TokenKind;
  // Order matters: the first rule matching at the current position wins, so white space and
  // strings come first, the prefixed and floating literals precede the decimal one, and every
  // operator precedes its prefixes.
  addRule(R"([\s]+)", Whitespace, 10);
  setSkipsBlanks();
  addRule(R"("[^"]*")", String, 10);
  addRule(R"(0x[0-9A-Fa-f]*U?L?L?u?l?l?)", HexInteger, 10);
  addRule(R"(0b[0-1]*)", BinaryInteger, 10);
  addRule(R"(\d+\.\d+)", Float, 10);
  addRule(R"(\d+U?L?L?u?l?l?)", DecimalInteger, 10);
  addRule(R"([A-Za-z_$][A-Za-z_0-9$]*)", Identifier, 10);
  addRule(R"(@[A-Za-z_0-9]*)", Register, 10);
  addRule(R"(;)", Semicolon, 10);
  addRule(R"(::)", Scope, 10);
  addRule(R"(:)", Colon, 10);
  addRule(R"(\()", LeftParen, 10);
  addRule(R"(\))", RightParen, 10);
  addRule(R"(\[)", LeftBracket, 10);
  addRule(R"(\])", RightBracket, 10);
  addRule(R"(\{)", LeftBrace, 10);
  addRule(R"(\})", RightBrace, 10);
  addRule(R"(\.)", Dot, 10);
  addRule(R"(->)", Arrow, 10);
  addRule(R"(\+\+)", Increment, 10);
  addRule(R"(\-\-)", Decrement, 10);
  addRule(R"(!=)", NotEqual, 5);
  addRule(R"(!)", Not, 10);
  addRule(R"(~)", Tilde, 10);
  addRule(R"(\*=)", StarAssign, -3);
  addRule(R"(\*)", Star, 9);
  addRule(R"(/=)", SlashAssign, -3);
  addRule(R"(/)", Slash, 9);
  addRule(R"(%=)", PercentAssign, -3);
  addRule(R"(%)", Percent, 9);
  addRule(R"(\+=)", PlusAssign, -3);
  addRule(R"(\+)", Plus, 8);
  addRule(R"(\-=)", MinusAssign, -3);
  addRule(R"(-)", Minus, 8);
  addRule(R"(<<=)", ShiftLeftAssign, -3);
  addRule(R"(<<)", ShiftLeft, 7);
  addRule(R"(>>>=)", ShiftRightUnsignedAssign, -3);
  addRule(R"(>>>)", ShiftRightUnsigned, 7);
  addRule(R"(>>=)", ShiftRightAssign, -3);
  addRule(R"(>>)", ShiftRight, 7);
  addRule(R"(<=)", LessEqual, 6);
  addRule(R"(<)", Less, 6);
  addRule(R"(>=)", GreaterEqual, 6);
  addRule(R"(>)", Greater, 6);
  addRule(R"(==)", Equal, 5);
  addRule(R"(\^=)", XorAssign, -3);
  addRule(R"(\^)", Caret, 3);
  addRule(R"(&=)", AndAssign, -3);
  addRule(R"(&&)", AndAnd, 1);
  addRule(R"(&)", Ampersand, 4);
  addRule(R"(\|=)", OrAssign, -3);
  addRule(R"(\|\|)", OrOr, 0);
  addRule(R"(\|)", Bar, 2);
  addRule(R"(\?)", Question, -1);
  addRule(R"(=)", Assign, -2);
  addRule(R"(,)", Comma, -4);
}

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool startsIdentifier(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$';
}
bool continuesIdentifier(char c) {
  return startsIdentifier(c) || isDigit(c);
}

// The optional integer suffix letters, each at most once, in the order U, L, L, u, l, l.
std::size_t skipIntegerSuffix(std::string_view text, std::size_t i) {
  for (char letter : {'U', 'L', 'L', 'u', 'l', 'l'}) {
    if (i < text.size() && text[i] == letter) ++i;
  }
  return i;
}

}  // namespace

bool CStyleLexer::matchToken(std::string_view text, std::size_t position, TokenMatch& match) {
  using enum TokenKind;
  const std::size_t n = text.size();
  const std::size_t p = position;
  // The byte `k` places after the start, or NUL past the end (no rule continues with NUL).
  auto at = [&](std::size_t k) { return p + k < n ? text[p + k] : '\0'; };
  auto found = [&](TokenKind kind, int precedence, std::size_t length) {
    match = TokenMatch{kind, precedence, length};
    return true;
  };
  const char c = text[p];
  if (isDigit(c)) {
    if (c == '0' && at(1) == 'x') {
      std::size_t i = p + 2;
      while (i < n && isHexDigit(text[i]))
        ++i;
      return found(HexInteger, 10, skipIntegerSuffix(text, i) - p);
    }
    if (c == '0' && at(1) == 'b') {
      std::size_t i = p + 2;
      while (i < n && (text[i] == '0' || text[i] == '1'))
        ++i;
      return found(BinaryInteger, 10, i - p);
    }
    std::size_t i = p + 1;
    while (i < n && isDigit(text[i]))
      ++i;
    if (i + 1 < n && text[i] == '.' && isDigit(text[i + 1])) {
      std::size_t j = i + 2;
      while (j < n && isDigit(text[j]))
        ++j;
      return found(Float, 10, j - p);
    }
    return found(DecimalInteger, 10, skipIntegerSuffix(text, i) - p);
  }
  if (startsIdentifier(c)) {
    std::size_t i = p + 1;
    while (i < n && continuesIdentifier(text[i]))
      ++i;
    return found(Identifier, 10, i - p);
  }
  // Operators: the longest spelling first, as in the table.
  const char c1 = at(1);
  switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r': {
      std::size_t i = p + 1;
      while (i < n && isBlank(text[i]))
        ++i;
      return found(Whitespace, 10, i - p);
    }
    case '"': {
      std::size_t close = text.find('"', p + 1);
      if (close == std::string_view::npos) return false;
      return found(String, 10, close + 1 - p);
    }
    case '@': {
      std::size_t i = p + 1;
      while (i < n && (continuesIdentifier(text[i]) && text[i] != '$'))
        ++i;
      return found(Register, 10, i - p);
    }
    case ';':
      return found(Semicolon, 10, 1);
    case ':':
      return c1 == ':' ? found(Scope, 10, 2) : found(Colon, 10, 1);
    case '(':
      return found(LeftParen, 10, 1);
    case ')':
      return found(RightParen, 10, 1);
    case '[':
      return found(LeftBracket, 10, 1);
    case ']':
      return found(RightBracket, 10, 1);
    case '{':
      return found(LeftBrace, 10, 1);
    case '}':
      return found(RightBrace, 10, 1);
    case '.':
      return found(Dot, 10, 1);
    case '-':
      if (c1 == '>') return found(Arrow, 10, 2);
      if (c1 == '-') return found(Decrement, 10, 2);
      if (c1 == '=') return found(MinusAssign, -3, 2);
      return found(Minus, 8, 1);
    case '+':
      if (c1 == '+') return found(Increment, 10, 2);
      if (c1 == '=') return found(PlusAssign, -3, 2);
      return found(Plus, 8, 1);
    case '!':
      return c1 == '=' ? found(NotEqual, 5, 2) : found(Not, 10, 1);
    case '~':
      return found(Tilde, 10, 1);
    case '*':
      return c1 == '=' ? found(StarAssign, -3, 2) : found(Star, 9, 1);
    case '/':
      return c1 == '=' ? found(SlashAssign, -3, 2) : found(Slash, 9, 1);
    case '%':
      return c1 == '=' ? found(PercentAssign, -3, 2) : found(Percent, 9, 1);
    case '<':
      if (c1 == '<') return at(2) == '=' ? found(ShiftLeftAssign, -3, 3) : found(ShiftLeft, 7, 2);
      return c1 == '=' ? found(LessEqual, 6, 2) : found(Less, 6, 1);
    case '>':
      if (c1 == '>') {
        if (at(2) == '>')
          return at(3) == '=' ? found(ShiftRightUnsignedAssign, -3, 4)
                              : found(ShiftRightUnsigned, 7, 3);
        return at(2) == '=' ? found(ShiftRightAssign, -3, 3) : found(ShiftRight, 7, 2);
      }
      return c1 == '=' ? found(GreaterEqual, 6, 2) : found(Greater, 6, 1);
    case '=':
      return c1 == '=' ? found(Equal, 5, 2) : found(Assign, -2, 1);
    case '^':
      return c1 == '=' ? found(XorAssign, -3, 2) : found(Caret, 3, 1);
    case '&':
      if (c1 == '=') return found(AndAssign, -3, 2);
      return c1 == '&' ? found(AndAnd, 1, 2) : found(Ampersand, 4, 1);
    case '|':
      if (c1 == '=') return found(OrAssign, -3, 2);
      return c1 == '|' ? found(OrOr, 0, 2) : found(Bar, 2, 1);
    case '?':
      return found(Question, -1, 1);
    case ',':
      return found(Comma, -4, 1);
    default:
      return false;
  }
}
