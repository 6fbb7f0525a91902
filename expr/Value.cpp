#include "expr/Value.h"

#include <cstring>
#include <limits>

namespace {

// The bits of `from` as a `To` of the same size (std::bit_cast, which not every standard library
// the tool is built with has).
template <typename To, typename From>
To sameBits(const From& from) {
  static_assert(sizeof(To) == sizeof(From));
  To to;
  std::memcpy(&to, &from, sizeof to);
  return to;
}

}  // namespace

Value Value::floating(double number, std::uint8_t size) {
  return {ValueKind::Floating, size, sameBits<std::uint64_t>(number), {}};
}

double Value::number() const {
  return sameBits<double>(bits);
}

std::int64_t Value::toSigned() const {
  switch (kind) {
    case ValueKind::Boolean:
      return lowByte();
    case ValueKind::Signed:
      return static_cast<std::int64_t>(bits);
    case ValueKind::Floating: {
      // Truncation as the processor's conversion does it: what it cannot represent becomes the
      // smallest 64-bit value.
      constexpr double kLimit = 9223372036854775808.0;  // 2 to the power 63
      const double x = number();
      if (x >= -kLimit && x < kLimit) return static_cast<std::int64_t>(x);
      return std::numeric_limits<std::int64_t>::min();
    }
    case ValueKind::String:
      break;
  }
  return 0;
}

std::uint64_t Value::toUnsignedBits() const {
  switch (kind) {
    case ValueKind::Boolean:
      return lowByte();
    case ValueKind::Signed:
      return bits;
    case ValueKind::Floating:
      return size == 8 ? bits : 0;
    case ValueKind::String:
      break;
  }
  return 0;
}

double Value::toDouble() const {
  switch (kind) {
    case ValueKind::Boolean:
      return lowByte();
    case ValueKind::Signed:
      return static_cast<double>(static_cast<std::int64_t>(bits));
    case ValueKind::Floating:
      return number();
    case ValueKind::String:
      break;
  }
  return 0.0;
}

namespace {

template <class T>
T arithmetic(BinaryOperator op, T a, T b) {
  switch (op) {
    case BinaryOperator::Add:
      return a + b;
    case BinaryOperator::Subtract:
      return a - b;
    case BinaryOperator::Multiply:
      return a * b;
    default:
      return a / b;
  }
}

template <class T>
bool compare(BinaryOperator op, const T& a, const T& b) {
  switch (op) {
    case BinaryOperator::Less:
      return a < b;
    case BinaryOperator::LessEqual:
      return a <= b;
    case BinaryOperator::Greater:
      return a > b;
    case BinaryOperator::GreaterEqual:
      return a >= b;
    case BinaryOperator::Equal:
      return a == b;
    default:
      return a != b;
  }
}

template <class T>
T bitwise(BinaryOperator op, T a, T b) {
  switch (op) {
    case BinaryOperator::BitAnd:
      return a & b;
    case BinaryOperator::BitXor:
      return a ^ b;
    default:
      return a | b;
  }
}

// + - * / with the result following the left operand.
bool applyArithmetic(BinaryOperator op, Value& left, const Value& right) {
  if (op == BinaryOperator::Divide) {
    // The divisor is checked by its own kind before anything is converted.
    switch (right.kind) {
      case ValueKind::Boolean:
        if (right.lowByte() == 0) return false;
        break;
      case ValueKind::Signed:
        if (right.bits == 0) return false;
        break;
      case ValueKind::Floating:
        if (right.number() == 0.0) return false;
        break;
      case ValueKind::String:
        return false;
    }
  }
  if (right.kind == ValueKind::Floating || left.kind == ValueKind::Floating) {
    // A floating right operand makes the result floating, keeping the left operand's size.
    if (left.kind == ValueKind::String) return false;
    left = Value::floating(arithmetic(op, left.toDouble(), right.toDouble()), left.size);
    return true;
  }
  switch (left.kind) {
    case ValueKind::Signed: {
      const std::uint64_t a = left.bits;
      const auto b = static_cast<std::uint64_t>(right.toSigned());
      if (op != BinaryOperator::Divide) {
        left.bits = arithmetic(op, a, b);  // wraps
      } else if (b == static_cast<std::uint64_t>(-1)) {
        left.bits = 0 - a;  // the smallest value divided by -1 wraps to itself
      } else {
        left.bits =
            static_cast<std::uint64_t>(static_cast<std::int64_t>(a) / static_cast<std::int64_t>(b));
      }
      return true;
    }
    case ValueKind::Boolean: {
      const unsigned a = left.lowByte();
      const unsigned b = right.lowByte();
      unsigned byte;
      switch (op) {
        case BinaryOperator::Add:
          byte = a + b != 0 ? 1 : 0;
          break;
        case BinaryOperator::Subtract:
          byte = a ^ b;
          break;
        case BinaryOperator::Multiply:
          byte = a * b;
          break;
        default:
          if (b == 0) return false;
          byte = a / b;
          break;
      }
      left = Value::boolean(static_cast<std::uint8_t>(byte));
      return true;
    }
    default:
      return false;
  }
}

bool applyRemainder(Value& left, const Value& right) {
  if (left.kind == ValueKind::Signed) {
    const std::int64_t divisor = right.toSigned();
    if (divisor == 0) return false;
    // The result takes the sign of the left operand; x % -1 is 0 even for the smallest x.
    left.bits = divisor == -1
                    ? 0
                    : static_cast<std::uint64_t>(static_cast<std::int64_t>(left.bits) % divisor);
    return true;
  }
  if (left.kind == ValueKind::Boolean) {
    const unsigned divisor = right.lowByte();
    if (divisor == 0) return false;
    left = Value::boolean(left.lowByte() % divisor != 0 ? 1 : 0);
    return true;
  }
  return false;
}

bool applyComparison(BinaryOperator op, Value& left, const Value& right) {
  bool result;
  switch (left.kind) {
    case ValueKind::Signed:
      result = compare(op, left.toSigned(), right.toSigned());
      break;
    case ValueKind::Boolean:
      result = compare<unsigned>(op, left.lowByte(), right.lowByte());
      break;
    case ValueKind::String:
      // Bytes compare as unsigned values; a right operand that is no string is the empty one.
      result =
          compare(op, left.text, right.kind == ValueKind::String ? right.text : std::string_view());
      break;
    default:
      return false;
  }
  left = Value::boolean(result ? 1 : 0);
  return true;
}

}  // namespace

bool applyBinary(BinaryOperator op, Value& left, const Value& right) {
  switch (op) {
    case BinaryOperator::Multiply:
    case BinaryOperator::Divide:
    case BinaryOperator::Add:
    case BinaryOperator::Subtract:
      return applyArithmetic(op, left, right);
    case BinaryOperator::Remainder:
      return applyRemainder(left, right);
    case BinaryOperator::ShiftLeft:
    case BinaryOperator::ShiftRight: {
      if (right.kind != ValueKind::Signed) return false;  // tested before the left operand
      if (left.kind != ValueKind::Signed) return false;
      const unsigned count = static_cast<unsigned>(right.bits & 63);
      left.bits = op == BinaryOperator::ShiftLeft
                      ? left.bits << count
                      : static_cast<std::uint64_t>(static_cast<std::int64_t>(left.bits) >> count);
      return true;
    }
    case BinaryOperator::BitAnd:
    case BinaryOperator::BitXor:
    case BinaryOperator::BitOr:
      if (left.kind == ValueKind::Signed) {
        left.bits = bitwise(op, left.bits, static_cast<std::uint64_t>(right.toSigned()));
        return true;
      }
      if (left.kind == ValueKind::Boolean) {
        left = Value::boolean(bitwise<std::uint8_t>(op, left.lowByte(), right.lowByte()));
        return true;
      }
      return false;
    case BinaryOperator::LogicalAnd:
    case BinaryOperator::LogicalOr: {
      // Both operands are already evaluated: && and || do not short-circuit.
      const bool isAnd = op == BinaryOperator::LogicalAnd;
      if (left.kind == ValueKind::Signed) {
        const bool a = left.bits != 0;
        const bool b = right.toSigned() != 0;
        left.bits = (isAnd ? a && b : a || b) ? 1 : 0;
        return true;
      }
      if (left.kind == ValueKind::Boolean) {
        // A boolean left operand passes the right operand's low byte through, which may be
        // neither 0 nor 1: only its truth counts later.
        const bool a = left.lowByte() != 0;
        left = Value::boolean(isAnd ? (a ? right.lowByte() : 0) : (a ? 1 : right.lowByte()));
        return true;
      }
      return false;
    }
    default:
      return applyComparison(op, left, right);
  }
}

bool applyUnary(UnaryOperator op, Value& operand) {
  switch (operand.kind) {
    case ValueKind::Boolean:
      if (op == UnaryOperator::LogicalNot) {
        operand = Value::boolean(operand.lowByte() ^ 1);
      } else if (op == UnaryOperator::Negate) {
        operand = Value::integer(-static_cast<std::int64_t>(operand.lowByte()), 0);
      } else {
        return false;
      }
      return true;
    case ValueKind::Signed:
      if (op == UnaryOperator::LogicalNot) {
        operand = Value::boolean(operand.bits == 0 ? 1 : 0);
      } else {
        operand.bits = op == UnaryOperator::Negate ? 0 - operand.bits : ~operand.bits;
      }
      return true;
    case ValueKind::Floating:
      if (op == UnaryOperator::LogicalNot) {
        operand = Value::boolean(operand.number() == 0.0 ? 1 : 0);
      } else if (op == UnaryOperator::Negate) {
        operand = Value::floating(-operand.number(), operand.size);
      } else {
        return false;
      }
      return true;
    case ValueKind::String:
      break;
  }
  return false;
}
