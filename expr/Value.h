#pragma once

#include <cstdint>
#include <string_view>

// A value of the expression language and the operators on values.
//
// The left operand decides the kind and size of a result and the right operand is converted to
// it; this is not C's usual arithmetic conversion. Integer arithmetic wraps at 64 bits.

enum class ValueKind : std::uint8_t { Boolean, Signed, Floating, String };

struct Value {
  ValueKind kind = ValueKind::Signed;
  // The byte size of a signed or floating value: 8 for a literal and whatever it is combined
  // with, 0 for a value derived from a boolean (-(1 == 1) is a signed value of size 0, and
  // (1 == 1) + 0.5 a floating one). It travels with the left operand; a floating value of size 0
  // has no unsigned bit pattern.
  std::uint8_t size = 8;
  std::uint64_t bits = 0;  // a boolean's byte, an integer's bits or a double's bits
  std::string_view text;   // a string's characters (a view into the expression text)

  static Value boolean(std::uint8_t byte) { return {ValueKind::Boolean, 0, byte, {}}; }
  static Value integer(std::int64_t number, std::uint8_t size = 8) {
    return {ValueKind::Signed, size, static_cast<std::uint64_t>(number), {}};
  }
  static Value floating(double number, std::uint8_t size = 8);
  static Value string(std::string_view text) { return {ValueKind::String, 0, 0, text}; }

  std::uint8_t lowByte() const { return static_cast<std::uint8_t>(bits); }
  double number() const;  // the double of a floating value
  // The conversions applied to a right operand, and by the entry points.
  std::int64_t toSigned() const;         // doubles truncated toward zero
  std::uint64_t toUnsignedBits() const;  // a double's bit pattern
  double toDouble() const;
};

enum class BinaryOperator : std::uint8_t {
  Multiply,
  Divide,
  Remainder,
  Add,
  Subtract,
  ShiftLeft,
  ShiftRight,
  Less,
  LessEqual,
  Greater,
  GreaterEqual,
  Equal,
  NotEqual,
  BitAnd,
  BitXor,
  BitOr,
  LogicalAnd,
  LogicalOr,
};

enum class UnaryOperator : std::uint8_t { Negate, LogicalNot, BitNot };

// Each replaces `left` (or `operand`) by the result; false when the operation fails (a division
// by zero, an operand kind the operator does not take).
bool applyBinary(BinaryOperator op, Value& left, const Value& right);
bool applyUnary(UnaryOperator op, Value& operand);
