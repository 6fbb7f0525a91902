#include "expr/ExpressionValue.h"

#include <bit>
#include <charconv>
#include <limits>
#include <utility>

namespace {

// Sign-extends the low `bits` bits of the payload (bits from 1 to 63).
std::int64_t signExtend(std::uint64_t payload, int bits) {
  const int unused = 64 - bits;
  return static_cast<std::int64_t>(payload << unused) >> unused;
}

}  // namespace

ExpressionValue ExpressionValue::floating(double value, std::int32_t size) {
  return ExpressionValue(ValueKind::Floating, std::bit_cast<std::uint64_t>(value), size, 0);
}

ExpressionValue ExpressionValue::string(std::string text) {
  ExpressionValue value(ValueKind::String, 0, 0, 0);
  value.extra_ = std::make_shared<const Extra>(Extra{std::move(text), nullptr});
  return value;
}

ExpressionValue ExpressionValue::marker(std::shared_ptr<MarkerType> object) {
  ExpressionValue value(ValueKind::Marker, 0, 0, 0);
  value.extra_ = std::make_shared<const Extra>(Extra{std::string(), std::move(object)});
  return value;
}

const std::string& ExpressionValue::stringValue() const {
  static const std::string kEmpty;
  return extra_ ? extra_->text : kEmpty;
}

const std::shared_ptr<MarkerType>& ExpressionValue::markerObject() const {
  static const std::shared_ptr<MarkerType> kNone;
  return extra_ ? extra_->marker : kNone;
}

double ExpressionValue::doubleValue() const {
  return std::bit_cast<double>(payload_);
}

std::int64_t ExpressionValue::toSigned() const {
  switch (kind_) {
    case ValueKind::Boolean:
      return lowByte();
    case ValueKind::Signed:
    case ValueKind::Unsigned: {
      const int bits = bitWidth_ != 0                             ? bitWidth_
                       : (size_ == 1 || size_ == 2 || size_ == 4) ? size_ * 8
                                                                  : 64;
      return bits > 0 && bits < 64 ? signExtend(payload_, bits)
                                   : static_cast<std::int64_t>(payload_);
    }
    case ValueKind::Floating: {
      // Truncation as the processor's conversion does it: anything it cannot represent becomes
      // the smallest 64-bit value.
      const double value = doubleValue();
      constexpr double limit = 9223372036854775808.0;  // 2 to the power 63
      if (value >= -limit && value < limit) return static_cast<std::int64_t>(value);
      return std::numeric_limits<std::int64_t>::min();
    }
    default:
      return 0;
  }
}

std::uint64_t ExpressionValue::toUnsignedBits() const {
  switch (kind_) {
    case ValueKind::Boolean:
      return lowByte();
    case ValueKind::Signed:
    case ValueKind::Unsigned:
      if (size_ == 1 || size_ == 2 || size_ == 4) return payload_ & ((1ULL << (size_ * 8)) - 1);
      return payload_;
    case ValueKind::Floating:
      if (size_ == 4) return std::bit_cast<std::uint32_t>(static_cast<float>(doubleValue()));
      if (size_ == 8) return payload_;
      return 0;
    default:
      return 0;
  }
}

double ExpressionValue::toDouble() const {
  switch (kind_) {
    case ValueKind::Boolean:
      return lowByte();
    case ValueKind::Signed:
      return static_cast<double>(toSigned());
    case ValueKind::Unsigned:
      return static_cast<double>(toUnsignedBits());
    case ValueKind::Floating:
      return doubleValue();
    default:
      return 0.0;
  }
}

std::string ExpressionValue::typeName(bool byteOriented) const {
  switch (kind_) {
    case ValueKind::Boolean:
      return "boolean";
    case ValueKind::Signed:
    case ValueKind::Unsigned: {
      const char* base = size_ == 1 ? (byteOriented && kind_ == ValueKind::Signed ? "byte" : "char")
                         : size_ == 2 ? "short"
                         : size_ == 4 ? "int"
                         : size_ == 8 ? "long long"
                                      : nullptr;
      if (base == nullptr) return "unknown";
      return kind_ == ValueKind::Unsigned ? std::string("unsigned ") + base : std::string(base);
    }
    case ValueKind::String:
      return "string";
    case ValueKind::Marker:
      return "marker";
    case ValueKind::Floating:
      return size_ == 4 ? "float" : "double";
    default:
      return "unknown";
  }
}

std::string ExpressionValue::display() const {
  switch (kind_) {
    case ValueKind::Boolean:
      return lowByte() == 0 ? "false" : lowByte() == 1 ? "true" : std::to_string(lowByte());
    case ValueKind::Signed:
      return std::to_string(static_cast<std::int64_t>(payload_));
    case ValueKind::Unsigned:
      return std::to_string(payload_) + "u";
    case ValueKind::String:
      return '"' + stringValue() + '"';
    case ValueKind::Marker:
      return "marker";
    case ValueKind::Floating: {
      char buffer[32];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, doubleValue());
      return std::string(buffer, result.ptr);
    }
    default:
      return "none";
  }
}

void resolveMarkerSlow(ExpressionValue& value) {
  if (value.markerObject() != nullptr) value = value.markerObject()->value();
}
