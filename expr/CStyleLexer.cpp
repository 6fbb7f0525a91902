#include "expr/CStyleLexer.h"

CStyleLexer::CStyleLexer() {
  using enum TokenKind;
  // Order matters: the first rule matching at the current position wins, so white space and
  // strings come first, the prefixed and floating literals precede the decimal one, and every
  // operator precedes its prefixes.
  addRule(R"([\s]+)", Whitespace, 10);
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
