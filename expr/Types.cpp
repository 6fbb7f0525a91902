#include "expr/Types.h"

#include <algorithm>

#include "expr/Expression.h"
#include "expr/Limits.h"
#include "expr/ParserException.h"

BaseType::BaseType(unsigned height) : height_(height) {
  if (height > kMaxExpressionDepth) throw ParserException(kTooDeepMessage);
}

BaseType::~BaseType() = default;

std::string SimpleType::describe() const {
  static constexpr const char* kNames[] = {"char", "short", "int", "long", "long long"};
  const std::string name = kNames[static_cast<int>(code_)];
  return unsigned_ ? "unsigned " + name : name;
}

namespace {

unsigned structHeight(const std::vector<StructType::Field>& fields) {
  unsigned tallest = 0;
  for (const auto& field : fields)
    tallest = std::max(tallest, field.type->height());
  return tallest + 1;
}

}  // namespace

StructType::StructType(std::vector<Field> fields)
    : BaseType(structHeight(fields)), fields_(std::move(fields)) {}

std::string StructType::describe() const {
  std::string text = "struct {";
  for (const Field& field : fields_) {
    text += ' ' + field.type->describe();
    if (!field.name.empty()) text += ' ' + field.name;
    if (field.bitWidth != 0) text += " : " + std::to_string(field.bitWidth);
    text += ';';
  }
  return text + " }";
}

std::string RegisterType::describe() const {
  std::string text = "register " + std::to_string(size_);
  for (const Field& field : fields_)
    text += ' ' + field.name + ' ' + std::to_string(field.bitOffset) + ' ' +
            std::to_string(field.bitSize);
  return text + ';';
}

ArrayType::ArrayType(std::unique_ptr<BaseType> element, std::unique_ptr<Expression> size)
    : BaseType(element->height() + 1), element_(std::move(element)), size_(std::move(size)) {}

ArrayType::~ArrayType() = default;

std::string ArrayType::describe() const {
  return element_->describe() + '[' + size_->describe() + ']';
}
