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
bool isSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
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
  auto at = [&](std::size_t i) { return i < n ? text[i] : '\0'; };
  auto found = [&](TokenKind kind, int precedence, std::size_t end) {
    match = TokenMatch{kind, precedence, end - p};
    return true;
  };
  // Operators: the first of the candidates (longest first, as in the table) that matches.
  auto op = [&](std::initializer_list<std::pair<std::string_view, std::pair<TokenKind, int>>>
                    candidates) {
    for (const auto& [spelling, token] : candidates) {
      if (text.substr(p, spelling.size()) == spelling) {
        return found(token.first, token.second, p + spelling.size());
      }
    }
    return false;
  };
  const char c = text[p];
  if (isSpace(c)) {
    std::size_t i = p + 1;
    while (i < n && isSpace(text[i]))
      ++i;
    return found(Whitespace, 10, i);
  }
  if (isDigit(c)) {
    if (c == '0' && at(p + 1) == 'x') {
      std::size_t i = p + 2;
      while (i < n && isHexDigit(text[i]))
        ++i;
      return found(HexInteger, 10, skipIntegerSuffix(text, i));
    }
    if (c == '0' && at(p + 1) == 'b') {
      std::size_t i = p + 2;
      while (i < n && (text[i] == '0' || text[i] == '1'))
        ++i;
      return found(BinaryInteger, 10, i);
    }
    std::size_t i = p + 1;
    while (i < n && isDigit(text[i]))
      ++i;
    if (at(i) == '.' && isDigit(at(i + 1))) {
      std::size_t j = i + 2;
      while (j < n && isDigit(text[j]))
        ++j;
      return found(Float, 10, j);
    }
    return found(DecimalInteger, 10, skipIntegerSuffix(text, i));
  }
  if (startsIdentifier(c)) {
    std::size_t i = p + 1;
    while (i < n && continuesIdentifier(text[i]))
      ++i;
    return found(Identifier, 10, i);
  }
  switch (c) {
    case '"': {
      std::size_t close = text.find('"', p + 1);
      if (close == std::string_view::npos) return false;
      return found(String, 10, close + 1);
    }
    case '@': {
      std::size_t i = p + 1;
      while (i < n && (continuesIdentifier(text[i]) && text[i] != '$'))
        ++i;
      return found(Register, 10, i);
    }
    case ';':
      return found(Semicolon, 10, p + 1);
    case ':':
      return op({{"::", {Scope, 10}}, {":", {Colon, 10}}});
    case '(':
      return found(LeftParen, 10, p + 1);
    case ')':
      return found(RightParen, 10, p + 1);
    case '[':
      return found(LeftBracket, 10, p + 1);
    case ']':
      return found(RightBracket, 10, p + 1);
    case '{':
      return found(LeftBrace, 10, p + 1);
    case '}':
      return found(RightBrace, 10, p + 1);
    case '.':
      return found(Dot, 10, p + 1);
    case '-':
      return op({{"->", {Arrow, 10}},
                 {"--", {Decrement, 10}},
                 {"-=", {MinusAssign, -3}},
                 {"-", {Minus, 8}}});
    case '+':
      return op({{"++", {Increment, 10}}, {"+=", {PlusAssign, -3}}, {"+", {Plus, 8}}});
    case '!':
      return op({{"!=", {NotEqual, 5}}, {"!", {Not, 10}}});
    case '~':
      return found(Tilde, 10, p + 1);
    case '*':
      return op({{"*=", {StarAssign, -3}}, {"*", {Star, 9}}});
    case '/':
      return op({{"/=", {SlashAssign, -3}}, {"/", {Slash, 9}}});
    case '%':
      return op({{"%=", {PercentAssign, -3}}, {"%", {Percent, 9}}});
    case '<':
      return op({{"<<=", {ShiftLeftAssign, -3}},
                 {"<<", {ShiftLeft, 7}},
                 {"<=", {LessEqual, 6}},
                 {"<", {Less, 6}}});
    case '>':
      return op({{">>>=", {ShiftRightUnsignedAssign, -3}},
                 {">>>", {ShiftRightUnsigned, 7}},
                 {">>=", {ShiftRightAssign, -3}},
                 {">>", {ShiftRight, 7}},
                 {">=", {GreaterEqual, 6}},
                 {">", {Greater, 6}}});
    case '=':
      return op({{"==", {Equal, 5}}, {"=", {Assign, -2}}});
    case '^':
      return op({{"^=", {XorAssign, -3}}, {"^", {Caret, 3}}});
    case '&':
      return op({{"&=", {AndAssign, -3}}, {"&&", {AndAnd, 1}}, {"&", {Ampersand, 4}}});
    case '|':
      return op({{"|=", {OrAssign, -3}}, {"||", {OrOr, 0}}, {"|", {Bar, 2}}});
    case '?':
      return found(Question, -1, p + 1);
    case ',':
      return found(Comma, -4, p + 1);
    default:
      return false;
  }
}
