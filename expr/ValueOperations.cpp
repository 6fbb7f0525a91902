#include "expr/ValueOperations.h"

#include <cstdint>
#include <string_view>

#include "expr/ParserException.h"

namespace {

[[noreturn]] void unsupportedBinary() {
  throw ParserException("unsupported binary numeric operation");
}
[[noreturn]] void divideByZero() {
  throw ParserException("divide by zero");
}
[[noreturn]] void unsupportedUnary() {
  throw ParserException("unsupported unary num operation");
}

template <typename T>
T arithmetic(ArithmeticOperator op, T a, T b) {
  switch (op) {
    case ArithmeticOperator::Plus:
      return a + b;
    case ArithmeticOperator::Minus:
      return a - b;
    case ArithmeticOperator::Multiply:
      return a * b;
    case ArithmeticOperator::Divide:
      return a / b;
  }
  return T{};
}

// Signed arithmetic wraps like the unsigned one; the only division that overflows, the smallest
// value by -1, gives the smallest value back.
std::int64_t signedArithmetic(ArithmeticOperator op, std::int64_t a, std::int64_t b) {
  if (op == ArithmeticOperator::Divide) {
    if (b == 0) divideByZero();
    if (b == -1) return static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(a));
    return a / b;
  }
  return static_cast<std::int64_t>(
      arithmetic(op, static_cast<std::uint64_t>(a), static_cast<std::uint64_t>(b)));
}

std::uint8_t booleanArithmetic(ArithmeticOperator op, unsigned a, unsigned b) {
  switch (op) {
    case ArithmeticOperator::Plus:
      return a + b != 0 ? 1 : 0;
    case ArithmeticOperator::Minus:
      return static_cast<std::uint8_t>(a ^ b);
    case ArithmeticOperator::Multiply:
      return static_cast<std::uint8_t>(a * b);
    case ArithmeticOperator::Divide:
      if (b == 0) divideByZero();
      return static_cast<std::uint8_t>(a / b);
  }
  return 0;
}

template <typename T>
bool compare(ComparisonOperator op, const T& a, const T& b) {
  switch (op) {
    case ComparisonOperator::Equal:
      return a == b;
    case ComparisonOperator::NotEqual:
      return a != b;
    case ComparisonOperator::Less:
      return a < b;
    case ComparisonOperator::LessEqual:
      return a <= b;
    case ComparisonOperator::Greater:
      return a > b;
    case ComparisonOperator::GreaterEqual:
      return a >= b;
  }
  return false;
}

template <typename T>
T bitwise(BitwiseOperator op, T a, T b) {
  switch (op) {
    case BitwiseOperator::And:
      return a & b;
    case BitwiseOperator::Or:
      return a | b;
    case BitwiseOperator::Xor:
      return a ^ b;
  }
  return T{};
}

bool logical(LogicalOperator op, bool a, bool b) {
  return op == LogicalOperator::And ? a && b : a || b;
}

}  // namespace

ExpressionValue applyArithmetic(ArithmeticOperator op, const ExpressionValue& left,
                                const ExpressionValue& right) {
  if (op == ArithmeticOperator::Divide) {
    // The divisor is checked by its own kind before anything is converted.
    switch (right.kind()) {
      case ValueKind::Boolean:
        if (right.lowByte() == 0) divideByZero();
        break;
      case ValueKind::Signed:
      case ValueKind::Unsigned:
        if (right.payload() == 0) divideByZero();
        break;
      case ValueKind::Floating:
        if (right.doubleValue() == 0.0) divideByZero();
        break;
      default:
        unsupportedBinary();
    }
  }
  if (right.is(ValueKind::Floating)) {
    // A floating right operand makes the result floating; the left operand keeps its size field,
    // so a boolean gives a floating value of size 0.
    switch (left.kind()) {
      case ValueKind::Boolean:
      case ValueKind::Signed:
      case ValueKind::Unsigned:
      case ValueKind::Floating:
        return ExpressionValue::floating(arithmetic(op, left.toDouble(), right.doubleValue()),
                                         left.size());
      default:
        unsupportedBinary();
    }
  }
  switch (left.kind()) {
    case ValueKind::Signed:
      return ExpressionValue::signedInteger(signedArithmetic(op, left.toSigned(), right.toSigned()),
                                            left.size());
    case ValueKind::Unsigned: {
      const std::uint64_t divisor = right.toUnsignedBits();
      if (op == ArithmeticOperator::Divide && divisor == 0) divideByZero();
      return ExpressionValue::unsignedInteger(arithmetic(op, left.toUnsignedBits(), divisor),
                                              left.size());
    }
    case ValueKind::Floating:
      return ExpressionValue::floating(arithmetic(op, left.doubleValue(), right.toDouble()),
                                       left.size());
    case ValueKind::Boolean:
      return ExpressionValue::boolean(booleanArithmetic(op, left.lowByte(), right.lowByte()));
    default:
      unsupportedBinary();
  }
}

ExpressionValue applyRemainder(const ExpressionValue& left, const ExpressionValue& right) {
  switch (left.kind()) {
    case ValueKind::Signed: {
      const std::int64_t divisor = right.toSigned();
      if (divisor == 0) divideByZero();
      // The result takes the sign of the left operand; x % -1 is 0 even for the smallest x.
      const std::int64_t result = divisor == -1 ? 0 : left.toSigned() % divisor;
      return ExpressionValue::signedInteger(result, left.size());
    }
    case ValueKind::Unsigned: {
      const std::uint64_t divisor = right.toUnsignedBits();
      if (divisor == 0) divideByZero();
      return ExpressionValue::unsignedInteger(left.toUnsignedBits() % divisor, left.size());
    }
    case ValueKind::Boolean: {
      const unsigned divisor = right.lowByte();
      if (divisor == 0) divideByZero();
      return ExpressionValue::boolean(left.lowByte() % divisor != 0 ? 1 : 0);
    }
    default:
      unsupportedBinary();
  }
}

ExpressionValue applyComparison(ComparisonOperator op, const ExpressionValue& left,
                                const ExpressionValue& right) {
  bool result = false;
  switch (left.kind()) {
    case ValueKind::Signed:
      result = compare(op, left.toSigned(), right.toSigned());
      break;
    case ValueKind::Unsigned:
      result = compare(op, left.toUnsignedBits(), right.toUnsignedBits());
      break;
    case ValueKind::Boolean:
      result = compare<unsigned>(op, left.lowByte(), right.lowByte());
      break;
    case ValueKind::String: {
      // Byte strings compare as unsigned bytes; a non-string right operand is the empty string.
      const std::string_view other =
          right.is(ValueKind::String) ? std::string_view(right.stringValue()) : std::string_view();
      result = compare(op, std::string_view(left.stringValue()), other);
      break;
    }
    default:
      throw ParserException("unsupported comparison operation");
  }
  return ExpressionValue::boolean(result ? 1 : 0);
}

ExpressionValue applyBitwise(BitwiseOperator op, const ExpressionValue& left,
                             const ExpressionValue& right) {
  switch (left.kind()) {
    case ValueKind::Signed:
      return ExpressionValue::signedInteger(bitwise(op, left.toSigned(), right.toSigned()),
                                            left.size());
    case ValueKind::Unsigned:
      return ExpressionValue::unsignedInteger(
          bitwise(op, left.toUnsignedBits(), right.toUnsignedBits()), left.size());
    case ValueKind::Boolean:
      return ExpressionValue::boolean(bitwise<std::uint8_t>(op, left.lowByte(), right.lowByte()));
    default:
      unsupportedBinary();
  }
}

ExpressionValue applyLogical(LogicalOperator op, const ExpressionValue& left,
                             const ExpressionValue& right) {
  switch (left.kind()) {
    case ValueKind::Signed:
      return ExpressionValue::signedInteger(
          logical(op, left.toSigned() != 0, right.toSigned() != 0) ? 1 : 0, left.size());
    case ValueKind::Unsigned:
      return ExpressionValue::unsignedInteger(
          logical(op, left.toUnsignedBits() != 0, right.toUnsignedBits() != 0) ? 1 : 0,
          left.size());
    case ValueKind::Boolean: {
      // A boolean left operand passes the right operand's low byte through: it may be neither 0
      // nor 1, and only its truth counts later.
      const bool leftTrue = left.lowByte() != 0;
      if (op == LogicalOperator::And)
        return ExpressionValue::boolean(leftTrue ? right.lowByte() : 0);
      return ExpressionValue::boolean(leftTrue ? 1 : right.lowByte());
    }
    default:
      unsupportedBinary();
  }
}

ExpressionValue applyShift(ShiftOperator op, const ExpressionValue& left,
                           const ExpressionValue& right) {
  if (!right.is(ValueKind::Signed)) throw ParserException("integer shift value expected");
  const unsigned count = static_cast<unsigned>(right.toSigned() & 63);
  switch (left.kind()) {
    case ValueKind::Signed: {
      const std::int64_t value = left.toSigned();
      const std::int64_t result =
          op == ShiftOperator::Left
              ? static_cast<std::int64_t>(static_cast<std::uint64_t>(value) << count)
              : value >> count;
      return ExpressionValue::signedInteger(result, left.size());
    }
    case ValueKind::Unsigned: {
      const std::uint64_t value = left.toUnsignedBits();
      return ExpressionValue::unsignedInteger(
          op == ShiftOperator::Left ? value << count : value >> count, left.size());
    }
    default:
      throw ParserException("can only shift numeric values");
  }
}

ExpressionValue applyLogicalNot(const ExpressionValue& operand) {
  switch (operand.kind()) {
    case ValueKind::Boolean:
      return ExpressionValue::boolean(operand.lowByte() ^ 1);
    case ValueKind::Signed:
    case ValueKind::Unsigned:
      return ExpressionValue::boolean(operand.payload() == 0 ? 1 : 0);
    case ValueKind::Floating:
      return ExpressionValue::boolean(operand.doubleValue() == 0.0 ? 1 : 0);
    default:
      unsupportedUnary();
  }
}

ExpressionValue applyBitNot(const ExpressionValue& operand) {
  switch (operand.kind()) {
    case ValueKind::Signed:
      return ExpressionValue::signedInteger(static_cast<std::int64_t>(~operand.payload()),
                                            operand.size(), operand.bitWidth());
    case ValueKind::Unsigned:
      return ExpressionValue::unsignedInteger(~operand.payload(), operand.size(),
                                              operand.bitWidth());
    default:
      unsupportedUnary();
  }
}

ExpressionValue applyNegate(const ExpressionValue& operand) {
  switch (operand.kind()) {
    case ValueKind::Signed:
      return ExpressionValue::signedInteger(static_cast<std::int64_t>(0 - operand.payload()),
                                            operand.size(), operand.bitWidth());
    case ValueKind::Unsigned:
      return ExpressionValue::unsignedInteger(0 - operand.payload(), operand.size(),
                                              operand.bitWidth());
    case ValueKind::Boolean:
      return ExpressionValue::signedInteger(-static_cast<std::int64_t>(operand.lowByte()), 0);
    case ValueKind::Floating:
      return ExpressionValue::floating(-operand.doubleValue(), operand.size());
    default:
      unsupportedUnary();
  }
}
