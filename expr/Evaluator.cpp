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
// Evaluation is operator-precedence parsing with two explicit stacks (operands, and operators
// waiting for their right operand), applying each operator as soon as its operands are known.
// Nothing recurses, whatever the text, and a chain of operators at one level (a sum of any number
// of terms) keeps the stacks short. Nesting, open parentheses and prefix operators inside one
// another, is bounded all the same, as an explicit limit: a text nested deeper than a real
// expression ever is fails like any other bad text.

#include "expr/Evaluator.h"

#include "Scanner.h"

namespace {

// The most parentheses and prefix operators open around an operand.
constexpr unsigned kMaxNesting = 1000;

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

// Applies the binary operator on top of the pending stack to the two topmost operands.
bool ExpressionEvaluator::reduceBinary() {
  const Pending top = pending_.back();
  pending_.pop_back();
  const Value right = operands_.back();
  operands_.pop_back();
  return applyBinary(static_cast<BinaryOperator>(top.op), operands_.back(), right);
}

// Reads where an operand must start: prefix operators and open parentheses, then a literal.
bool ExpressionEvaluator::readOperand(Scanner& scanner) {
  while (true) {
    switch (scanner.token()) {
      case Token::Integer:
        operands_.push_back(Value::integer(integerLiteralValue(scanner.text())));
        return true;
      case Token::Floating:
        operands_.push_back(Value::floating(floatingLiteralValue(scanner.text())));
        return true;
      case Token::String: {
        const std::string_view quoted = scanner.text();
        operands_.push_back(Value::string(quoted.substr(1, quoted.size() - 2)));
        return true;
      }
      case Token::Open:
        pending_.push_back({Pending::Type::Group, 0, -1});
        ++groups_;
        break;
      case Token::Operator:
        // "+" and "-" are the binary operators that are prefix ones too.
        if (scanner.op() == BinaryOperator::Add) {
          pending_.push_back({Pending::Type::Plus, 0, -1});
        } else if (scanner.op() == BinaryOperator::Subtract) {
          pending_.push_back(
              {Pending::Type::Prefix, static_cast<std::uint8_t>(UnaryOperator::Negate), -1});
        } else {
          return false;
        }
        ++prefixes_;
        break;
      case Token::Not:
      case Token::Tilde: {
        const UnaryOperator op =
            scanner.token() == Token::Not ? UnaryOperator::LogicalNot : UnaryOperator::BitNot;
        pending_.push_back({Pending::Type::Prefix, static_cast<std::uint8_t>(op), -1});
        ++prefixes_;
        break;
      }
      default:
        return false;
    }
    if (groups_ + prefixes_ > kMaxNesting || !scanner.next()) return false;
  }
}

// After a literal: applies the prefix operators in front of it and reads the next token. A
// closing parenthesis completes a group, which is again an operand with prefixes in front.
bool ExpressionEvaluator::completeOperand(Scanner& scanner) {
  while (true) {
    while (!pending_.empty() && (pending_.back().type == Pending::Type::Prefix ||
                                 pending_.back().type == Pending::Type::Plus)) {
      if (pending_.back().type == Pending::Type::Prefix &&
          !applyUnary(static_cast<UnaryOperator>(pending_.back().op), operands_.back()))
        return false;
      pending_.pop_back();
      --prefixes_;
    }
    if (!scanner.next()) return false;
    if (scanner.token() != Token::Close || groups_ == 0) return true;
    while (pending_.back().type == Pending::Type::Binary) {
      if (!reduceBinary()) return false;
    }
    pending_.pop_back();
    --groups_;
  }
}

bool ExpressionEvaluator::evaluate(std::string_view text, Value& result) {
  if (text.empty()) return false;
  operands_.clear();
  pending_.clear();
  groups_ = prefixes_ = 0;
  Scanner scanner(text);
  if (!scanner.next()) return false;
  while (true) {
    if (!readOperand(scanner) || !completeOperand(scanner)) return false;
    if (scanner.token() != Token::Operator) break;
    const int precedence = precedenceOf(scanner.op());
    // Operators of the same or a higher level before this one are complete: left to right.
    while (!pending_.empty() && pending_.back().type == Pending::Type::Binary &&
           pending_.back().precedence >= precedence) {
      if (!reduceBinary()) return false;
    }
    pending_.push_back({Pending::Type::Binary, static_cast<std::uint8_t>(scanner.op()),
                        static_cast<std::int8_t>(precedence)});
    if (!scanner.next()) return false;
  }
  // The token after the last operand is not an operator. Postfix operators and calls, and
  // operators without an operation, fail; anything else ends the expression, which must not
  // leave a parenthesis open.
  if (scanner.token() == Token::Open || scanner.token() == Token::Fails || groups_ > 0)
    return false;
  while (!pending_.empty()) {
    if (!reduceBinary()) return false;
  }
  result = operands_.back();
  end_ = scanner.tokenStart();
  return true;
}
