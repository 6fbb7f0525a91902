#pragma once

#include <cstdint>
#include <string_view>

// Placeholder: the expression language is built in its own change.
class SimpleExpressionParser {
 public:
  bool evaluateBoolean(std::string_view text, bool& ok);
  std::uint64_t evaluateUnsigned(std::string_view text, bool& ok);
  std::int64_t evaluateSigned(std::string_view text, bool& ok);
};
