#include "expr/SimpleExpressionParser.h"

bool SimpleExpressionParser::evaluateBoolean(std::string_view, bool& ok) {
  ok = false;
  return false;
}
std::uint64_t SimpleExpressionParser::evaluateUnsigned(std::string_view, bool& ok) {
  ok = false;
  return 0;
}
std::int64_t SimpleExpressionParser::evaluateSigned(std::string_view, bool& ok) {
  ok = false;
  return 0;
}
