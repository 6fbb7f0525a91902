// The expression language as this tool sees it.
//
// The language is C's expression syntax: literals (decimal, octal, "0x" hexadecimal and "0b"
// binary integers with optional U/L suffixes, floating numbers written digits-point-digits, and
// strings in double quotes), parentheses, the prefix operators + - ! ~ and the binary operators
// from * / % down to || at C's precedence levels, all left-associative. Its values are
// booleans, 64-bit signed integers, doubles and strings; the left operand decides the kind of a
// result, both sides of && and || are always evaluated, and shift counts are taken modulo 64.
//
// The full language also has names, registers, casts, sizeof, address-of, dereference, calls,
// subscripts, member access, assignments and increments. They need an environment that knows
// variables and memory, and this tool has none: each of them can only fail. So they are
// recognised only as far as needed to fail, or to know that the expression has ended: a name
// after a complete operand ends the expression ("1 x" is 1), a name where an operand must start
// fails. The operators ">>>", "?" and "," exist as tokens but have no operation. The scanner
// reads one token ahead, so a byte that forms no token right after the expression still makes
// it fail ("1 #"), while one further on does not ("1 2 #" is 1).
//
// Evaluation is operator-precedence parsing with one explicit stack of the operators waiting for
// their right operand (each binary one with its left operand) and of the open parentheses, while
// the operand being read stays out of it; each operator is applied as soon as its operands are
// known. Nothing recurses, whatever the text, and a chain of operators at one level (a sum of any
// number of terms) keeps the stack short. Nesting, open parentheses and prefix operators inside
// one another, is bounded all the same, as an explicit limit: a text nested deeper than a real
// expression ever is fails like any other bad text.
//
// Conditions are evaluated millions of times in a run, so the common path is kept short: the
// scanner reads a NUL-padded copy of the text through byte tables (Tokens.h) with no bounds
// tests, and two signed operands, or two joined conditions, are combined without the general
// conversions of Value.cpp.

#include "expr/Evaluator.h"

#include <array>
#include <cstring>

#include "Scanner.h"

namespace {

// The most parentheses and prefix operators open around an operand.
constexpr unsigned kMaxNesting = 1000;
// The level of the prefix operators, above every binary one.
constexpr std::int8_t kPrefixLevel = 10;
// The pending entries room is made for at first; deeper texts grow the storage.
constexpr std::size_t kInitialHeight = 64;

// Which outcomes of comparing a to b make each comparison hold, by operator: bit 0 for a < b,
// bit 1 for a == b, bit 2 for a > b.
constexpr std::array<std::uint8_t, 18> kHolds = [] {
  using enum BinaryOperator;
  std::array<std::uint8_t, 18> holds{};
  holds[static_cast<std::size_t>(Less)] = 0b001;
  holds[static_cast<std::size_t>(LessEqual)] = 0b011;
  holds[static_cast<std::size_t>(Greater)] = 0b100;
  holds[static_cast<std::size_t>(GreaterEqual)] = 0b110;
  holds[static_cast<std::size_t>(Equal)] = 0b010;
  holds[static_cast<std::size_t>(NotEqual)] = 0b101;
  return holds;
}();

// A comparison of two signed integers, without a branch on the operator.
bool comparison(BinaryOperator op, std::int64_t a, std::int64_t b) {
  const unsigned outcome = static_cast<unsigned>(a >= b) + static_cast<unsigned>(a > b);
  return (kHolds[static_cast<std::size_t>(op)] >> outcome) & 1;
}

// A binary operator on two signed integers, the most common case, without converting either
// operand: `right` becomes the result, which takes the kind and size of `left`.
bool applySigned(BinaryOperator op, const Value& left, Value& right) {
  using enum BinaryOperator;
  const std::uint64_t a = left.bits;
  const std::uint64_t b = right.bits;
  const auto sa = static_cast<std::int64_t>(a);
  const auto sb = static_cast<std::int64_t>(b);
  std::uint64_t bits;
  switch (op) {
    case Multiply:
      bits = a * b;  // wraps
      break;
    case Divide:
      if (b == 0) return false;
      if ((a | b) >> 32 == 0) {
        // Both non-negative and below 2 to the 32: the narrower division is the same and faster.
        bits = static_cast<std::uint32_t>(a) / static_cast<std::uint32_t>(b);
        break;
      }
      // The smallest value divided by -1 wraps to itself.
      bits = sb == -1 ? 0 - a : static_cast<std::uint64_t>(sa / sb);
      break;
    case Remainder:
      if (b == 0) return false;
      if ((a | b) >> 32 == 0) {
        bits = static_cast<std::uint32_t>(a) % static_cast<std::uint32_t>(b);
        break;
      }
      bits = sb == -1 ? 0 : static_cast<std::uint64_t>(sa % sb);
      break;
    case Add:
      bits = a + b;
      break;
    case Subtract:
      bits = a - b;
      break;
    case ShiftLeft:
      bits = a << (b & 63);
      break;
    case ShiftRight:
      bits = static_cast<std::uint64_t>(sa >> (b & 63));
      break;
    case Less:
    case LessEqual:
    case Greater:
    case GreaterEqual:
    case Equal:
    case NotEqual:
      right = Value::boolean(comparison(op, sa, sb) ? 1 : 0);
      return true;
    case BitAnd:
      bits = a & b;
      break;
    case BitXor:
      bits = a ^ b;
      break;
    case BitOr:
      bits = a | b;
      break;
    case LogicalAnd:
      bits = a != 0 && b != 0 ? 1 : 0;
      break;
    default:  // LogicalOr
      bits = a != 0 || b != 0 ? 1 : 0;
      break;
  }
  right.bits = bits;
  right.size = left.size;
  return true;
}

// Applies a binary operator to its left operand and `right`; `right` becomes the result.
inline bool reduce(std::uint8_t op, Value& left, Value& right) {
  const auto which = static_cast<BinaryOperator>(op);
  if (left.kind == ValueKind::Signed && right.kind == ValueKind::Signed)
    return applySigned(which, left, right);
  if (left.kind == ValueKind::Boolean &&
      (which == BinaryOperator::LogicalAnd || which == BinaryOperator::LogicalOr)) {
    // Conditions joined: the right operand's low byte passes through, whatever its kind.
    const bool holds = left.lowByte() != 0;
    right = Value::boolean(which == BinaryOperator::LogicalAnd ? (holds ? right.lowByte() : 0)
                                                               : (holds ? 1 : right.lowByte()));
    return true;
  }
  if (!applyBinary(which, left, right)) return false;
  right = left;
  return true;
}

// The value of a literal token, or false for any other token.
bool literalValue(const Scanner& scanner, Value& value) {
  if (scanner.token() == Token::Integer) {
    value = Value::integer(static_cast<std::int64_t>(scanner.integer()));
    return true;
  }
  switch (scanner.token()) {
    case Token::Floating:
      value = Value::floating(floatingLiteralValue(scanner.text()));
      return true;
    case Token::String: {
      const std::string_view quoted = scanner.text();
      value = Value::string(quoted.substr(1, quoted.size() - 2));
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

std::optional<bool> ExpressionEvaluator::truthValue(std::string_view text) {
  Value value;
  if (!evaluate(text, value) || value.kind != ValueKind::Boolean) return std::nullopt;
  return value.lowByte() != 0;
}

std::optional<std::uint64_t> ExpressionEvaluator::unsignedValue(std::string_view text) {
  Value value;
  if (!evaluate(text, value)) return std::nullopt;
  if (value.kind != ValueKind::Signed && value.kind != ValueKind::Floating) return std::nullopt;
  return value.toUnsignedBits();
}

std::optional<std::int64_t> ExpressionEvaluator::signedValue(std::string_view text) {
  Value value;
  if (!evaluate(text, value)) return std::nullopt;
  if (value.kind != ValueKind::Signed && value.kind != ValueKind::Floating) return std::nullopt;
  return value.toSigned();
}

std::optional<Value> ExpressionEvaluator::value(std::string_view text) {
  Value value;
  if (!evaluate(text, value)) return std::nullopt;
  return value;
}

bool ExpressionEvaluator::prefixEntry(const Scanner& scanner, Pending& entry) {
  using Type = Pending::Type;
  // Prefix operators bind tighter than any binary one.
  entry.precedence = kPrefixLevel;
  entry.op = 0;
  switch (scanner.token()) {
    case Token::Open:
      entry.type = Type::Group;
      entry.precedence = -1;
      return true;
    case Token::Operator:
      // "+" and "-" are the binary operators that are prefix ones too.
      if (scanner.op() == BinaryOperator::Add) {
        entry.type = Type::Plus;
        return true;
      }
      entry.type = Type::Prefix;
      entry.op = static_cast<std::uint8_t>(UnaryOperator::Negate);
      return scanner.op() == BinaryOperator::Subtract;
    case Token::Not:
    case Token::Tilde:
      entry.type = Type::Prefix;
      entry.op = static_cast<std::uint8_t>(scanner.token() == Token::Not ? UnaryOperator::LogicalNot
                                                                         : UnaryOperator::BitNot);
      return true;
    default:
      return false;
  }
}

ExpressionEvaluator::Pending* ExpressionEvaluator::grow(Pending* top, Pending*& last) {
  const auto height = static_cast<std::size_t>(top - pending_.data());
  pending_.resize(pending_.size() * 2);
  last = &pending_.back();
  return pending_.data() + height;
}

bool ExpressionEvaluator::evaluate(std::string_view text, Value& result) {
  using Type = Pending::Type;
  if (text.empty()) return false;
  if (pending_.size() < kInitialHeight) pending_.resize(kInitialHeight);
  Pending* top = pending_.data();
  Pending* last = &pending_.back();
  top->type = Type::Bottom;
  top->precedence = -1;
  unsigned nesting = 0;  // the open parentheses and prefix operators
  unsigned groups = 0;   // the open parentheses alone
  Value operand;
  // The scanner reads a copy of the text followed by NUL bytes.
  const std::size_t size = text.size();
  if (padded_.size() < size + kScannerPadding) padded_.resize(size + kScannerPadding);
  std::memcpy(padded_.data(), text.data(), size);
  std::memset(padded_.data() + size, 0, kScannerPadding);
  Scanner scanner(text, padded_.data());
  if (!scanner.next()) return false;
  while (true) {
    // Where an operand must start: prefix operators and open parentheses, then a literal.
    while (!literalValue(scanner, operand)) {
      if (top == last) top = grow(top, last);
      if (!prefixEntry(scanner, *++top)) return false;
      groups += top->type == Type::Group ? 1 : 0;
      if (++nesting > kMaxNesting || !scanner.next()) return false;
    }
    // The operand is complete. The prefix operators in front of it, and the binary operators
    // before it of the same or a higher level than the next token, apply (left to right); all
    // of them before anything but an operator. A closing parenthesis completes a group, which is
    // again an operand with prefixes in front.
    while (true) {
      if (!scanner.next()) return false;
      const int level = scanner.level();
      for (; top->precedence >= level; --top) {
        if (top->type == Type::Binary) {
          if (!reduce(top->op, top->left, operand)) return false;
        } else {
          if (top->type == Type::Prefix &&
              !applyUnary(static_cast<UnaryOperator>(top->op), operand))
            return false;
          --nesting;
        }
      }
      if (scanner.token() != Token::Close || groups == 0) break;
      --top, --groups, --nesting;
    }
    if (scanner.token() != Token::Operator) break;
    if (top == last) top = grow(top, last);
    ++top;
    top->type = Type::Binary;
    top->op = static_cast<std::uint8_t>(scanner.op());
    top->precedence = static_cast<std::int8_t>(scanner.level());
    top->left = operand;
    if (!scanner.next()) return false;
  }
  // The token after the last operand is not an operator. Postfix operators and calls, and
  // operators without an operation, fail; anything else ends the expression, which must not
  // leave a parenthesis open.
  if (scanner.token() == Token::Open || scanner.token() == Token::Fails || groups > 0) return false;
  result = operand;
  end_ = scanner.tokenStart();
  return true;
}
