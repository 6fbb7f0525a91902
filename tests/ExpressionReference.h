#pragma once

// A reference model of the expression language, for the unit tests and the fuzzer: a plain
// recursive-descent evaluator written from the language's rules, one function per construct, with
// its own token table (tried in the table's order) and its own value rules. The product's
// evaluator must agree with it on every text. Its recursion is bounded by the nesting limit.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace reference {

struct Value {
  char kind;  // 'b' boolean, 'i' signed integer, 'f' floating, 's' string
  int size;   // 8 for literals, 0 for booleans, strings and what comes of a boolean
  std::uint64_t bits;
  std::string_view text;

  std::uint8_t low() const { return static_cast<std::uint8_t>(bits); }
  double dbl() const { return std::bit_cast<double>(bits); }
  std::int64_t toSigned() const {
    if (kind == 'b') return low();
    if (kind == 'i') return static_cast<std::int64_t>(bits);
    if (kind != 'f') return 0;
    const double d = dbl();
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0))
      return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
  }
  std::uint64_t toUnsigned() const {
    if (kind == 'f') return size == 8 ? bits : 0;
    return kind == 's' ? 0 : kind == 'b' ? low() : bits;
  }
  double toDouble() const {
    return kind == 'f' ? dbl() : kind == 'b' ? low() : kind == 'i' ? double(toSigned()) : 0.0;
  }
};

inline Value boolean(unsigned byte) {
  return {'b', 0, byte & 0xFF, {}};
}
inline Value integer(std::uint64_t bits, int size) {
  return {'i', size, bits, {}};
}
inline Value floating(double d, int size) {
  return {'f', size, std::bit_cast<std::uint64_t>(d), {}};
}

// The binary operators by spelling; false when the operation fails.
inline bool apply(std::string_view op, Value& l, const Value& r) {
  if (op == "+" || op == "-" || op == "*" || op == "/") {
    const char o = op[0];
    if (o == '/' && ((r.kind == 'b' && r.low() == 0) || (r.kind == 'i' && r.bits == 0) ||
                     (r.kind == 'f' && r.dbl() == 0.0) || r.kind == 's'))
      return false;
    auto calc = [o](double a, double b) {
      return o == '+' ? a + b : o == '-' ? a - b : o == '*' ? a * b : a / b;
    };
    if (r.kind == 'f' && l.kind != 's') {
      l = floating(calc(l.toDouble(), r.dbl()), l.size);
    } else if (l.kind == 'f') {
      l = floating(calc(l.dbl(), r.toDouble()), l.size);
    } else if (l.kind == 'i') {
      const std::uint64_t a = l.bits, b = static_cast<std::uint64_t>(r.toSigned());
      if (o == '/') {
        l.bits = b == ~std::uint64_t{0}
                     ? 0 - a
                     : static_cast<std::uint64_t>(std::int64_t(a) / std::int64_t(b));
      } else {
        l.bits = o == '+' ? a + b : o == '-' ? a - b : a * b;
      }
    } else if (l.kind == 'b') {
      const unsigned a = l.low(), b = r.low();
      if (o == '/' && b == 0) return false;
      l = boolean(o == '+' ? (a + b != 0) : o == '-' ? (a ^ b) : o == '*' ? a * b : a / b);
    } else {
      return false;
    }
    return true;
  }
  if (op == "%") {
    if (l.kind == 'i') {
      const std::int64_t d = r.toSigned();
      if (d == 0) return false;
      l.bits = d == -1 ? 0 : static_cast<std::uint64_t>(std::int64_t(l.bits) % d);
      return true;
    }
    if (l.kind != 'b' || r.low() == 0) return false;
    l = boolean(l.low() % r.low() != 0);
    return true;
  }
  if (op == "<<" || op == ">>") {
    if (r.kind != 'i' || l.kind != 'i') return false;
    const unsigned n = r.bits % 64;
    l.bits = op == "<<" ? l.bits << n : std::uint64_t(std::int64_t(l.bits) >> n);
    return true;
  }
  if (op == "&" || op == "^" || op == "|") {
    auto calc = [&op](std::uint64_t a, std::uint64_t b) {
      return op == "&" ? a & b : op == "^" ? a ^ b : a | b;
    };
    if (l.kind == 'i') {
      l.bits = calc(l.bits, static_cast<std::uint64_t>(r.toSigned()));
    } else if (l.kind == 'b') {
      l = boolean(static_cast<unsigned>(calc(l.low(), r.low())));
    } else {
      return false;
    }
    return true;
  }
  if (op == "&&" || op == "||") {
    const bool isAnd = op == "&&";
    if (l.kind == 'i') {
      const bool a = l.bits != 0, b = r.toSigned() != 0;
      l.bits = isAnd ? (a && b) : (a || b);
    } else if (l.kind == 'b') {
      l = boolean(isAnd ? (l.low() ? r.low() : 0) : (l.low() ? 1 : r.low()));
    } else {
      return false;
    }
    return true;
  }
  // Comparisons.
  int c;
  if (l.kind == 'i') {
    const std::int64_t a = l.toSigned(), b = r.toSigned();
    c = a < b ? -1 : a > b;
  } else if (l.kind == 'b') {
    c = l.low() < r.low() ? -1 : l.low() > r.low();
  } else if (l.kind == 's') {
    const int k = l.text.compare(r.kind == 's' ? r.text : std::string_view());
    c = k < 0 ? -1 : k > 0;
  } else {
    return false;
  }
  const bool holds = op == "=="   ? c == 0
                     : op == "!=" ? c != 0
                     : op == "<"  ? c < 0
                     : op == "<=" ? c <= 0
                     : op == ">"  ? c > 0
                                  : c >= 0;
  l = boolean(holds);
  return true;
}

class Evaluator {
 public:
  static constexpr int kMaxNesting = 1000;

  std::optional<Value> evaluate(std::string_view text) {
    if (text.empty()) return std::nullopt;
    text_ = text;
    pos_ = 0;
    depth_ = 0;
    if (!next()) return std::nullopt;
    Node result;
    if (!binary(-4, result)) return std::nullopt;
    return result;
  }

 private:
  using Node = Value;
  enum class Kind { End, Int, Flt, Str, Name, Op };
  // The operators in the order of the token table; the first that starts at the position wins.
  struct Spelling {
    std::string_view text;
    int precedence;  // 10 for tokens that are no binary operator
  };
  static constexpr Spelling kTable[] = {
      {";", 10},    {"::", 10}, {":", 10},   {"(", 10},  {")", 10},  {"[", 10},   {"]", 10},
      {"{", 10},    {"}", 10},  {".", 10},   {"->", 10}, {"++", 10}, {"--", 10},  {"!=", 5},
      {"!", 10},    {"~", 10},  {"*=", -3},  {"*", 9},   {"/=", -3}, {"/", 9},    {"%=", -3},
      {"%", 9},     {"+=", -3}, {"+", 8},    {"-=", -3}, {"-", 8},   {"<<=", -3}, {"<<", 7},
      {">>>=", -3}, {">>>", 7}, {">>=", -3}, {">>", 7},  {"<=", 6},  {"<", 6},    {">=", 6},
      {">", 6},     {"==", 5},  {"^=", -3},  {"^", 3},   {"&=", -3}, {"&&", 1},   {"&", 4},
      {"|=", -3},   {"||", 0},  {"|", 2},    {"?", -1},  {"=", -2},  {",", -4}};

  static bool digit(char c) { return c >= '0' && c <= '9'; }
  static bool nameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$';
  }

  // Reads the next token; false when nothing in the table matches.
  bool next() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || (text_[pos_] >= 9 && text_[pos_] <= 13)))
      ++pos_;
    const std::string_view rest = text_.substr(pos_);
    std::size_t n = 0;
    auto digits = [&](std::size_t from, auto accept) {
      while (from < rest.size() && accept(rest[from]))
        ++from;
      return from;
    };
    auto suffix = [&](std::size_t i) {
      for (char s : std::string_view("ULLull"))
        if (i < rest.size() && rest[i] == s) ++i;
      return i;
    };
    precedence_ = 10;
    if (rest.empty()) {
      kind_ = Kind::End;
    } else if (rest[0] == '"' && rest.find('"', 1) != std::string_view::npos) {
      kind_ = Kind::Str;
      n = rest.find('"', 1) + 1;
    } else if (rest.starts_with("0x")) {
      kind_ = Kind::Int;
      n = suffix(digits(
          2, [](char c) { return digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }));
    } else if (rest.starts_with("0b")) {
      kind_ = Kind::Int;
      n = digits(2, [](char c) { return c == '0' || c == '1'; });
    } else if (digit(rest[0])) {
      n = digits(0, digit);
      if (n + 1 < rest.size() && rest[n] == '.' && digit(rest[n + 1])) {
        kind_ = Kind::Flt;
        n = digits(n + 1, digit);
      } else {
        kind_ = Kind::Int;
        n = suffix(n);
      }
    } else if (nameStart(rest[0]) || rest[0] == '@') {
      kind_ = Kind::Name;
      n = digits(1, [](char c) { return nameStart(c) || digit(c); });
    } else {
      kind_ = Kind::Op;
      for (const Spelling& s : kTable) {
        if (rest.starts_with(s.text)) {
          n = s.text.size();
          precedence_ = s.precedence;
          break;
        }
      }
      if (n == 0) return false;
    }
    token_ = rest.substr(0, n);
    pos_ += n;
    return true;
  }
  bool is(std::string_view op) const { return kind_ == Kind::Op && token_ == op; }

  // Counts the parentheses and prefix operators open around what is being read.
  struct Open {
    explicit Open(int& depth) : depth_(depth), ok(++depth <= kMaxNesting) {}
    ~Open() { --depth_; }
    int& depth_;
    bool ok;
  };

  bool binary(int level, Node& left) {
    if (!unary(left)) return false;
    while (precedence_ >= level && precedence_ <= 9) {
      const std::string_view op = token_;
      const int precedence = precedence_;
      if (!next()) return false;
      Node right;
      if (!(precedence == 9 ? unary(right) : binary(precedence + 1, right))) return false;
      if (precedence < 0 || op == ">>>") return false;  // no operation
      if (!apply(op, left, right)) return false;
    }
    return true;
  }

  bool unary(Node& node) {
    const std::string_view token = token_;
    if (kind_ == Kind::Int || kind_ == Kind::Flt || kind_ == Kind::Str) {
      if (kind_ == Kind::Str) {
        node = {'s', 0, 0, token.substr(1, token.size() - 2)};
      } else if (kind_ == Kind::Flt) {
        node = floating(std::stod(std::string(token)), 8);
      } else {
        node = integer(literal(token), 8);
      }
      if (!next()) return false;
    } else if (is("(")) {
      Open open(depth_);
      if (!open.ok || !next() || kind_ == Kind::Name) return false;  // a cast or a name fails
      if (!binary(-4, node) || !is(")") || !next()) return false;
    } else if (is("+")) {
      Open open(depth_);
      if (!open.ok || !next() || !unary(node)) return false;
    } else if (is("-") || is("!") || is("~")) {
      Open open(depth_);
      if (!open.ok || !next() || !unary(node)) return false;
      Value& v = node;
      if (token == "!") {
        if (v.kind == 's') return false;
        v = boolean(v.kind == 'b' ? v.low() ^ 1 : v.kind == 'f' ? v.dbl() == 0.0 : v.bits == 0);
      } else if (token == "~") {
        if (v.kind != 'i') return false;
        v.bits = ~v.bits;
      } else if (v.kind == 'b') {
        v = integer(0 - std::uint64_t{v.low()}, 0);
      } else if (v.kind == 'f') {
        v = floating(-v.dbl(), v.size);
      } else if (v.kind == 'i') {
        v.bits = 0 - v.bits;
      } else {
        return false;
      }
    } else {
      return false;  // names, registers, casts, &, *, ++, --, or no operand at all
    }
    // Subscripts, members, increments and calls can only fail.
    return !(is("[") || is(".") || is("->") || is("++") || is("--") || is("("));
  }

  static std::uint64_t literal(std::string_view t) {
    unsigned base = 10;
    std::size_t i = 0;
    if (t.starts_with("0x") || t.starts_with("0b")) {
      base = t[1] == 'x' ? 16 : 2;
      i = 2;
    } else if (t.starts_with("0")) {
      base = 8;
      i = 1;
    }
    std::uint64_t v = 0;
    for (; i < t.size() && std::string_view("ULul").find(t[i]) == std::string_view::npos; ++i) {
      const char c = t[i];
      v = v * base + (digit(c) ? c - '0' : c >= 'a' ? c - 'a' + 10 : c - 'A' + 10);
    }
    return v;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int depth_ = 0;
  Kind kind_ = Kind::End;
  std::string_view token_;
  int precedence_ = 10;
};

// What the tool's three entry points give for a text: the truth value of a boolean, the unsigned
// and the signed value of a number, and nothing for anything else.
struct Entries {
  std::optional<bool> truth;
  std::optional<std::uint64_t> bits;
  std::optional<std::int64_t> number;
  bool operator==(const Entries&) const = default;
};

inline Entries entries(std::string_view text) {
  const std::optional<Value> v = Evaluator().evaluate(text);
  Entries result;
  if (v && v->kind == 'b') result.truth = v->low() != 0;
  if (v && (v->kind == 'i' || v->kind == 'f')) {
    result.bits = v->toUnsigned();
    result.number = v->toSigned();
  }
  return result;
}

}  // namespace reference
