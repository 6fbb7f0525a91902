#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "expr/ExpressionValue.h"
#include "expr/NodePool.h"

class ExpressionParser;
class BaseType;

// A node of an expression tree. A node owns its children and refers to the parser that built it,
// whose environment hooks give names, registers, casts and memory their meaning. Every node knows
// its height; building a node taller than the nesting limit throws, so the recursive operations
// below (evaluation, copies, destruction) stay within a bounded depth.
class Expression {
 public:
  Expression(const Expression&) = delete;
  Expression& operator=(const Expression&) = delete;
  virtual ~Expression();

  virtual ExpressionValue evaluate() const = 0;
  // A debug text: the class name of an operator node with its operands in parentheses, the
  // value of a constant, the name of an identifier.
  virtual std::string describe() const = 0;
  // Hands an address to every identifier of the tree.
  virtual void bind(std::uint32_t addressLow, std::uint32_t addressHigh);
  // A deep copy; only constants, names, subscripts and member accesses can be copied, the other
  // nodes throw "cannot duplicate expression".
  virtual std::unique_ptr<Expression> duplicate() const;

  unsigned height() const { return height_; }
  ExpressionParser& parser() const { return parser_; }

  // Nodes record where their memory came from: the heap, or a parser's pool of recycled blocks
  // (the parser places nodes there while it evaluates a text and destroys the tree before it
  // returns). Deleting a node gives its memory back to the same place.
  static void* operator new(std::size_t size);
  static void* operator new(std::size_t size, NodePool& pool);
  static void operator delete(void* p) noexcept;
  static void operator delete(void* p, NodePool& pool) noexcept;

 protected:
  Expression(ExpressionParser& parser, unsigned height);

 private:
  ExpressionParser& parser_;
  unsigned height_;
};

// --- Leaves -------------------------------------------------------------------------------------

class ConstantExpression : public Expression {
 public:
  ConstantExpression(ExpressionParser& parser, ExpressionValue value)
      : Expression(parser, 1), value_(std::move(value)) {}

  const ExpressionValue& value() const { return value_; }
  ExpressionValue evaluate() const override { return value_; }
  std::string describe() const override { return value_.display(); }
  std::unique_ptr<Expression> duplicate() const override;

 private:
  ExpressionValue value_;
};

// The literal kinds; they differ from a plain constant only in telling what was written.
class IntegerConstantExpression : public ConstantExpression {
 public:
  using ConstantExpression::ConstantExpression;
};
class FloatConstantExpression : public ConstantExpression {
 public:
  using ConstantExpression::ConstantExpression;
};
class StringConstantExpression : public ConstantExpression {
 public:
  using ConstantExpression::ConstantExpression;
};

class IdentifierExpression : public Expression {
 public:
  IdentifierExpression(ExpressionParser& parser, std::string name)
      : Expression(parser, 1), name_(std::move(name)) {}

  const std::string& name() const { return name_; }
  // An identifier with a bound address evaluates to that address; otherwise the environment
  // looks the name up.
  ExpressionValue evaluate() const override;
  std::string describe() const override { return name_; }
  void bind(std::uint32_t addressLow, std::uint32_t addressHigh) override;
  std::unique_ptr<Expression> duplicate() const override;

 private:
  std::string name_;
  std::uint32_t addressLow_ = 0;
  std::uint32_t addressHigh_ = 0;
};

// A name qualified with "::" (or starting with it); the parts are outermost first.
class ScopedIdentifierExpression : public Expression {
 public:
  ScopedIdentifierExpression(ExpressionParser& parser, std::vector<std::string> parts)
      : Expression(parser, 1), parts_(std::move(parts)) {}

  const std::vector<std::string>& parts() const { return parts_; }
  ExpressionValue evaluate() const override;
  std::string describe() const override;
  std::unique_ptr<Expression> duplicate() const override;

 private:
  std::vector<std::string> parts_;
};

class RegisterExpression : public Expression {
 public:
  RegisterExpression(ExpressionParser& parser, std::string name)
      : Expression(parser, 1), name_(std::move(name)) {}

  const std::string& name() const { return name_; }
  ExpressionValue evaluate() const override;
  std::string describe() const override { return "RegisterExpression(" + name_ + ")"; }

 private:
  std::string name_;
};

// --- Unary operators ----------------------------------------------------------------------------

class UnaryExpression : public Expression {
 public:
  UnaryExpression(ExpressionParser& parser, std::unique_ptr<Expression> operand);
  ~UnaryExpression() override;

  const Expression& operand() const { return *operand_; }
  ExpressionValue evaluate() const override;
  std::string describe() const override;
  void bind(std::uint32_t addressLow, std::uint32_t addressHigh) override;

 protected:
  virtual ExpressionValue apply(const ExpressionValue& operand) const = 0;
  virtual std::string_view className() const = 0;

 private:
  std::unique_ptr<Expression> operand_;
};

class LogicalNotExpression final : public UnaryExpression {
 public:
  using UnaryExpression::UnaryExpression;

 protected:
  ExpressionValue apply(const ExpressionValue& operand) const override;
  std::string_view className() const override { return "LogicalNotExpression"; }
};

class BitNotExpression final : public UnaryExpression {
 public:
  using UnaryExpression::UnaryExpression;

 protected:
  ExpressionValue apply(const ExpressionValue& operand) const override;
  std::string_view className() const override { return "BitNotExpression"; }
};

class NegateExpression final : public UnaryExpression {
 public:
  using UnaryExpression::UnaryExpression;

 protected:
  ExpressionValue apply(const ExpressionValue& operand) const override;
  std::string_view className() const override { return "NegateExpression"; }
};

// --- Binary operators ---------------------------------------------------------------------------

// A node with a left and a right operand.
class BinaryExpression : public Expression {
 public:
  BinaryExpression(ExpressionParser& parser, std::unique_ptr<Expression> left,
                   std::unique_ptr<Expression> right);
  ~BinaryExpression() override;

  const Expression& left() const { return *left_; }
  const Expression& right() const { return *right_; }
  std::string describe() const override;
  void bind(std::uint32_t addressLow, std::uint32_t addressHigh) override;

 protected:
  virtual std::string_view className() const = 0;

 private:
  std::unique_ptr<Expression> left_;
  std::unique_ptr<Expression> right_;
};

// An operator on two values. It evaluates the right operand first, then the left one, then
// combines them; both are always evaluated (&& and || included).
class OperatorExpression : public BinaryExpression {
 public:
  using BinaryExpression::BinaryExpression;

  ExpressionValue evaluate() const override;

 protected:
  // Combines the evaluated operands, markers already resolved.
  virtual ExpressionValue combine(const ExpressionValue& left,
                                  const ExpressionValue& right) const = 0;
};

class PlusExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;
  // A marker of pointer or array type on the left makes this pointer arithmetic.
  ExpressionValue evaluate() const override;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "PlusExpression"; }
};

class MinusExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "MinusExpression"; }
};

class MultiplyExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "MultiplyExpression"; }
};

class DivideExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "DivideExpression"; }
};

class ModExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "ModExpression"; }
};

class EqExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "EqExpression"; }
};

class NeExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "NeExpression"; }
};

class LtExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "LtExpression"; }
};

class LeExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "LeExpression"; }
};

class GtExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "GtExpression"; }
};

class GeExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "GeExpression"; }
};

class BitAndExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "BitAndExpression"; }
};

class BitOrExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "BitOrExpression"; }
};

class BitXorExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "BitXorExpression"; }
};

class LogicalAndExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "LogicalAndExpression"; }
};

class LogicalOrExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "LogicalOrExpression"; }
};

class LshiftExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "LshiftExpression"; }
};

class RshiftExpression final : public OperatorExpression {
 public:
  using OperatorExpression::OperatorExpression;

 protected:
  ExpressionValue combine(const ExpressionValue& left, const ExpressionValue& right) const override;
  std::string_view className() const override { return "RshiftExpression"; }
};

// --- Nodes that need the environment ------------------------------------------------------------

// A subscript (left = base, right = index); unary * is a subscript by the unsigned 0.
class LeftSquareBracketExpression final : public BinaryExpression {
 public:
  using BinaryExpression::BinaryExpression;

  ExpressionValue evaluate() const override;
  std::unique_ptr<Expression> duplicate() const override;

 protected:
  std::string_view className() const override { return "LeftSquareBracketExpression"; }
};

// A member access, "." or "->" alike (left = base, right = the member's name node).
class DotExpression final : public BinaryExpression {
 public:
  using BinaryExpression::BinaryExpression;

  ExpressionValue evaluate() const override;
  std::unique_ptr<Expression> duplicate() const override;

 protected:
  std::string_view className() const override { return "DotExpression"; }
};

// An assignment (left = target, right = value); ++, -- and the compound assignments build one.
class AssignExpression final : public BinaryExpression {
 public:
  using BinaryExpression::BinaryExpression;

  ExpressionValue evaluate() const override;

 protected:
  std::string_view className() const override { return "AssignExpression"; }
};

class AddressofExpression final : public Expression {
 public:
  AddressofExpression(ExpressionParser& parser, std::unique_ptr<Expression> operand);
  ~AddressofExpression() override;

  ExpressionValue evaluate() const override;
  std::string describe() const override;
  void bind(std::uint32_t addressLow, std::uint32_t addressHigh) override;

 private:
  std::unique_ptr<Expression> operand_;
};

class CastExpression final : public Expression {
 public:
  CastExpression(ExpressionParser& parser, std::unique_ptr<BaseType> type,
                 std::unique_ptr<Expression> operand);
  ~CastExpression() override;

  const BaseType& type() const { return *type_; }
  ExpressionValue evaluate() const override;
  std::string describe() const override;
  void bind(std::uint32_t addressLow, std::uint32_t addressHigh) override;

 private:
  std::unique_ptr<BaseType> type_;
  std::unique_ptr<Expression> operand_;
};

class CallExpression final : public Expression {
 public:
  CallExpression(ExpressionParser& parser, std::unique_ptr<Expression> callee,
                 std::vector<std::unique_ptr<Expression>> arguments);
  ~CallExpression() override;

  const std::vector<std::unique_ptr<Expression>>& arguments() const { return arguments_; }
  ExpressionValue evaluate() const override;
  std::string describe() const override;

 private:
  std::unique_ptr<Expression> callee_;
  std::vector<std::unique_ptr<Expression>> arguments_;
};

// sizeof of an expression or of a type; exactly one of the two is set.
class SizeofExpression final : public Expression {
 public:
  SizeofExpression(ExpressionParser& parser, std::unique_ptr<Expression> operand);
  SizeofExpression(ExpressionParser& parser, std::unique_ptr<BaseType> type);
  ~SizeofExpression() override;

  const Expression* operand() const { return operand_.get(); }
  const BaseType* type() const { return type_.get(); }
  ExpressionValue evaluate() const override;
  std::string describe() const override;
  void bind(std::uint32_t addressLow, std::uint32_t addressHigh) override;

 private:
  std::unique_ptr<Expression> operand_;
  std::unique_ptr<BaseType> type_;
};

// addressof("file", line): the address of a source line.
class AddressofLineExpression final : public Expression {
 public:
  AddressofLineExpression(ExpressionParser& parser, std::string file, std::int32_t line)
      : Expression(parser, 1), file_(std::move(file)), line_(line) {}

  const std::string& file() const { return file_; }
  std::int32_t line() const { return line_; }
  ExpressionValue evaluate() const override;
  std::string describe() const override;

 private:
  std::string file_;
  std::int32_t line_;
};
