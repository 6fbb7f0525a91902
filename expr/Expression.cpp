#include "expr/Expression.h"

#include <algorithm>

#include "expr/ExpressionParser.h"
#include "expr/Limits.h"
#include "expr/ParserException.h"
#include "expr/ValueOperations.h"

Expression::Expression(ExpressionParser& parser, unsigned height)
    : parser_(parser), height_(height) {
  if (height > kMaxExpressionDepth) throw ParserException(kTooDeepMessage);
}

Expression::~Expression() = default;

namespace {

// In front of every node: the pool its memory came from (null for the heap) and the size asked.
struct alignas(std::max_align_t) NodeHeader {
  NodePool* pool;
  std::size_t size;
};

}  // namespace

// Kept out of line: inlined into a caller, GCC pairs the header arithmetic with the wrong
// allocation function and reports a mismatched new and delete.
[[gnu::noinline]] void* Expression::operator new(std::size_t size) {
  auto* header = static_cast<NodeHeader*>(::operator new(sizeof(NodeHeader) + size));
  *header = NodeHeader{nullptr, size};
  return header + 1;
}

[[gnu::noinline]] void* Expression::operator new(std::size_t size, NodePool& pool) {
  auto* header = static_cast<NodeHeader*>(pool.allocate(sizeof(NodeHeader) + size));
  *header = NodeHeader{&pool, size};
  return header + 1;
}

[[gnu::noinline]] void Expression::operator delete(void* p) noexcept {
  if (!p) return;
  NodeHeader* header = static_cast<NodeHeader*>(p) - 1;
  if (header->pool) {
    header->pool->release(header, sizeof(NodeHeader) + header->size);
  } else {
    ::operator delete(header);
  }
}

void Expression::operator delete(void* p, NodePool&) noexcept {
  operator delete(p);
}

void* NodePool::carve(std::size_t size) {
  if (static_cast<std::size_t>(limit_ - cursor_) < size) {
    constexpr std::size_t kChunk = 16 * 1024;
    chunks_.push_back(std::make_unique_for_overwrite<char[]>(kChunk));
    cursor_ = chunks_.back().get();
    limit_ = cursor_ + kChunk;
  }
  void* block = cursor_;
  cursor_ += size;
  return block;
}

void Expression::bind(std::uint32_t, std::uint32_t) {}

std::unique_ptr<Expression> Expression::duplicate() const {
  throw ParserException("cannot duplicate expression");
}

// --- Leaves -------------------------------------------------------------------------------------

std::unique_ptr<Expression> ConstantExpression::duplicate() const {
  return std::make_unique<ConstantExpression>(parser(), value_);
}

ExpressionValue IdentifierExpression::evaluate() const {
  if (addressLow_ != 0 || addressHigh_ != 0)
    return ExpressionValue::unsignedInteger(
        (static_cast<std::uint64_t>(addressHigh_) << 32) | addressLow_, 4);
  return parser().lookupName(name_);
}

void IdentifierExpression::bind(std::uint32_t addressLow, std::uint32_t addressHigh) {
  addressLow_ = addressLow;
  addressHigh_ = addressHigh;
}

std::unique_ptr<Expression> IdentifierExpression::duplicate() const {
  return std::make_unique<IdentifierExpression>(parser(), name_);
}

ExpressionValue ScopedIdentifierExpression::evaluate() const {
  return parser().lookupScopedName(parts_);
}

std::string ScopedIdentifierExpression::describe() const {
  std::string text = "ScopedIdentifierExpression(";
  for (std::size_t i = 0; i < parts_.size(); ++i)
    text += (i == 0 ? "" : "::") + parts_[i];
  return text + ')';
}

std::unique_ptr<Expression> ScopedIdentifierExpression::duplicate() const {
  return std::make_unique<ScopedIdentifierExpression>(parser(), parts_);
}

ExpressionValue RegisterExpression::evaluate() const {
  return parser().lookupRegister(name_);
}

// --- Unary operators ----------------------------------------------------------------------------

UnaryExpression::UnaryExpression(ExpressionParser& parser, std::unique_ptr<Expression> operand)
    : Expression(parser, operand->height() + 1), operand_(std::move(operand)) {}

UnaryExpression::~UnaryExpression() = default;

ExpressionValue UnaryExpression::evaluate() const {
  ExpressionValue value = operand_->evaluate();
  resolveMarker(value);
  return apply(value);
}

std::string UnaryExpression::describe() const {
  return std::string(className()) + '(' + operand_->describe() + ')';
}

void UnaryExpression::bind(std::uint32_t addressLow, std::uint32_t addressHigh) {
  operand_->bind(addressLow, addressHigh);
}

ExpressionValue LogicalNotExpression::apply(const ExpressionValue& operand) const {
  return applyLogicalNot(operand);
}

ExpressionValue BitNotExpression::apply(const ExpressionValue& operand) const {
  return applyBitNot(operand);
}

ExpressionValue NegateExpression::apply(const ExpressionValue& operand) const {
  return applyNegate(operand);
}

// --- Binary operators ---------------------------------------------------------------------------

BinaryExpression::BinaryExpression(ExpressionParser& parser, std::unique_ptr<Expression> left,
                                   std::unique_ptr<Expression> right)
    : Expression(parser, std::max(left->height(), right->height()) + 1),
      left_(std::move(left)),
      right_(std::move(right)) {}

BinaryExpression::~BinaryExpression() = default;

std::string BinaryExpression::describe() const {
  return std::string(className()) + '(' + left_->describe() + ", " + right_->describe() + ')';
}

void BinaryExpression::bind(std::uint32_t addressLow, std::uint32_t addressHigh) {
  left_->bind(addressLow, addressHigh);
  right_->bind(addressLow, addressHigh);
}

ExpressionValue OperatorExpression::evaluate() const {
  ExpressionValue rightValue = right().evaluate();
  resolveMarker(rightValue);
  ExpressionValue leftValue = left().evaluate();
  resolveMarker(leftValue);
  return combine(leftValue, rightValue);
}

ExpressionValue PlusExpression::evaluate() const {
  ExpressionValue rightValue = right().evaluate();
  ExpressionValue leftValue = left().evaluate();
  resolveMarker(rightValue);
  if (leftValue.is(ValueKind::Marker) &&
      (parser().isPointer(leftValue) || parser().isArray(leftValue)))
    return parser().pointerArithmetic(leftValue, rightValue);
  resolveMarker(leftValue);
  return combine(leftValue, rightValue);
}

ExpressionValue PlusExpression::combine(const ExpressionValue& left,
                                        const ExpressionValue& right) const {
  return applyArithmetic(ArithmeticOperator::Plus, left, right);
}

ExpressionValue MinusExpression::combine(const ExpressionValue& left,
                                         const ExpressionValue& right) const {
  return applyArithmetic(ArithmeticOperator::Minus, left, right);
}

ExpressionValue MultiplyExpression::combine(const ExpressionValue& left,
                                            const ExpressionValue& right) const {
  return applyArithmetic(ArithmeticOperator::Multiply, left, right);
}

ExpressionValue DivideExpression::combine(const ExpressionValue& left,
                                          const ExpressionValue& right) const {
  return applyArithmetic(ArithmeticOperator::Divide, left, right);
}

ExpressionValue ModExpression::combine(const ExpressionValue& left,
                                       const ExpressionValue& right) const {
  return applyRemainder(left, right);
}

ExpressionValue EqExpression::combine(const ExpressionValue& left,
                                      const ExpressionValue& right) const {
  return applyComparison(ComparisonOperator::Equal, left, right);
}

ExpressionValue NeExpression::combine(const ExpressionValue& left,
                                      const ExpressionValue& right) const {
  return applyComparison(ComparisonOperator::NotEqual, left, right);
}

ExpressionValue LtExpression::combine(const ExpressionValue& left,
                                      const ExpressionValue& right) const {
  return applyComparison(ComparisonOperator::Less, left, right);
}

ExpressionValue LeExpression::combine(const ExpressionValue& left,
                                      const ExpressionValue& right) const {
  return applyComparison(ComparisonOperator::LessEqual, left, right);
}

ExpressionValue GtExpression::combine(const ExpressionValue& left,
                                      const ExpressionValue& right) const {
  return applyComparison(ComparisonOperator::Greater, left, right);
}

ExpressionValue GeExpression::combine(const ExpressionValue& left,
                                      const ExpressionValue& right) const {
  return applyComparison(ComparisonOperator::GreaterEqual, left, right);
}

ExpressionValue BitAndExpression::combine(const ExpressionValue& left,
                                          const ExpressionValue& right) const {
  return applyBitwise(BitwiseOperator::And, left, right);
}

ExpressionValue BitOrExpression::combine(const ExpressionValue& left,
                                         const ExpressionValue& right) const {
  return applyBitwise(BitwiseOperator::Or, left, right);
}

ExpressionValue BitXorExpression::combine(const ExpressionValue& left,
                                          const ExpressionValue& right) const {
  return applyBitwise(BitwiseOperator::Xor, left, right);
}

ExpressionValue LogicalAndExpression::combine(const ExpressionValue& left,
                                              const ExpressionValue& right) const {
  return applyLogical(LogicalOperator::And, left, right);
}

ExpressionValue LogicalOrExpression::combine(const ExpressionValue& left,
                                             const ExpressionValue& right) const {
  return applyLogical(LogicalOperator::Or, left, right);
}

ExpressionValue LshiftExpression::combine(const ExpressionValue& left,
                                          const ExpressionValue& right) const {
  return applyShift(ShiftOperator::Left, left, right);
}

ExpressionValue RshiftExpression::combine(const ExpressionValue& left,
                                          const ExpressionValue& right) const {
  return applyShift(ShiftOperator::Right, left, right);
}
