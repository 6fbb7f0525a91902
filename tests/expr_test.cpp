#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ExpressionReference.h"
#include "expr/Evaluator.h"

namespace {

// The entries as one comparable line: "bool/unsigned/signed", each a value or "-" for nothing.
std::string show(const reference::Entries& entries) {
  auto one = [](const auto& value) {
    return value ? std::to_string(static_cast<std::uint64_t>(*value)) : std::string("-");
  };
  return one(entries.truth) + "/" + one(entries.bits) + "/" + one(entries.number);
}

// What each entry point of the tool makes of a text.
std::string entries(ExpressionEvaluator& evaluator, std::string_view text) {
  return show(
      {evaluator.truthValue(text), evaluator.unsignedValue(text), evaluator.signedValue(text)});
}

std::string referenceEntries(std::string_view text) {
  return show(reference::entries(text));
}

// The rules a user sees through the three entry points, one row each.
TEST(Evaluator, EntryPoints) {
  const std::uint64_t minusOne = ~std::uint64_t{0};
  const std::string m1 = std::to_string(minusOne);
  struct Case {
    const char* text;
    std::string expected;
  } cases[] = {
      {"", "-/-/-"},
      {"   ", "-/-/-"},
      {"1 == 1", "1/-/-"},
      {"1", "-/1/1"},
      {"-1", "-/" + m1 + "/" + m1},
      {"0x10", "-/16/16"},
      {"1.5", "-/" + std::to_string(std::bit_cast<std::uint64_t>(1.5)) + "/1"},
      {"2.7", "-/" + std::to_string(std::bit_cast<std::uint64_t>(2.7)) + "/2"},
      {"-2.7", "-/" + std::to_string(std::bit_cast<std::uint64_t>(-2.7)) + "/" +
                   std::to_string(static_cast<std::uint64_t>(std::int64_t{-2}))},
      {"99999999999999999999.0", "-/" + std::to_string(std::bit_cast<std::uint64_t>(1e20)) + "/" +
                                     std::to_string(std::uint64_t{1} << 63)},
      {"(1 == 1) * 0.5", "-/0/0"},
      {"\"abc\"", "-/-/-"},
      {"\"abc\" < \"abd\"", "1/-/-"},
      {"\"a\" == 0", "0/-/-"},
      {"1 == 1 == 1", "1/-/-"},
      {"2 == 2 == 2", "0/-/-"},
      {"2 == 2.9", "1/-/-"},
      {"2.9 == 2", "-/-/-"},
      {"(1 == 1) && 256", "0/-/-"},
      {"1 || 0", "-/1/1"},
      {"0 && (1 / 0)", "-/-/-"},
      {"7 / 2", "-/3/3"},
      {"-7 % 2", "-/" + m1 + "/" + m1},
      {"7 % 0", "-/-/-"},
      {"1 << 64", "-/1/1"},
      {"1 << 2.0", "-/-/-"},
      {"9223372036854775807 + 1 < 0", "1/-/-"},
      {"!0.0", "1/-/-"},
      {"~(1 == 1)", "-/-/-"},
      {"-(1 == 1)", "-/" + m1 + "/" + m1},
      {"1 2 #", "-/1/1"},
      {"1 #", "-/-/-"},
      {"1 ? 2 : 3", "-/-/-"},
      {"x > 1", "-/-/-"},
      {"@r0", "-/-/-"},
      {"(int) 1", "-/-/-"},
      {"sizeof(int)", "-/-/-"},
      {"a = 1", "-/-/-"},
      {"(1) (2)", "-/-/-"},
      {"(1", "-/-/-"},
      {"1)", "-/1/1"},
  };
  ExpressionEvaluator evaluator;
  for (const Case& c : cases) {
    EXPECT_EQ(entries(evaluator, c.text), c.expected) << c.text;
    EXPECT_EQ(referenceEntries(c.text), c.expected) << "reference: " << c.text;
  }
}

// Where each token ends: literal forms and suffix letters, operators that are the start of longer
// ones, every kind of white space, NUL bytes, and where the expression is read up to. Each row
// gives the signed value ("-" when the text fails or has another kind) and endOfLast() when the
// text evaluates.
TEST(Evaluator, TokenEdgesAndEndPositions) {
  using namespace std::string_view_literals;
  struct Case {
    std::string_view text;
    const char* value;
    std::size_t end;
  } cases[] = {
      {"7", "7", 1},
      {"  7  ", "7", 5},
      {"1\t+\n2\v*\f3\r", "7", 10},
      {"1 x", "1", 2},
      {"0X4", "0", 1},
      {"1 2 #", "1", 2},
      {"1)", "1", 1},
      {"12UL3", "12", 4},
      {"12uU", "12", 3},
      {"12ULLull", "12", 8},
      {"0x1fLu", "31", 6},
      {"0x", "0", 2},
      {"0b102", "2", 4},
      {"0b", "0", 2},
      {"0189", "137", 4},
      {"09", "9", 2},
      {"18446744073709551617", "1", 20},
      {"08.5 + 1", "9", 8},
      {"1.5.2", "-", 0},
      {"1.", "-", 0},
      {"1 <<2", "4", 5},
      {"1<<=2", "-", 0},
      {"8>>1", "4", 4},
      {"8>>>1", "-", 0},
      {"8>>=1", "-", 0},
      {"8> >1", "-", 0},
      {"1< =1", "-", 0},
      {"1- -1", "2", 5},
      {"1--1", "-", 0},
      {"1-->0", "-", 0},
      {"1->x", "-", 0},
      {"1+ +1", "2", 5},
      {"1++1", "-", 0},
      {"1&=1", "-", 0},
      {"1|=2", "-", 0},
      {"1=1", "-", 0},
      {"6^=3", "-", 0},
      {"6 ^3", "5", 4},
      {"7%=2", "-", 0},
      {"7 %2", "1", 4},
      {"!!3 + 1", "-", 7},
      {"1 ;", "1", 2},
      {"1 :: 2", "1", 2},
      {"1 }", "1", 2},
      {"1 ]", "1", 2},
      {"1 $(i)", "1", 2},
      {"1 @r", "1", 2},
      {"1 \"s", "-", 0},
      {"1 \"s\"", "1", 2},
      {"1\0"sv, "-", 0},
      {"1 2\0"sv, "1", 2},
      {"\0"sv, "-", 0},
      {"1 +\0 2"sv, "-", 0},
      {"(1 + 2) * -(3)", "-9", 14},
      {"- - 4", "4", 5},
      {"1 + (2", "-", 0},
  };
  ExpressionEvaluator evaluator;
  for (const Case& c : cases) {
    // A failing text leaves the end of the text before it: reset it with one that evaluates.
    ASSERT_TRUE(evaluator.signedValue("0"));
    const bool evaluates = evaluator.value(c.text).has_value();
    EXPECT_EQ(evaluator.endOfLast(), evaluates ? c.end : 1) << c.text;
    const std::optional<std::int64_t> value = evaluator.signedValue(c.text);
    EXPECT_EQ(value ? std::to_string(*value) : "-", c.value) << c.text;
  }
}

// The scanner reads only the text it is given, never the bytes after it, whatever was evaluated
// before.
TEST(Evaluator, ReadsOnlyTheGivenText) {
  ExpressionEvaluator evaluator;
  const std::string_view whole = "1 + 2 << 3";
  EXPECT_EQ(evaluator.signedValue(whole), 24);
  EXPECT_EQ(evaluator.signedValue(whole.substr(0, 3)), std::nullopt);  // "1 +"
  EXPECT_EQ(evaluator.signedValue(whole.substr(0, 7)), std::nullopt);  // "1 + 2 <"
  EXPECT_EQ(evaluator.signedValue(whole.substr(0, 8)), std::nullopt);  // "1 + 2 <<"
  EXPECT_EQ(evaluator.signedValue(whole.substr(0, 5)), 3);
  EXPECT_EQ(evaluator.endOfLast(), 5u);
  const std::string_view quoted = "\"ab\" + 1";
  EXPECT_EQ(evaluator.value(quoted.substr(0, 3)), std::nullopt);  // "\"ab"
}

// A string's value is a view of its characters in the text; other values carry no text.
TEST(Evaluator, ValuesOfEachKind) {
  ExpressionEvaluator evaluator;
  const std::string_view text = "\"abc\" x";
  const std::optional<Value> string = evaluator.value(text);
  ASSERT_TRUE(string);
  EXPECT_EQ(string->kind, ValueKind::String);
  EXPECT_EQ(string->text.data(), text.data() + 1);
  EXPECT_EQ(string->text.size(), 3u);
  EXPECT_EQ(evaluator.endOfLast(), 6u);
  struct Case {
    const char* text;
    ValueKind kind;
    unsigned size;
    std::uint64_t bits;
  } cases[] = {
      {"5 > 3", ValueKind::Boolean, 0, 1},
      {"(5 > 3) && 2", ValueKind::Boolean, 0, 2},
      {"(5 > 3) || 2", ValueKind::Boolean, 0, 1},
      {"(5 < 3) || 0.5", ValueKind::Boolean, 0, 0},
      {"-(5 > 3)", ValueKind::Signed, 0, ~std::uint64_t{0}},
      {"-(5 > 3) * 4", ValueKind::Signed, 0, static_cast<std::uint64_t>(-4)},
      {"3 && 2", ValueKind::Signed, 8, 1},
      {"0 || 0", ValueKind::Signed, 8, 0},
      {"7 * 6", ValueKind::Signed, 8, 42},
      {"(-9223372036854775807 - 1) / -1", ValueKind::Signed, 8, std::uint64_t{1} << 63},
      {"(-9223372036854775807 - 1) % -1", ValueKind::Signed, 8, 0},
      {"-7 >> 1", ValueKind::Signed, 8, static_cast<std::uint64_t>(-4)},
      {"1 << 65", ValueKind::Signed, 8, 2},
      {"2 * 1.5", ValueKind::Floating, 8, std::bit_cast<std::uint64_t>(3.0)},
      {"(1 == 1) + 0.5", ValueKind::Floating, 0, std::bit_cast<std::uint64_t>(1.5)},
  };
  for (const Case& c : cases) {
    const std::optional<Value> value = evaluator.value(c.text);
    ASSERT_TRUE(value) << c.text;
    EXPECT_EQ(value->kind, c.kind) << c.text;
    EXPECT_EQ(value->size, c.size) << c.text;
    EXPECT_EQ(value->bits, c.bits) << c.text;
    EXPECT_TRUE(value->text.empty()) << c.text;
  }
}

// Every operator and punctuation byte followed by every other, and by a third, with control bytes
// and bytes above 127 among them: the scanner's tables read the same tokens as the reference's
// token table, after an operand and where one must start.
TEST(Evaluator, OperatorBytesAgreeWithTheReference) {
  static constexpr std::string_view kBytes =
      "!%&()*+,-./:;<=>?@[]^{|}~#'\\`\"$_a0 \t\x01\x7f\x80\xff";
  ExpressionEvaluator evaluator;
  for (char c : kBytes) {
    for (char c1 : kBytes) {
      for (char c2 : kBytes) {
        for (std::string text :
             {std::string("6 ") + c + c1 + c2 + "3", std::string() + c + c1 + c2 + "3"}) {
          ASSERT_EQ(entries(evaluator, text), referenceEntries(text)) << text;
        }
      }
    }
  }
}

// Parentheses and prefix operators nest up to 1,000 deep; deeper texts fail, without deep
// recursion. A chain of operators is not nesting, however long.
TEST(Evaluator, NestingLimits) {
  ExpressionEvaluator evaluator;
  auto nested = [](int depth, const char* open, const char* close) {
    std::string text;
    for (int i = 0; i < depth; ++i)
      text += open;
    text += "1";
    for (int i = 0; i < depth; ++i)
      text += close;
    return text;
  };
  auto chain = [](int terms) {
    std::string text = "1";
    for (int i = 1; i < terms; ++i)
      text += "+1";
    return text;
  };
  EXPECT_EQ(evaluator.signedValue(nested(1000, "(", ")")), 1);
  EXPECT_EQ(evaluator.signedValue(nested(1001, "(", ")")), std::nullopt);
  EXPECT_EQ(evaluator.signedValue(nested(10000, "(", ")")), std::nullopt);
  EXPECT_EQ(evaluator.signedValue(nested(500, "(- ", ")")), 1);
  EXPECT_EQ(evaluator.signedValue(nested(501, "(- ", ")")), std::nullopt);
  EXPECT_EQ(evaluator.signedValue(nested(1000, "- ", "")), 1);
  EXPECT_EQ(evaluator.signedValue(nested(1001, "+ ", "")), std::nullopt);
  EXPECT_EQ(evaluator.signedValue(nested(100000, "- ", "")), std::nullopt);
  EXPECT_EQ(evaluator.signedValue(chain(100000)), 100000);
  EXPECT_EQ(evaluator.signedValue("(" + chain(100000) + ") * (" + nested(999, "(", ")") + ")"),
            100000);
}

// A small deterministic generator of texts: mostly well-formed expressions over every kind of
// literal and operator (with prefixes, groups, trailing tokens and texts that can only fail),
// some token soup, and some texts nested around the limits.
class TextGenerator {
 public:
  explicit TextGenerator(std::uint64_t seed) : state_(seed) {}

  std::string next() {
    std::string text;
    const unsigned mode = below(20);
    if (mode == 0) return deep();
    if (mode == 1) {
      static constexpr std::string_view kSoup =
          "0123456789xbULul.()+-*/%<>=!&|^~?:;,[]{}\"'#@$_ aZ\t\n";
      for (unsigned n = below(12); n > 0; --n)
        text += kSoup[below(kSoup.size())];
      return text;
    }
    expression(text, 0);
    static constexpr const char* kAfter[] = {"",   "",    "",     "",   "",   "[0]",  ".x",
                                             "++", "(1)", ")",    " x", " #", " 'a'", " 2",
                                             " @", " ;",  " \"o", ":",  "]"};
    text += kAfter[below(std::size(kAfter))];
    return text;
  }

 private:
  unsigned below(std::size_t n) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned>((state_ >> 33) % n);
  }

  void expression(std::string& out, int depth) {
    static constexpr const char* kAtoms[] = {"0",
                                             "1",
                                             "2",
                                             "7",
                                             "255",
                                             "256",
                                             "010",
                                             "08",
                                             "0189",
                                             "0x1F",
                                             "0x",
                                             "0xff",
                                             "0b101",
                                             "0b",
                                             "0b12",
                                             "12U",
                                             "12LU",
                                             "1.5",
                                             "0.1",
                                             "2.9",
                                             "0.0",
                                             "1.",
                                             "1e5",
                                             "\"a\"",
                                             "\"b\"",
                                             "\"\"",
                                             "63",
                                             "64",
                                             "-60",
                                             "18446744073709551615",
                                             "9223372036854775807",
                                             "x",
                                             "@r",
                                             "::a",
                                             "sizeof",
                                             "(int)",
                                             "&1",
                                             "*1",
                                             "++1"};
    static constexpr const char* kOps[] = {"+",   "-",  "*",  "/",   "%", "<<", ">>", "<",  "<=",
                                           ">",   ">=", "==", "!=",  "&", "^",  "|",  "&&", "||",
                                           ">>>", "=",  "+=", "<<=", "?", ",",  "->", "::"};
    static constexpr const char* kPrefixes[] = {"-", "+", "!", "~", "- ", "!!"};
    const unsigned choice = below(10);
    if (depth > 6 || choice < 4) {
      out += kAtoms[below(std::size(kAtoms))];
    } else if (choice < 6) {
      out += kPrefixes[below(std::size(kPrefixes))];
      expression(out, depth + 1);
    } else if (choice < 7) {
      out += "(";
      expression(out, depth + 1);
      if (below(8)) out += ")";
    } else {
      expression(out, depth + 1);
      out += below(3) ? " " : "";
      out += kOps[below(below(4) ? 18 : std::size(kOps))];
      out += below(3) ? " " : "";
      expression(out, depth + 1);
    }
  }

  std::string deep() {
    const int n = 480 + static_cast<int>(below(560));
    static constexpr const char* kOpen[] = {"(", "-", "+ ", "(-", "1+(", "1*(", "!"};
    static constexpr const char* kJoin[] = {"+1", "*2", "<<1", "==1", "-(1)"};
    std::string text;
    if (below(2)) {
      const char* open = kOpen[below(std::size(kOpen))];
      for (int i = 0; i < n; ++i)
        text += open;
      text += "1";
      text.append(std::count(text.begin(), text.end(), '('), ')');
    } else {
      text = "1";
      for (int i = 1; i < n; ++i)
        text += kJoin[below(std::size(kJoin))];
    }
    return text;
  }

  std::uint64_t state_;
};

// Hundreds of thousands of texts (a tenth of them in a sanitizer build, which is far slower): the
// evaluator agrees with the reference model on every entry.
TEST(Evaluator, AgreesWithTheReferenceOnRandomTexts) {
#ifdef __SANITIZE_ADDRESS__
  constexpr int kTexts = 20000;
#else
  constexpr int kTexts = 200000;
#endif
  TextGenerator generator(1);
  ExpressionEvaluator evaluator;
  int values = 0;
  for (int i = 0; i < kTexts; ++i) {
    const std::string text = generator.next();
    const std::string expected = referenceEntries(text);
    ASSERT_EQ(entries(evaluator, text), expected) << text;
    values += expected != "-/-/-";
  }
  EXPECT_GT(values, kTexts / 4);  // the texts are not all failures
}

}  // namespace
