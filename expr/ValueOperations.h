#pragma once

#include "expr/ExpressionValue.h"

// The operators of the expression language on values. The left operand decides the kind and size
// of the result and the right operand is converted to it (toSigned, toUnsignedBits, toDouble or
// its low byte); this is not C's usual arithmetic conversion. Integer arithmetic wraps at 64
// bits. Marker operands must already be resolved. Failures throw ParserException.

enum class ArithmeticOperator { Plus, Minus, Multiply, Divide };
enum class ComparisonOperator { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual };
enum class BitwiseOperator { And, Or, Xor };
enum class LogicalOperator { And, Or };
enum class ShiftOperator { Left, Right };

ExpressionValue applyArithmetic(ArithmeticOperator op, const ExpressionValue& left,
                                const ExpressionValue& right);
ExpressionValue applyRemainder(const ExpressionValue& left, const ExpressionValue& right);
ExpressionValue applyComparison(ComparisonOperator op, const ExpressionValue& left,
                                const ExpressionValue& right);
ExpressionValue applyBitwise(BitwiseOperator op, const ExpressionValue& left,
                             const ExpressionValue& right);
// Both operands are already evaluated: the language's && and || do not short-circuit.
ExpressionValue applyLogical(LogicalOperator op, const ExpressionValue& left,
                             const ExpressionValue& right);
// The count is the low six bits of the right operand, which must be a signed integer.
ExpressionValue applyShift(ShiftOperator op, const ExpressionValue& left,
                           const ExpressionValue& right);

ExpressionValue applyLogicalNot(const ExpressionValue& operand);
ExpressionValue applyBitNot(const ExpressionValue& operand);
ExpressionValue applyNegate(const ExpressionValue& operand);
