// Tests of the expression language: tokenizer, parser, values, evaluation and the preprocessor's
// entry points, including texts built to exhaust the stack.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "expr/CStyleLexer.h"
#include "expr/DirectEvaluator.h"
#include "expr/Expression.h"
#include "expr/ExpressionValue.h"
#include "expr/Limits.h"
#include "expr/Literals.h"
#include "expr/ParserException.h"
#include "expr/SimpleExpressionParser.h"
#include "expr/TokenPattern.h"
#include "expr/ValueOperations.h"

namespace {

using enum TokenKind;

// "kind:text" for each token up to End, or "error: message".
std::string tokenize(Lexer& lexer, std::string_view text) {
  std::string out;
  try {
    lexer.reset(text);
    for (; lexer.kind() != End; lexer.next()) {
      if (!out.empty()) out += ' ';
      out += std::to_string(static_cast<int>(lexer.kind())) + ':' + std::string(lexer.text());
    }
  } catch (const ParserException& e) {
    out = "error: " + e.message();
  }
  return out;
}

// A tree's debug text without the "Expression" suffix of every class name, or the error.
std::string parse(std::string_view text) {
  SimpleExpressionParser parser;
  try {
    const auto tree = parser.parseExpression(text);
    if (!tree) return "<none>";
    std::string description = tree->describe();
    for (std::size_t at; (at = description.find("Expression")) != std::string::npos;)
      description.erase(at, 10);
    return description;
  } catch (const ParserException& e) {
    return "error: " + e.message();
  }
}

// "type display" of the value, or the error.
std::string evaluate(std::string_view text) {
  SimpleExpressionParser parser;
  try {
    const ExpressionValue value = parser.evaluateText(text);
    return value.typeName() + ' ' + value.display();
  } catch (const ParserException& e) {
    return "error: " + e.message();
  }
}

std::string repeat(std::string_view piece, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i)
    text += piece;
  return text;
}

std::uint64_t bitsOf(double value) {
  return std::bit_cast<std::uint64_t>(value);
}

// --- Tokenizer ----------------------------------------------------------------------------------

TEST(Lexer, SplitsTextsIntoTokens) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {" \t\n\r ", ""},
      {"a>>>=b", "8:a 53:>>>= 8:b"},
      {"a>>>b", "8:a 32:>>> 8:b"},
      {"a>=b", "8:a 36:>= 8:b"},
      {"x=-1", "8:x 45:= 29:- 3:1"},
      {"a--b", "8:a 22:-- 8:b"},
      {"a::b:c", "8:a 12::: 8:b 11:: 8:c"},
      {"p->q", "8:p 20:-> 8:q"},
      {"1-2", "3:1 29:- 3:2"},
      {"\"a b\"==\"+ -\"", "7:\"a b\" 37:== 7:\"+ -\""},
      {"\"line\nbreak\"", "7:\"line\nbreak\""},
      {"$x_1 _ @r0 @", "8:$x_1 8:_ 9:@r0 9:@"},
      {"9abc", "3:9 8:abc"},
      {"12 12U 12UL 12ULL 12LL 12u 12ull", "3:12 3:12U 3:12UL 3:12ULL 3:12LL 3:12u 3:12ull"},
      {"12LU", "3:12L 8:U"},
      {"0x 0xFFul 0X1", "4:0x 4:0xFFul 3:0 8:X1"},
      {"0b 0b102", "5:0b 5:0b10 3:2"},
      {"1.5 1. .5 1e5", "6:1.5 3:1 19:. 19:. 3:5 3:1 8:e5"},
      {"1 ? 2 : 3", "3:1 44:? 3:2 11:: 3:3"},
      {"a\t+\nb", "8:a 28:+ 8:b"},
      {"'x' + 1", "error: unrecognised token: 'x' + 1"},
      {"1 + \"open", "error: unrecognised token: \"open"},
      {"1 # 2", "error: unrecognised token: # 2"},
      {"a\\b", "error: unrecognised token: \\b"},
      {"caf\xC3\xA9", "error: unrecognised token: \xC3\xA9"},
  };
  CStyleLexer lexer;
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(tokenize(lexer, text), expected) << text;
}

// Every operator of the table, so that each one's kind and binary precedence is checked and no
// operator is shadowed by its prefix.
TEST(Lexer, OperatorsHaveTheirKindAndPrecedence) {
  const std::vector<std::tuple<std::string, TokenKind, int>> operators = {
      {";", Semicolon, 10},
      {"::", Scope, 10},
      {":", Colon, 10},
      {"(", LeftParen, 10},
      {")", RightParen, 10},
      {"[", LeftBracket, 10},
      {"]", RightBracket, 10},
      {"{", LeftBrace, 10},
      {"}", RightBrace, 10},
      {".", Dot, 10},
      {"->", Arrow, 10},
      {"++", Increment, 10},
      {"--", Decrement, 10},
      {"!=", NotEqual, 5},
      {"!", Not, 10},
      {"~", Tilde, 10},
      {"*=", StarAssign, -3},
      {"*", Star, 9},
      {"/=", SlashAssign, -3},
      {"/", Slash, 9},
      {"%=", PercentAssign, -3},
      {"%", Percent, 9},
      {"+=", PlusAssign, -3},
      {"+", Plus, 8},
      {"-=", MinusAssign, -3},
      {"-", Minus, 8},
      {"<<=", ShiftLeftAssign, -3},
      {"<<", ShiftLeft, 7},
      {">>>=", ShiftRightUnsignedAssign, -3},
      {">>>", ShiftRightUnsigned, 7},
      {">>=", ShiftRightAssign, -3},
      {">>", ShiftRight, 7},
      {"<=", LessEqual, 6},
      {"<", Less, 6},
      {">=", GreaterEqual, 6},
      {">", Greater, 6},
      {"==", Equal, 5},
      {"^=", XorAssign, -3},
      {"^", Caret, 3},
      {"&=", AndAssign, -3},
      {"&&", AndAnd, 1},
      {"&", Ampersand, 4},
      {"|=", OrAssign, -3},
      {"||", OrOr, 0},
      {"|", Bar, 2},
      {"?", Question, -1},
      {"=", Assign, -2},
      {",", Comma, -4},
  };
  CStyleLexer lexer;
  for (const auto& [text, kind, precedence] : operators) {
    lexer.reset(text);
    EXPECT_EQ(lexer.kind(), kind) << text;
    EXPECT_EQ(lexer.precedence(), precedence) << text;
    EXPECT_EQ(lexer.text(), text);
    lexer.next();
    EXPECT_EQ(lexer.kind(), End) << text;
    EXPECT_EQ(lexer.precedence(), kNoPrecedence);
  }
}

TEST(Lexer, TracksPositionAndStaysAtEnd) {
  CStyleLexer lexer;
  lexer.reset("ab + 1");
  EXPECT_EQ(lexer.position(), 2u);
  EXPECT_TRUE(lexer.textIs("ab"));
  EXPECT_FALSE(lexer.textIs("a"));
  lexer.next();
  EXPECT_EQ(lexer.position(), 4u);
  lexer.next();
  lexer.next();
  lexer.next();
  EXPECT_EQ(lexer.kind(), End);
  EXPECT_EQ(lexer.position(), 6u);
  lexer.reset("x");  // a new text drops the old one
  EXPECT_TRUE(lexer.textIs("x"));
}

// A lexer whose identifiers expand exercises the input stack.
class ExpandingLexer : public CStyleLexer {
 public:
  std::string expandIdentifier(std::string_view identifier) override {
    if (identifier == "TWO") return "1 + 1";
    if (identifier == "BLANK") return "  ";
    if (identifier == "LOOP") return "LOOP";
    return {};
  }
};

TEST(Lexer, ExpandedIdentifiersAreReadBeforeTheRestOfTheText) {
  ExpandingLexer lexer;
  EXPECT_EQ(tokenize(lexer, "TWO * x"), "3:1 28:+ 3:1 25:* 8:x");
  EXPECT_EQ(tokenize(lexer, "a BLANK b"), "8:a 8:b");
  EXPECT_EQ(tokenize(lexer, "LOOP"), "error: identifier expansion nested too deeply");
}

// The hand-written scanner of CStyleLexer must find exactly the token the rule table finds.
class BothScanners : public CStyleLexer {
 public:
  bool fromTable(std::string_view text, std::size_t position, TokenMatch& match) {
    return Lexer::matchToken(text, position, match);
  }
  bool fromScanner(std::string_view text, std::size_t position, TokenMatch& match) {
    return CStyleLexer::matchToken(text, position, match);
  }
};

TEST(Lexer, HandWrittenScannerAgreesWithTheTable) {
  const std::string alphabet = "0123456789xXbBabcdefABCDEFUuLl_$@.\"' \t\n;:()[]{}-+!~*/%<>=^&|?,#";
  BothScanners lexer;
  std::mt19937 random(7);
  for (int i = 0; i < 200000; ++i) {
    std::string text;
    const int length = 1 + static_cast<int>(random() % 6);
    for (int j = 0; j < length; ++j)
      text += alphabet[random() % alphabet.size()];
    TokenMatch table{}, scanner{};
    const bool inTable = lexer.fromTable(text, 0, table);
    ASSERT_EQ(lexer.fromScanner(text, 0, scanner), inTable) << text;
    if (!inTable) continue;
    ASSERT_EQ(scanner.kind, table.kind) << text;
    ASSERT_EQ(scanner.precedence, table.precedence) << text;
    ASSERT_EQ(scanner.length, table.length) << text;
  }
}

TEST(TokenPattern, MatchesOnlyAtThePositionGreedily) {
  EXPECT_EQ(TokenPattern(R"(\d+\.\d+)").matchAt("x12.50y", 1), 5u);
  EXPECT_EQ(TokenPattern(R"(\d+\.\d+)").matchAt("12.", 0), TokenPattern::npos);
  EXPECT_EQ(TokenPattern("[^\"]*").matchAt("\"", 0), TokenPattern::npos);  // empty match
  // Patterns that need backtracking still match like a regular-expression engine.
  EXPECT_EQ(TokenPattern("a*ab").matchAt("aaab", 0), 4u);
  EXPECT_EQ(TokenPattern("[a-c]+c").matchAt("abcbcx", 0), 5u);
  EXPECT_EQ(TokenPattern(R"([\s\d]+)").matchAt(" 1\t2x", 0), 4u);
  for (const char* bad : {"a|b", "(a)", "a{2}", "^a", ".", "*a", "a+*", "[ab", "[z-a]", "a\\"})
    EXPECT_THROW(TokenPattern{bad}, std::invalid_argument) << bad;
}

// --- Literals -----------------------------------------------------------------------------------

TEST(Literals, IntegerValues) {
  const std::vector<std::pair<std::string, std::int64_t>> cases = {
      {"0", 0},
      {"7", 7},
      {"0x10", 16},
      {"0xFFu", 255},
      {"0xabcdef", 0xabcdef},
      {"0b101", 5},
      {"010", 8},
      {"08", 8},
      {"09", 9},
      {"0189", 137},
      {"0123", 83},
      {"0x", 0},
      {"0b", 0},
      {"0U", 0},
      {"12ULL", 12},
      {"18446744073709551615", -1},
      {"18446744073709551616", 0},
      {"0xFFFFFFFFFFFFFFFF", -1},
      {"9223372036854775808", std::numeric_limits<std::int64_t>::min()},
  };
  for (const auto& [text, value] : cases)
    EXPECT_EQ(integerLiteralValue(text), value) << text;
  EXPECT_EQ(floatLiteralValue("1.25"), 1.25);
  EXPECT_EQ(floatLiteralValue("0.1"), 0.1);
}

// --- Parser -------------------------------------------------------------------------------------

TEST(Parser, GroupsOperatorsByPrecedence) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "<none>"},
      {"1 + 2 * 3", "Plus(1, Multiply(2, 3))"},
      {"1 - 2 - 3", "Minus(Minus(1, 2), 3)"},
      {"1 << 2 + 3", "Lshift(1, Plus(2, 3))"},
      {"1 & 2 == 2", "BitAnd(1, Eq(2, 2))"},
      {"a || b && c", "LogicalOr(a, LogicalAnd(b, c))"},
      {"a | b ^ c & d", "BitOr(a, BitXor(b, BitAnd(c, d)))"},
      {"a < b != c >= d", "Ne(Lt(a, b), Ge(c, d))"},
      {"1 * 2 + 3 % 4 / 5", "Plus(Multiply(1, 2), Divide(Mod(3, 4), 5))"},
      {"-2 * 3", "Multiply(Negate(2), 3)"},
      {"!a == b", "Eq(LogicalNot(a), b)"},
      {"-x[1]", "Negate(LeftSquareBracket(x, 1))"},
      {"~+1", "BitNot(1)"},
      {"(1 + 2) * 3", "Multiply(Plus(1, 2), 3)"},
      {"a = b = c", "Assign(Assign(a, b), c)"},
      {"a += b = c", "Assign(a, Plus(a, Assign(b, c)))"},
      {"a >>= 2", "Assign(a, Rshift(a, 2))"},
      {"a |= 1", "Assign(a, BitOr(a, 1))"},
      {"++5", "Assign(5, Plus(5, 1))"},
      {"x--", "Assign(x, Minus(x, 1))"},
      {"*p", "LeftSquareBracket(p, 0u)"},
      {"&x", "Addressof(x)"},
      {"a.b->c", "Dot(Dot(a, b), c)"},
      {"a[i][j]", "LeftSquareBracket(LeftSquareBracket(a, i), j)"},
      {"f(1+2)", "Call(f, 1, 2)"},
      {"f(1, -2)()", "Call(Call(f, 1, Negate(2)))"},
      {"::a", "ScopedIdentifier(a)"},
      {"a::b::c", "ScopedIdentifier(a::b::c)"},
      {"@r0 + @", "Plus(Register(r0), Register())"},
      {"\"s\" 2.5", "\"s\""},
      {"1 2", "1"},
      {"1 )", "1"},
      {"1 2 #", "1"},
      {"(int) 5", "Cast(int, 5)"},
      {"(unsigned) 1", "Cast(unsigned int, 1)"},
      {"(unsigned long) 1", "Cast(unsigned long, 1)"},
      {"(long) 1", "Cast(long, 1)"},
      {"(long long) 1", "Cast(long long, 1)"},
      {"(long int) 1", "Cast(int, 1)"},
      {"(const volatile signed char) 1", "Cast(char, 1)"},
      {"(short*[4]) 0", "Cast(short*[4], 0)"},
      {"(struct { int a : 3; char; }) 0", "Cast(struct { int a : 3; char; }, 0)"},
      {"(struct {}) 0", "Cast(struct { }, 0)"},
      {"(register 4;) 0", "Cast(register 4;, 0)"},
      {"(register 4 en 0 1 \"mode\" 1 2;) 0", "Cast(register 4 en 0 1 mode 1 2;, 0)"},
      {"(int) -x.y", "Cast(int, Negate(Dot(x, y)))"},
      {"(x) 5", "x"},
      {"sizeof(int)", "Sizeof(int)"},
      {"sizeof(x)", "Sizeof(x)"},
      {"sizeof x + 1", "Sizeof(Plus(x, 1))"},
      {"addressof(\"f.c\", 12)", "AddressofLine(\"f.c\", 12)"},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(parse(text), expected) << text;
}

TEST(Parser, ReportsErrors) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"   ", "expression expected"},
      {"1 +", "expression expected"},
      {"f(1", "expression expected"},
      {"1 #", "unrecognised token: #"},
      {"1 >>> 2", "operator not supported"},
      {"a >>>= 2", "operator not supported"},
      {"1, 2", "operator not supported"},
      {"1 ? 2 : 3", "operator not supported"},
      {"1 ? (", "expression expected"},  // the right operand is parsed first
      {"++(a + b)", "cannot duplicate expression"},
      {"(a + b) += 1", "cannot duplicate expression"},
      {"a[1 + 2]++", "cannot duplicate expression"},
      {"(1", "')' expected"},
      {"sizeof(int*)", "')' expected"},
      {"sizeof(1", "')' expected"},
      {"(long long int) 1", "')' expected"},
      {"addressof 1", "'(' expected"},
      {"addressof(1)", "string expected"},
      {"addressof(\"f\" 1)", "',' expected"},
      {"addressof(\"f\", 0x10)", "int expected"},
      {"addressof(\"f\", 1", "')' expected"},
      {"a[1", "expected ']'"},
      {"(int[2) 1", "']' expected"},
      {"a::", "identifier expected after '::'"},
      {"::1", "identifier expected"},
      {"a.1", "identifier expected"},
      {"(struct s) 1", "struct type not found"},
      {"(struct 1) 1", "'{' expected"},
      {"(struct { x; }) 1", "struct parse error"},
      {"(struct { int a : b; }) 1", "integer must follow ':'"},
      {"(struct { int a }) 1", "';' expected"},
      {"(register x) 1", "size expected"},
      {"(register 4 1) 1", "fieldname expected"},
      {"(register 4 a b) 1", "bitoffset expected"},
      {"(register 4 a 1 b) 1", "bitsize expected"},
  };
  for (const auto& [text, message] : cases)
    EXPECT_EQ(parse(text), "error: " + message) << text;
}

TEST(Parser, ReportsHowFarItRead) {
  SimpleExpressionParser parser;
  std::size_t position = 99;
  EXPECT_NE(parser.parseExpression("1 + 2  3 4", &position), nullptr);
  EXPECT_EQ(position, 8u);  // one token past the expression
}

// --- Values -------------------------------------------------------------------------------------

TEST(ExpressionValue, ConvertsByKindSizeAndBitWidth) {
  using V = ExpressionValue;
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  struct Case {
    ExpressionValue value;
    std::int64_t asSigned;
    std::uint64_t asUnsigned;
    double asDouble;
  };
  const std::vector<Case> cases = {
      {V(), 0, 0, 0.0},
      {V::boolean(1), 1, 1, 1.0},
      {V::boolean(2), 2, 2, 2.0},
      {V::signedInteger(-1), -1, ~0ULL, -1.0},
      {V::signedInteger(0x1FF, 1), -1, 0xFF, -1.0},
      {V::signedInteger(0x18000, 2), -32768, 0x8000, -32768.0},
      {V::signedInteger(0xFFFFFFFF, 4), -1, 0xFFFFFFFF, -1.0},
      {V::signedInteger(7, 4, 3), -1, 7, -1.0},
      {V::signedInteger(3, 4, 3), 3, 3, 3.0},
      {V::unsignedInteger(0xFFFF, 2), -1, 0xFFFF, 65535.0},
      {V::unsignedInteger(~0ULL, 0), -1, ~0ULL, 18446744073709551615.0},
      {V::floating(1.5), 1, 0x3FF8000000000000ULL, 1.5},
      {V::floating(1.5, 4), 1, 0x3FC00000ULL, 1.5},
      {V::floating(0.1, 0), 0, 0, 0.1},
      {V::floating(-2.7), -2, bitsOf(-2.7), -2.7},
      {V::floating(1e300), kMin, bitsOf(1e300), 1e300},
      {V::floating(-9223372036854775808.0), kMin, bitsOf(-9223372036854775808.0),
       -9223372036854775808.0},
      {V::floating(std::nan("")), kMin, bitsOf(std::nan("")), std::nan("")},
      {V::string("12"), 0, 0, 0.0},
  };
  for (const Case& c : cases) {
    const std::string label = c.value.typeName() + ' ' + c.value.display();
    EXPECT_EQ(c.value.toSigned(), c.asSigned) << label;
    EXPECT_EQ(c.value.toUnsignedBits(), c.asUnsigned) << label;
    if (std::isnan(c.asDouble)) {
      EXPECT_TRUE(std::isnan(c.value.toDouble())) << label;
    } else {
      EXPECT_EQ(c.value.toDouble(), c.asDouble) << label;
    }
  }
  EXPECT_EQ(V().size(), 2);
  EXPECT_EQ(V::signedInteger(0x1234).lowByte(), 0x34);
  EXPECT_EQ(V::floating(1.5, 4).typeName(), "float");
  EXPECT_EQ(V::signedInteger(1, 1).typeName(true), "byte");
  EXPECT_EQ(V::unsignedInteger(1, 4).typeName(), "unsigned int");
  EXPECT_EQ(V::signedInteger(1, 3).typeName(), "unknown");
}

// Unsigned operands and sizes other than 8 come only from environments, so they are checked on
// the operations directly.
TEST(ValueOperations, UnsignedAndSizedOperands) {
  using V = ExpressionValue;
  const V four = V::unsignedInteger(5, 4);
  const V wrapped = applyArithmetic(ArithmeticOperator::Minus, four, V::signedInteger(6));
  EXPECT_TRUE(wrapped.is(ValueKind::Unsigned));
  EXPECT_EQ(wrapped.size(), 4);
  EXPECT_EQ(wrapped.toUnsignedBits(), 0xFFFFFFFFu);
  EXPECT_EQ(applyComparison(ComparisonOperator::Less, V::unsignedInteger(1), V::signedInteger(-1))
                .lowByte(),
            1);
  EXPECT_EQ(applyShift(ShiftOperator::Right, V::unsignedInteger(1ULL << 63), V::signedInteger(63))
                .toUnsignedBits(),
            1u);
  EXPECT_EQ(
      applyShift(ShiftOperator::Right, V::signedInteger(std::numeric_limits<std::int64_t>::min()),
                 V::signedInteger(63))
          .toSigned(),
      -1);
  EXPECT_EQ(
      applyArithmetic(ArithmeticOperator::Divide, V::unsignedInteger(~0ULL), V::signedInteger(-1))
          .toUnsignedBits(),
      1u);
  EXPECT_EQ(applyRemainder(V::unsignedInteger(7), V::signedInteger(4)).toUnsignedBits(), 3u);
  EXPECT_EQ(
      applyLogical(LogicalOperator::Or, V::unsignedInteger(0, 2), V::signedInteger(0)).typeName(),
      "unsigned short");
  EXPECT_EQ(applyBitNot(V::unsignedInteger(0, 1)).toUnsignedBits(), 0xFFu);
  // The divisor is checked by its own kind first, then after its conversion.
  EXPECT_THROW(applyArithmetic(ArithmeticOperator::Divide, V::signedInteger(1),
                               V::signedInteger(0x10000, 2)),
               ParserException);
}

// --- Evaluation ---------------------------------------------------------------------------------

TEST(Evaluation, ResultsFollowTheLeftOperand) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      // comparisons convert the right operand to the left one's kind
      {"1 == 1", "boolean true"},
      {"1 == 1 == 1", "boolean true"},
      {"2 == 2 == 2", "boolean false"},
      {"2 == 2.9", "boolean true"},
      {"1 < 1.5", "boolean false"},
      {"-1 < 0", "boolean true"},
      {"\"abc\" == \"abc\"", "boolean true"},
      {"\"abc\" < \"abd\"", "boolean true"},
      {"\"ab\" < \"abc\"", "boolean true"},
      {"\"\xE9\" > \"z\"", "boolean true"},
      {"\"abc\" == 0", "boolean false"},
      {"\"\" == 0", "boolean true"},
      {"1 == \"abc\"", "boolean false"},
      {"0 == \"abc\"", "boolean true"},
      // arithmetic
      {"7 / 2", "long long 3"},
      {"-7 / 2", "long long -3"},
      {"-7 % 2", "long long -1"},
      {"7 % -2", "long long 1"},
      {"7 / 2.0", "double 3.5"},
      {"7.0 / 2", "double 3.5"},
      {"1.5 * 2 + 0.25", "double 3.25"},
      {"1 / 0.5", "double 2"},
      {"9223372036854775807 + 1", "long long -9223372036854775808"},
      {"(-9223372036854775807 - 1) / -1", "long long -9223372036854775808"},
      {"(-9223372036854775807 - 1) % -1", "long long 0"},
      {"0x7fffffffffffffff * 2", "long long -2"},
      {"0 - 0b1", "long long -1"},
      // shifts count modulo 64
      {"1 << 3", "long long 8"},
      {"1 << 64", "long long 1"},
      {"1 << 63", "long long -9223372036854775808"},
      {"-16 >> 2", "long long -4"},
      {"256 >> -60", "long long 16"},
      // unary operators
      {"!0", "boolean true"},
      {"!(1 == 2)", "boolean true"},
      {"!0.0", "boolean true"},
      {"!1.5", "boolean false"},
      {"!7", "boolean false"},
      {"~0", "long long -1"},
      {"-(1 == 1)", "unknown -1"},  // a signed value of size 0
      {"-1.5", "double -1.5"},
      {"+-+1", "long long -1"},
      // logical operators keep the left operand's kind and do not short-circuit
      {"1 && 1", "long long 1"},
      {"2 && 0", "long long 0"},
      {"1 || 0", "long long 1"},
      {"0 || 0.5", "long long 0"},
      {"(1 == 1) && (2 == 2)", "boolean true"},
      {"(1 == 1) && 256", "boolean false"},
      {"(1 == 1) && 2", "boolean 2"},
      {"(1 == 1) || 0", "boolean true"},
      {"(1 == 2) || 3", "boolean 3"},
      // booleans as numbers: the byte arithmetic
      {"(1 == 1) + (1 == 1)", "boolean true"},
      {"(1 == 2) + 256", "boolean false"},
      {"(1 == 1) - (1 == 1)", "boolean false"},
      {"(1 == 1) * 2", "boolean 2"},
      {"(1 == 1) / (1 == 1)", "boolean true"},
      {"(1 == 1) % 2", "boolean true"},
      {"(1 == 1) | 2", "boolean 3"},
      {"(1 == 1) & 2", "boolean false"},
      {"(1 == 1) ^ (1 == 1)", "boolean false"},
      {"!((1 == 1) * 2)", "boolean 3"},
      {"(1 == 1) < 2", "boolean true"},
      {"(1 == 1) == 257", "boolean true"},
      {"2 + ((1 == 1) * 2)", "long long 4"},
      {"(1 == 1) * 0.5", "double 0.5"},  // of size 0, see the entry points
      // everything after the expression is ignored
      {"1e5", "long long 1"},
      {"1 2 #", "long long 1"},
      {"\"a b\"", "string \"a b\""},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(evaluate(text), expected) << text;
}

TEST(Evaluation, ReportsErrors) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"7 / 0", "divide by zero"},
      {"7 % 0", "divide by zero"},
      {"7 / 0.0", "divide by zero"},
      {"7.5 / (1 == 2)", "divide by zero"},
      {"(1 == 1) / 256", "divide by zero"},
      {"1 % 0.5", "divide by zero"},
      {"\"a\" / 0", "divide by zero"},
      {"0 && (1 / 0)", "divide by zero"},
      {"7.5 % 2", "unsupported binary numeric operation"},
      {"\"a\" + 1", "unsupported binary numeric operation"},
      {"\"a\" - 1.5", "unsupported binary numeric operation"},
      {"1 / \"a\"", "unsupported binary numeric operation"},
      {"1.5 & 1", "unsupported binary numeric operation"},
      {"1.5 && 1", "unsupported binary numeric operation"},
      {"\"a\" || 1", "unsupported binary numeric operation"},
      {"1.5 > 1", "unsupported comparison operation"},
      {"1 << 2.0", "integer shift value expected"},
      {"1 << (1 == 1)", "integer shift value expected"},
      {"1.5 << 2", "can only shift numeric values"},
      {"(1 == 1) >> 1", "can only shift numeric values"},
      {"~(1 == 1)", "unsupported unary num operation"},
      {"~1.5", "unsupported unary num operation"},
      {"-\"a\"", "unsupported unary num operation"},
      {"!\"a\"", "unsupported unary num operation"},
      // everything that needs an environment fails
      {"x > 1", "x symbol not found"},
      {"a::b", "a::b symbol not found"},
      {"::a", "a symbol not found"},
      {"@r0", "r0unknown register"},
      {"(int) 1", "cannot cast"},
      {"(struct { int a; }) 1", "cannot cast"},
      {"sizeof(int)", "sizeof(typename) not implemented"},
      {"sizeof 1", "cannot determine sizeof of a constant"},
      {"sizeof(x)", "x symbol not found"},
      {"&1", "cannot take address of a constant"},
      {"*1", "bad expression type"},
      {"1[2]", "bad expression type"},
      {"1.a", "bad expression type"},
      {"1 = 2", "bad expression type"},
      {"++5", "bad expression type"},
      {"addressof(\"f.c\", 1)", "addressof not implemented"},
      {"1(2)", "cannot call a constant"},
      {"f(1)", "f symbol not found"},
      {"(x) 5", "x symbol not found"},
      // the right operand is evaluated first, the target of an assignment first
      {"x + y", "y symbol not found"},
      {"(1 / 0) + x", "x symbol not found"},
      {"x = y", "x symbol not found"},
  };
  for (const auto& [text, message] : cases)
    EXPECT_EQ(evaluate(text), "error: " + message) << text;
}

// --- Entry points -------------------------------------------------------------------------------

TEST(SimpleExpressionParser, EntryPointsGiveValueAndOkFlag) {
  SimpleExpressionParser parser;  // one parser for all, as a directive may reuse it
  const auto boolean = [&](std::string_view text) {
    bool ok = true;
    const bool value = parser.evaluateBoolean(text, ok);
    return std::pair{value, ok};
  };
  EXPECT_EQ(boolean("1 == 1"), std::pair(true, true));
  EXPECT_EQ(boolean("1 == 2"), std::pair(false, true));
  EXPECT_EQ(boolean("(1 == 1) * 2"), std::pair(true, true));
  EXPECT_EQ(boolean("(1 == 1) && 256"), std::pair(false, true));
  EXPECT_EQ(boolean("1"), std::pair(false, false));
  EXPECT_EQ(boolean("1 || 0"), std::pair(false, false));
  EXPECT_EQ(boolean(""), std::pair(false, false));
  EXPECT_EQ(boolean("1 #"), std::pair(false, false));
  EXPECT_EQ(boolean("x == 1"), std::pair(false, false));

  using Unsigned = std::pair<std::uint64_t, bool>;
  const auto toUnsigned = [&](std::string_view text) {
    bool ok = false;
    const std::uint64_t value = parser.evaluateUnsigned(text, ok);
    return std::pair{value, ok};
  };
  EXPECT_EQ(toUnsigned("-1"), Unsigned(~0ULL, true));
  EXPECT_EQ(toUnsigned("0x10"), Unsigned(16ULL, true));
  EXPECT_EQ(toUnsigned("1.5"), Unsigned(0x3FF8000000000000ULL, true));
  EXPECT_EQ(toUnsigned("1 * 0.1"), Unsigned(bitsOf(0.1), true));
  EXPECT_EQ(toUnsigned("(1 == 1) * 0.1"), Unsigned(0ULL, true));  // floating of size 0
  EXPECT_EQ(toUnsigned("1 == 1"), Unsigned(0ULL, false));
  EXPECT_EQ(toUnsigned("\"abc\""), Unsigned(0ULL, false));
  EXPECT_EQ(toUnsigned("7 / 0"), Unsigned(0ULL, false));
  EXPECT_EQ(toUnsigned(""), Unsigned(0ULL, false));

  const auto toSigned = [&](std::string_view text) {
    bool ok = false;
    const std::int64_t value = parser.evaluateSigned(text, ok);
    return std::pair{value, ok};
  };
  EXPECT_EQ(toSigned("-1"), std::pair(std::int64_t{-1}, true));
  EXPECT_EQ(toSigned("2.7"), std::pair(std::int64_t{2}, true));
  EXPECT_EQ(toSigned("-2.7"), std::pair(std::int64_t{-2}, true));
  EXPECT_EQ(toSigned("1.5"), std::pair(std::int64_t{1}, true));
  EXPECT_EQ(toSigned("(1 == 1) * 2.5"), std::pair(std::int64_t{2}, true));
  EXPECT_EQ(toSigned("-(1 == 1)"), std::pair(std::int64_t{-1}, true));
  EXPECT_EQ(toSigned("1 2"), std::pair(std::int64_t{1}, true));
  EXPECT_EQ(toSigned("@r0"), std::pair(std::int64_t{0}, false));
  EXPECT_EQ(toSigned("1 == 1"), std::pair(std::int64_t{0}, false));
}

// --- Robustness ---------------------------------------------------------------------------------

// No text may crash or hang the language: nesting and chains far beyond the limit fail cleanly,
// and everything within it still evaluates.
TEST(Robustness, DeepTextsFailCleanly) {
  SimpleExpressionParser parser;
  bool ok = true;
  for (const char* prefix : {"(", "-", "- ", "!", "~", "+", "&", "*", "++", "--", "(int)",
                             "sizeof ", "f(", "a[", "(1+"}) {
    const std::string deep = repeat(prefix, 10000) + "1";
    ok = true;
    parser.evaluateSigned(deep, ok);
    EXPECT_FALSE(ok) << prefix;
  }
  // Every level of precedence pending at once, many times over.
  const std::string ladder = repeat("1 += 1 = 1 || 1 && 1 | 1 ^ 1 & 1 == 1 < 1 << 1 + 1 * (", 5000);
  parser.evaluateSigned(ladder + "1", ok);
  EXPECT_FALSE(ok);

  for (const char* link : {"+1", "*1", "[1]", ".a", "()", "++"}) {
    const std::string chain = "1" + repeat(link, 100000);
    ok = true;
    parser.evaluateSigned(chain, ok);
    EXPECT_FALSE(ok) << link;
  }
  EXPECT_FALSE(parser.evaluateBoolean("(int" + repeat("*", 100000) + ") 1", ok));
  EXPECT_FALSE(ok);

  // Right at the limit: the outer expression and the innermost operand cost a step each, a
  // parenthesis two, a unary minus one; a chain of n operators is a tree n + 1 high.
  constexpr std::size_t kLimit = kMaxExpressionDepth;
  const std::size_t parens = (kLimit - 2) / 2;
  EXPECT_EQ(parser.evaluateSigned(repeat("(", parens) + "7" + repeat(")", parens), ok), 7);
  EXPECT_TRUE(ok);
  parser.evaluateSigned(repeat("(", parens + 1) + "7" + repeat(")", parens + 1), ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(parser.evaluateSigned(repeat("- ", kLimit - 2) + "7", ok), 7);
  EXPECT_TRUE(ok);
  parser.evaluateSigned(repeat("- ", kLimit - 1) + "7", ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(parser.evaluateSigned("0" + repeat("+1", kLimit - 1), ok),
            static_cast<std::int64_t>(kLimit - 1));
  EXPECT_TRUE(ok);
  parser.evaluateSigned("0" + repeat("+1", kLimit), ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(parser.evaluateSigned(repeat(" ", 100000) + "5" + repeat(" ", 100000), ok), 5);
  EXPECT_TRUE(ok);
  EXPECT_EQ(parser.evaluateSigned(repeat("1", 100000), ok),
            integerLiteralValue(repeat("1", 100000)));
  EXPECT_TRUE(ok);
  EXPECT_TRUE(parser.evaluateBoolean("\"" + repeat("x", 100000) + "\" > \"\"", ok));
  EXPECT_TRUE(ok);
}

// Random texts from the language's own alphabet: whatever they are, the entry points answer.
TEST(Robustness, RandomTextsNeverCrash) {
  const std::vector<std::string> pieces = {
      "1",  "0x1f", "0b1", "2.5", "\"s\"", "x",  "@r", "::", "(",      ")",     "[",      "]",
      "{",  "}",    ".",   "->",  "++",    "--", "!",  "~",  "*",      "/",     "%",      "+",
      "-",  "<<",   ">>",  ">>>", "<",     ">=", "==", "!=", "&",      "^",     "|",      "&&",
      "||", "?",    ":",   "=",   "+=",    ",",  ";",  " ",  "sizeof", "(int)", "struct", "#"};
  std::mt19937 random(12345);
  SimpleExpressionParser parser;
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    const int length = static_cast<int>(random() % 24);
    for (int j = 0; j < length; ++j)
      text += pieces[random() % pieces.size()];
    bool ok = false;
    parser.evaluateBoolean(text, ok);
    parser.evaluateUnsigned(text, ok);
    parser.evaluateSigned(text, ok);
  }
}

// The direct evaluation of literal-and-operator texts must give exactly what the tree gives: the
// same kind, size, bit width, payload and text, and no value where the tree fails. Texts come
// from a small grammar (mostly well formed) and from token soup (mostly not).
std::string randomExpression(std::mt19937& random, int depth) {
  static const std::vector<std::string> literals = {"0",
                                                    "1",
                                                    "7",
                                                    "09",
                                                    "0189",
                                                    "255",
                                                    "0x7fffffffffffffff",
                                                    "0xFFu",
                                                    "0b101",
                                                    "0b",
                                                    "10UL",
                                                    "4294967296",
                                                    "18446744073709551615",
                                                    "2.5",
                                                    "0.1",
                                                    "1.0",
                                                    "\"ab\"",
                                                    "\"\"",
                                                    "-1",
                                                    "x",
                                                    "(int)1",
                                                    "@r"};
  static const std::vector<std::string> binaries = {"*",  "/",  "%",   "+",  "-",  "<<", ">>", "<",
                                                    "<=", ">",  ">=",  "==", "!=", "&",  "^",  "|",
                                                    "&&", "||", ">>>", "=",  "+=", ",",  "?"};
  static const std::vector<std::string> prefixes = {"-", "+", "!", "~", "--", "&", "*"};
  auto space = [&] { return random() % 3 == 0 ? std::string(" ") : std::string(); };
  const unsigned choice = depth <= 0 ? 0 : random() % 6;
  if (choice <= 1) return literals[random() % literals.size()];
  if (choice == 2)
    return prefixes[random() % prefixes.size()] + randomExpression(random, depth - 1);
  if (choice == 3) return "(" + space() + randomExpression(random, depth - 1) + space() + ")";
  return randomExpression(random, depth - 1) + space() + binaries[random() % binaries.size()] +
         space() + randomExpression(random, depth - 1);
}

TEST(DirectEvaluation, AgreesWithTheTree) {
  const std::vector<std::string> pieces = {"1",  "0x1f", "2.5", "\"s\"", "(",  ")", "-",  "!",
                                           "~",  "*",    "%",   "+",     "<<", "<", "==", "&&",
                                           "||", " ",    "x",   "[",     "++", "#", "/"};
  std::mt19937 random(2024);
  SimpleExpressionParser parser;
  CStyleLexer lexer;
  DirectEvaluator direct(lexer);
  int evaluatedDirectly = 0;
  constexpr int kTexts = 40000;
  for (int i = 0; i < kTexts; ++i) {
    std::string text;
    if (i % 2 == 0) {
      text = randomExpression(random, static_cast<int>(random() % 6));
    } else {
      for (int j = static_cast<int>(random() % 12); j > 0; --j)
        text += pieces[random() % pieces.size()];
    }
    ExpressionValue fast;
    if (!direct.evaluate(text, fast)) continue;
    ++evaluatedDirectly;
    try {
      const ExpressionValue tree = parser.evaluateTree(text);
      ASSERT_EQ(fast.kind(), tree.kind()) << text;
      ASSERT_EQ(fast.size(), tree.size()) << text;
      ASSERT_EQ(fast.bitWidth(), tree.bitWidth()) << text;
      ASSERT_EQ(fast.payload(), tree.payload()) << text;
      ASSERT_EQ(fast.stringValue(), tree.stringValue()) << text;
    } catch (const ParserException& e) {
      FAIL() << text << " evaluated directly, but the tree fails: " << e.message();
    }
  }
  EXPECT_GT(evaluatedDirectly, kTexts / 5);

  // Outside the subset, or too deep for it: the tree path answers.
  for (const std::string& text :
       std::vector<std::string>{"x", "(int) 1", "1 ? 2 : 3", "1, 2", "a = 1", "1 >>> 2", "1[0]",
                                "1++", "1(2)", "", "1 / 0", "1 #", std::string(300, '(') + "1"}) {
    ExpressionValue value;
    EXPECT_FALSE(direct.evaluate(text, value)) << text;
  }
  bool ok = false;
  const std::string deep = std::string(300, '(') + "2" + std::string(300, ')') + " == 2";
  EXPECT_TRUE(parser.evaluateBoolean(deep, ok));
  EXPECT_TRUE(ok);
}

// --- An environment that knows names ------------------------------------------------------------

// Variables that hold values, reached through markers: checks that the trees hand markers to the
// hooks in the right places and resolve them before the operators.
class Variable : public MarkerType {
 public:
  explicit Variable(ExpressionValue value) : value_(std::move(value)) {}
  ExpressionValue value() const override { return value_; }
  void set(ExpressionValue value) { value_ = std::move(value); }

 private:
  ExpressionValue value_;
};

class VariableParser : public SimpleExpressionParser {
 public:
  std::map<std::string, std::shared_ptr<Variable>, std::less<>> variables;
  std::vector<std::string> calls;

  ExpressionValue lookupName(std::string_view name) override {
    const auto found = variables.find(name);
    if (found == variables.end()) return SimpleExpressionParser::lookupName(name);
    return ExpressionValue::marker(found->second);
  }
  bool isTypeName(std::string_view name) override { return name == "T" || name == "struct s"; }
  bool isTemplateName(std::string_view name) override { return name == "vec" || name == "map"; }
  ExpressionValue assign(const ExpressionValue& target, const ExpressionValue& value) override {
    calls.push_back("assign " + value.display());
    static_cast<Variable&>(*target.markerObject()).set(value);
    return value;
  }
  ExpressionValue readMarker(const ExpressionValue& marker) override {
    calls.push_back("read");
    return marker.markerObject()->value();
  }
  bool isPointer(const ExpressionValue& marker) override {
    return marker.markerObject() == variables["p"];
  }
  ExpressionValue pointerArithmetic(const ExpressionValue&,
                                    const ExpressionValue& offset) override {
    calls.push_back("pointer + " + offset.display());
    return ExpressionValue::unsignedInteger(0x1000 + offset.toUnsignedBits());
  }

  std::string run(std::string_view text) {
    try {
      return evaluateText(text).display();
    } catch (const ParserException& e) {
      return "error: " + e.message();
    }
  }
};

TEST(Environment, MarkersReachTheHooks) {
  VariableParser parser;
  parser.variables["a"] = std::make_shared<Variable>(ExpressionValue::signedInteger(5));
  parser.variables["b"] = std::make_shared<Variable>(ExpressionValue::signedInteger(1));
  parser.variables["p"] = std::make_shared<Variable>(ExpressionValue::signedInteger(0));
  EXPECT_EQ(parser.run("a * 2 + -a"), "5");
  EXPECT_EQ(parser.run("a == 5"), "true");
  EXPECT_EQ(parser.run("a += 2"), "7");
  EXPECT_EQ(parser.run("a++"), "8");
  EXPECT_EQ(parser.run("b = a"), "8");
  EXPECT_EQ(parser.run("p + 3"), "4099u");
  EXPECT_EQ(parser.run("3 + p"), "3");
  EXPECT_EQ(parser.run("a[1]"), "error: cannot dereference");
  EXPECT_EQ(parser.run("a(1, 2)"), "error: function calling not implemented");
  EXPECT_EQ(parser.run("sizeof a"), "error: sizeof expression not implemented");
  EXPECT_EQ(parser.run("&a"), "error: addressof not implemented");
  const std::vector<std::string> calls = {"assign 7", "assign 8", "read", "assign 8",
                                          "pointer + 3"};
  EXPECT_EQ(parser.calls, calls);

  // Types the environment knows, with template arguments rebuilt as text.
  const auto tree = parser.parseExpression("(vec<T*, map<int, vec<char> >>) (struct s) 1");
  EXPECT_EQ(tree->describe(),
            "CastExpression(vec<T*, map<int, vec<char > > >, CastExpression(struct s, 1))");

  // Copies and binding: a bound identifier evaluates to its address, its copy is unbound.
  const auto name = parser.parseExpression("x");
  const auto copy = name->duplicate();
  name->bind(0x1234, 0);
  EXPECT_EQ(name->evaluate().display(), "4660u");
  EXPECT_EQ(parser.run("x"), "error: x symbol not found");
  EXPECT_THROW(copy->evaluate(), ParserException);
}

}  // namespace
