#include "expr/SimpleExpressionParser.h"

#include "expr/CStyleLexer.h"
#include "expr/Expression.h"
#include "expr/ParserException.h"

SimpleExpressionParser::SimpleExpressionParser()
    : ExpressionParser(std::make_unique<CStyleLexer>()) {}

SimpleExpressionParser::~SimpleExpressionParser() = default;

ExpressionValue SimpleExpressionParser::evaluateText(std::string_view text) {
  ExpressionValue value;
  if (direct_.evaluate(text, value)) return value;
  return evaluateTree(text);
}

ExpressionValue SimpleExpressionParser::evaluateTree(std::string_view text) {
  // The tree lives only inside this call, so its nodes can come from the recycling pool.
  struct PoolScope {
    SimpleExpressionParser& parser;
    ~PoolScope() { parser.usePool(nullptr); }
  } scope{*this};
  usePool(&nodePool_);
  const auto tree = parseExpression(text);
  if (!tree) return ExpressionValue();
  return tree->evaluate();
}

bool SimpleExpressionParser::evaluateBoolean(std::string_view text, bool& ok) {
  ok = false;
  try {
    const ExpressionValue value = evaluateText(text);
    if (!value.is(ValueKind::Boolean)) return false;
    ok = true;
    return value.lowByte() != 0;
  } catch (const ParserException&) {
    return false;
  }
}

std::uint64_t SimpleExpressionParser::evaluateUnsigned(std::string_view text, bool& ok) {
  ok = false;
  try {
    const ExpressionValue value = evaluateText(text);
    if (!value.isInteger() && !value.is(ValueKind::Floating)) return 0;
    ok = true;
    return value.toUnsignedBits();
  } catch (const ParserException&) {
    return 0;
  }
}

std::int64_t SimpleExpressionParser::evaluateSigned(std::string_view text, bool& ok) {
  ok = false;
  try {
    const ExpressionValue value = evaluateText(text);
    if (!value.isInteger() && !value.is(ValueKind::Floating)) return 0;
    ok = true;
    return value.toSigned();
  } catch (const ParserException&) {
    return 0;
  }
}

// --- The environment: nothing is known ----------------------------------------------------------

ExpressionValue SimpleExpressionParser::lookupScopedName(const std::vector<std::string>& parts) {
  std::string joined;
  for (std::size_t i = 0; i < parts.size(); ++i)
    joined += (i == 0 ? "" : "::") + parts[i];
  throw ParserException(joined + " symbol not found");
}

ExpressionValue SimpleExpressionParser::lookupName(std::string_view name) {
  throw ParserException(std::string(name) + " symbol not found");
}

ExpressionValue SimpleExpressionParser::lookupRegister(std::string_view name) {
  throw ParserException(std::string(name) + "unknown register");
}

bool SimpleExpressionParser::isTypeName(std::string_view) {
  return false;
}

bool SimpleExpressionParser::isTemplateName(std::string_view) {
  return false;
}

ExpressionValue SimpleExpressionParser::castValue(const BaseType&, const ExpressionValue&) {
  throw ParserException("cannot cast");
}

bool SimpleExpressionParser::isPointer(const ExpressionValue&) {
  return false;
}

bool SimpleExpressionParser::isArray(const ExpressionValue&) {
  return false;
}

ExpressionValue SimpleExpressionParser::subscript(const ExpressionValue&, const ExpressionValue&) {
  throw ParserException("cannot dereference");
}

ExpressionValue SimpleExpressionParser::member(const ExpressionValue&, std::string_view) {
  throw ParserException("cannot dereference");
}

ExpressionValue SimpleExpressionParser::scopedMember(const ExpressionValue&,
                                                     const std::vector<std::string>&) {
  throw ParserException("cannot dereference");
}

ExpressionValue SimpleExpressionParser::addressOf(const ExpressionValue&) {
  throw ParserException("addressof not implemented");
}

ExpressionValue SimpleExpressionParser::sizeOfObject(const ExpressionValue&) {
  throw ParserException("sizeof expression not implemented");
}

ExpressionValue SimpleExpressionParser::sizeOfType(const BaseType&) {
  throw ParserException("sizeof(typename) not implemented");
}

ExpressionValue SimpleExpressionParser::addressOfLine(std::string_view, std::int32_t) {
  throw ParserException("addressof not implemented");
}

ExpressionValue SimpleExpressionParser::assign(const ExpressionValue&, const ExpressionValue&) {
  throw ParserException("this symbol not found");
}

ExpressionValue SimpleExpressionParser::readMarker(const ExpressionValue&) {
  throw ParserException("this symbol not found");
}

ExpressionValue SimpleExpressionParser::call(const ExpressionValue&,
                                             const std::vector<ExpressionValue>&) {
  throw ParserException("function calling not implemented");
}

ExpressionValue SimpleExpressionParser::pointerArithmetic(const ExpressionValue&,
                                                          const ExpressionValue&) {
  throw ParserException("addressof not implemented");
}
