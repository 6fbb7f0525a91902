#pragma once

#include <cstdint>
#include <memory>
#include <string>

class ExpressionValue;

// An object of an environment that resolves names (a variable, a register, ...). Values refer to
// it through a shared holder; before an operator uses such a value it reads the object's current
// value.
class MarkerType {
 public:
  virtual ~MarkerType() = default;
  virtual ExpressionValue value() const = 0;
};

enum class ValueKind : std::int32_t {
  Boolean = 0,
  Signed = 1,
  Unsigned = 2,
  String = 3,
  Marker = 4,
  Floating = 5,
  None = 6,
};

// A value of the expression language: a tagged record. The 64-bit payload holds a boolean's byte,
// an integer's bits or a double's bits. The size is in bytes (1, 2, 4 or 8 for integers, 4 or 8
// for floating values, whose payload is a double either way; 0 for booleans and strings). A
// non-zero bit width marks an integer read from a bit field.
class ExpressionValue {
 public:
  // The none value: kind none, size 2, no payload.
  ExpressionValue() = default;

  static ExpressionValue boolean(std::uint8_t byte) {
    return ExpressionValue(ValueKind::Boolean, byte, 0, 0);
  }
  static ExpressionValue signedInteger(std::int64_t value, std::int32_t size = 8,
                                       std::int32_t bitWidth = 0) {
    return ExpressionValue(ValueKind::Signed, static_cast<std::uint64_t>(value), size, bitWidth);
  }
  static ExpressionValue unsignedInteger(std::uint64_t value, std::int32_t size = 8,
                                         std::int32_t bitWidth = 0) {
    return ExpressionValue(ValueKind::Unsigned, value, size, bitWidth);
  }
  static ExpressionValue floating(double value, std::int32_t size = 8);
  static ExpressionValue string(std::string text);
  static ExpressionValue marker(std::shared_ptr<MarkerType> object);

  ValueKind kind() const { return kind_; }
  bool is(ValueKind kind) const { return kind_ == kind; }
  bool isInteger() const { return kind_ == ValueKind::Signed || kind_ == ValueKind::Unsigned; }
  std::int32_t size() const { return size_; }
  std::int32_t bitWidth() const { return bitWidth_; }
  std::uint64_t payload() const { return payload_; }
  // The payload read as a double (meaningful for floating values).
  double doubleValue() const;
  // The text of a string value; empty for the other kinds.
  const std::string& stringValue() const;
  // The object of a marker value; null for the other kinds.
  const std::shared_ptr<MarkerType>& markerObject() const;

  // The lowest byte of the payload, whatever the kind.
  std::uint8_t lowByte() const { return static_cast<std::uint8_t>(payload_); }
  // Integers sign-extended from their bit width or size; doubles truncated toward zero (the
  // smallest 64-bit value when out of range or not a number); a boolean's byte; 0 otherwise.
  std::int64_t toSigned() const;
  // Integers zero-extended from their size; the bit pattern of a float (size 4, rounded to single
  // precision) or a double (size 8); a boolean's byte; 0 otherwise.
  std::uint64_t toUnsignedBits() const;
  // The number as a double; a boolean's byte; 0.0 for the other kinds.
  double toDouble() const;

  // The C-like name of the value's type: "boolean", "int", "unsigned char", "double", ...; with
  // `byteOriented` a signed size-1 value is "byte" rather than "char".
  std::string typeName(bool byteOriented = false) const;
  // A short display of the value, for debug texts.
  std::string display() const;

 private:
  ExpressionValue(ValueKind kind, std::uint64_t payload, std::int32_t size, std::int32_t bitWidth)
      : kind_(kind), size_(size), bitWidth_(bitWidth), payload_(payload) {}

  ValueKind kind_ = ValueKind::None;
  std::int32_t size_ = 2;
  std::int32_t bitWidth_ = 0;
  std::uint64_t payload_ = 0;
  // A string's text or a marker's object. Both are rare next to numbers, so they live behind one
  // shared pointer, which keeps a value small and cheap to move; values never change it.
  struct Extra {
    std::string text;
    std::shared_ptr<MarkerType> marker;
  };
  std::shared_ptr<const Extra> extra_;
};

// Replaces a marker operand by its object's current value; leaves any other value unchanged.
void resolveMarkerSlow(ExpressionValue& value);
inline void resolveMarker(ExpressionValue& value) {
  if (value.is(ValueKind::Marker)) resolveMarkerSlow(value);
}
