// Evaluation of the nodes that need the environment: they check what they can and hand markers to
// the parser's hooks.
#include <algorithm>

#include "expr/Expression.h"
#include "expr/ExpressionParser.h"
#include "expr/ParserException.h"
#include "expr/Types.h"

namespace {

void requireMarker(const ExpressionValue& value, const char* message) {
  if (!value.is(ValueKind::Marker)) throw ParserException(message);
}

// A marker on the right of an assignment or as an index is read through the environment.
ExpressionValue readIfMarker(ExpressionParser& parser, ExpressionValue value) {
  return value.is(ValueKind::Marker) ? parser.readMarker(value) : value;
}

}  // namespace

ExpressionValue LeftSquareBracketExpression::evaluate() const {
  const ExpressionValue base = left().evaluate();
  requireMarker(base, "bad expression type");
  const ExpressionValue index = right().evaluate();
  if (index.is(ValueKind::None)) throw ParserException("bad index type");
  return parser().subscript(base, readIfMarker(parser(), index));
}

std::unique_ptr<Expression> LeftSquareBracketExpression::duplicate() const {
  return std::make_unique<LeftSquareBracketExpression>(parser(), left().duplicate(),
                                                       right().duplicate());
}

ExpressionValue DotExpression::evaluate() const {
  const ExpressionValue base = left().evaluate();
  requireMarker(base, "bad expression type");
  if (const auto* scoped = dynamic_cast<const ScopedIdentifierExpression*>(&right()))
    return parser().scopedMember(base, scoped->parts());
  if (const auto* name = dynamic_cast<const IdentifierExpression*>(&right()))
    return parser().member(base, name->name());
  throw ParserException("identifier expected");
}

std::unique_ptr<Expression> DotExpression::duplicate() const {
  return std::make_unique<DotExpression>(parser(), left().duplicate(), right().duplicate());
}

ExpressionValue AssignExpression::evaluate() const {
  const ExpressionValue target = left().evaluate();
  requireMarker(target, "bad expression type");
  return parser().assign(target, readIfMarker(parser(), right().evaluate()));
}

AddressofExpression::AddressofExpression(ExpressionParser& parser,
                                         std::unique_ptr<Expression> operand)
    : Expression(parser, operand->height() + 1), operand_(std::move(operand)) {}

AddressofExpression::~AddressofExpression() = default;

ExpressionValue AddressofExpression::evaluate() const {
  const ExpressionValue value = operand_->evaluate();
  requireMarker(value, "cannot take address of a constant");
  return parser().addressOf(value);
}

std::string AddressofExpression::describe() const {
  return "AddressofExpression(" + operand_->describe() + ')';
}

void AddressofExpression::bind(std::uint32_t addressLow, std::uint32_t addressHigh) {
  operand_->bind(addressLow, addressHigh);
}

CastExpression::CastExpression(ExpressionParser& parser, std::unique_ptr<BaseType> type,
                               std::unique_ptr<Expression> operand)
    : Expression(parser, std::max(type->height(), operand->height()) + 1),
      type_(std::move(type)),
      operand_(std::move(operand)) {}

CastExpression::~CastExpression() = default;

ExpressionValue CastExpression::evaluate() const {
  return parser().castValue(*type_, operand_->evaluate());
}

std::string CastExpression::describe() const {
  return "CastExpression(" + type_->describe() + ", " + operand_->describe() + ')';
}

void CastExpression::bind(std::uint32_t addressLow, std::uint32_t addressHigh) {
  operand_->bind(addressLow, addressHigh);
}

namespace {

unsigned callHeight(const Expression& callee,
                    const std::vector<std::unique_ptr<Expression>>& arguments) {
  unsigned tallest = callee.height();
  for (const auto& argument : arguments)
    tallest = std::max(tallest, argument->height());
  return tallest + 1;
}

}  // namespace

CallExpression::CallExpression(ExpressionParser& parser, std::unique_ptr<Expression> callee,
                               std::vector<std::unique_ptr<Expression>> arguments)
    : Expression(parser, callHeight(*callee, arguments)),
      callee_(std::move(callee)),
      arguments_(std::move(arguments)) {}

CallExpression::~CallExpression() = default;

ExpressionValue CallExpression::evaluate() const {
  const ExpressionValue callee = callee_->evaluate();
  requireMarker(callee, "cannot call a constant");
  std::vector<ExpressionValue> values;
  values.reserve(arguments_.size());
  for (const auto& argument : arguments_)
    values.push_back(argument->evaluate());
  return parser().call(callee, values);
}

std::string CallExpression::describe() const {
  std::string text = "CallExpression(" + callee_->describe();
  for (const auto& argument : arguments_)
    text += ", " + argument->describe();
  return text + ')';
}

SizeofExpression::SizeofExpression(ExpressionParser& parser, std::unique_ptr<Expression> operand)
    : Expression(parser, operand->height() + 1), operand_(std::move(operand)) {}

SizeofExpression::SizeofExpression(ExpressionParser& parser, std::unique_ptr<BaseType> type)
    : Expression(parser, type->height() + 1), type_(std::move(type)) {}

SizeofExpression::~SizeofExpression() = default;

ExpressionValue SizeofExpression::evaluate() const {
  if (!operand_) return parser().sizeOfType(*type_);
  const ExpressionValue value = operand_->evaluate();
  requireMarker(value, "cannot determine sizeof of a constant");
  return parser().sizeOfObject(value);
}

std::string SizeofExpression::describe() const {
  return "SizeofExpression(" + (operand_ ? operand_->describe() : type_->describe()) + ')';
}

void SizeofExpression::bind(std::uint32_t addressLow, std::uint32_t addressHigh) {
  if (operand_) operand_->bind(addressLow, addressHigh);
}

ExpressionValue AddressofLineExpression::evaluate() const {
  return parser().addressOfLine(file_, line_);
}

std::string AddressofLineExpression::describe() const {
  return "AddressofLineExpression(\"" + file_ + "\", " + std::to_string(line_) + ')';
}
