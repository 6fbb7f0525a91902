#pragma once

#include <cstdint>
#include <string_view>

#include "expr/DirectEvaluator.h"
#include "expr/ExpressionParser.h"
#include "expr/NodePool.h"

// The expression parser the preprocessor uses: literals and operators only. Every environment
// hook fails, so any name, register, assignment, subscript, member access, dereference,
// address-of, cast, sizeof or call makes the expression fail. One parser can evaluate any number
// of texts.
class SimpleExpressionParser : public ExpressionParser {
 public:
  SimpleExpressionParser();
  ~SimpleExpressionParser() override;

  // The value of the text (the none value for an empty text); may throw ParserException. Texts
  // of literals and operators are evaluated directly, the others through a tree.
  ExpressionValue evaluateText(std::string_view text);
  // The tree path alone, whatever the text.
  ExpressionValue evaluateTree(std::string_view text);

  // The three entry points never throw ParserException: a failure, or a value of a kind the
  // entry does not accept, gives ok false. evaluateBoolean accepts booleans only (the truth of
  // the low byte); the other two accept signed, unsigned and floating values, as toUnsignedBits
  // (a double gives its bit pattern) and toSigned (a double is truncated).
  bool evaluateBoolean(std::string_view text, bool& ok);
  std::uint64_t evaluateUnsigned(std::string_view text, bool& ok);
  std::int64_t evaluateSigned(std::string_view text, bool& ok);

  ExpressionValue lookupScopedName(const std::vector<std::string>& parts) override;
  ExpressionValue lookupName(std::string_view name) override;
  ExpressionValue lookupRegister(std::string_view name) override;
  bool isTypeName(std::string_view name) override;
  bool isTemplateName(std::string_view name) override;
  ExpressionValue castValue(const BaseType& type, const ExpressionValue& value) override;
  bool isPointer(const ExpressionValue& marker) override;
  bool isArray(const ExpressionValue& marker) override;
  ExpressionValue subscript(const ExpressionValue& base, const ExpressionValue& index) override;
  ExpressionValue member(const ExpressionValue& base, std::string_view name) override;
  ExpressionValue scopedMember(const ExpressionValue& base,
                               const std::vector<std::string>& parts) override;
  ExpressionValue addressOf(const ExpressionValue& marker) override;
  ExpressionValue sizeOfObject(const ExpressionValue& marker) override;
  ExpressionValue sizeOfType(const BaseType& type) override;
  ExpressionValue addressOfLine(std::string_view file, std::int32_t line) override;
  ExpressionValue assign(const ExpressionValue& target, const ExpressionValue& value) override;
  ExpressionValue readMarker(const ExpressionValue& marker) override;
  ExpressionValue call(const ExpressionValue& callee,
                       const std::vector<ExpressionValue>& arguments) override;
  ExpressionValue pointerArithmetic(const ExpressionValue& pointer,
                                    const ExpressionValue& offset) override;

 private:
  NodePool nodePool_;
  DirectEvaluator direct_{lexer()};
};
