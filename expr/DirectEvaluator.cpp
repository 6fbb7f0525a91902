#include "expr/DirectEvaluator.h"

#include <algorithm>

#include "expr/Lexer.h"
#include "expr/Literals.h"
#include "expr/ParserException.h"
#include "expr/ValueOperations.h"

namespace {

// Far below the tree parser's own limits, so a text near them is always left to the tree path.
constexpr unsigned kMaxDirectDepth = 200;

// The binary operators of the subset and what each applies; false for any other token.
bool applyBinary(TokenKind kind, ExpressionValue& left, const ExpressionValue& right) {
  switch (kind) {
    case TokenKind::Star:
      left = applyArithmetic(ArithmeticOperator::Multiply, left, right);
      return true;
    case TokenKind::Slash:
      left = applyArithmetic(ArithmeticOperator::Divide, left, right);
      return true;
    case TokenKind::Percent:
      left = applyRemainder(left, right);
      return true;
    case TokenKind::Plus:
      left = applyArithmetic(ArithmeticOperator::Plus, left, right);
      return true;
    case TokenKind::Minus:
      left = applyArithmetic(ArithmeticOperator::Minus, left, right);
      return true;
    case TokenKind::ShiftLeft:
      left = applyShift(ShiftOperator::Left, left, right);
      return true;
    case TokenKind::ShiftRight:
      left = applyShift(ShiftOperator::Right, left, right);
      return true;
    case TokenKind::Less:
      left = applyComparison(ComparisonOperator::Less, left, right);
      return true;
    case TokenKind::LessEqual:
      left = applyComparison(ComparisonOperator::LessEqual, left, right);
      return true;
    case TokenKind::Greater:
      left = applyComparison(ComparisonOperator::Greater, left, right);
      return true;
    case TokenKind::GreaterEqual:
      left = applyComparison(ComparisonOperator::GreaterEqual, left, right);
      return true;
    case TokenKind::Equal:
      left = applyComparison(ComparisonOperator::Equal, left, right);
      return true;
    case TokenKind::NotEqual:
      left = applyComparison(ComparisonOperator::NotEqual, left, right);
      return true;
    case TokenKind::Ampersand:
      left = applyBitwise(BitwiseOperator::And, left, right);
      return true;
    case TokenKind::Caret:
      left = applyBitwise(BitwiseOperator::Xor, left, right);
      return true;
    case TokenKind::Bar:
      left = applyBitwise(BitwiseOperator::Or, left, right);
      return true;
    case TokenKind::AndAnd:
      left = applyLogical(LogicalOperator::And, left, right);
      return true;
    case TokenKind::OrOr:
      left = applyLogical(LogicalOperator::Or, left, right);
      return true;
    default:
      return false;
  }
}

}  // namespace

bool DirectEvaluator::evaluate(std::string_view text, ExpressionValue& value) {
  if (text.empty()) return false;
  try {
    lexer_.reset(text);
    Operand result;
    if (!binary(-4, 0, result)) return false;
    value = std::move(result.value);
    return true;
  } catch (const ParserException&) {
    // The tree path decides which error the text reports.
    return false;
  }
}

// Precedence climbing as in the tree parser; both operands are evaluated before they combine, as
// the tree does, and no operation has a side effect, so evaluating while parsing is the same.
bool DirectEvaluator::binary(int level, unsigned depth, Operand& result) {
  if (depth > kMaxDirectDepth || !unary(depth + 1, result)) return false;
  while (true) {
    const int precedence = lexer_.precedence();
    if (precedence < level || precedence > 9) return true;
    // Assignments, "?", "," and ">>>" are outside the subset.
    if (precedence < 0 || lexer_.kind() == TokenKind::ShiftRightUnsigned) return false;
    const TokenKind kind = lexer_.kind();
    lexer_.next();
    Operand right;
    const bool parsed =
        precedence == 9 ? unary(depth + 1, right) : binary(precedence + 1, depth + 1, right);
    if (!parsed || !applyBinary(kind, result.value, right.value)) return false;
    result.height = std::max(result.height, right.height) + 1;
    if (result.height > kMaxDirectDepth) return false;
  }
}

bool DirectEvaluator::unary(unsigned depth, Operand& result) {
  if (depth > kMaxDirectDepth) return false;
  Lexer& lex = lexer_;
  const TokenKind kind = lex.kind();
  switch (kind) {
    case TokenKind::DecimalInteger:
    case TokenKind::HexInteger:
    case TokenKind::BinaryInteger:
      result.value = ExpressionValue::signedInteger(integerLiteralValue(lex.text()));
      result.height = 1;
      lex.next();
      break;
    case TokenKind::Float:
      result.value = ExpressionValue::floating(floatLiteralValue(lex.text()));
      result.height = 1;
      lex.next();
      break;
    case TokenKind::String: {
      const std::string_view quoted = lex.text();
      result.value = ExpressionValue::string(std::string(quoted.substr(1, quoted.size() - 2)));
      result.height = 1;
      lex.next();
      break;
    }
    case TokenKind::LeftParen:
      lex.next();
      // "(" and a name may start a cast.
      if (lex.kind() == TokenKind::Identifier || !binary(-4, depth + 1, result) ||
          lex.kind() != TokenKind::RightParen)
        return false;
      lex.next();
      break;
    case TokenKind::Plus:
      lex.next();
      if (!unary(depth + 1, result)) return false;
      break;
    case TokenKind::Minus:
    case TokenKind::Not:
    case TokenKind::Tilde:
      lex.next();
      if (!unary(depth + 1, result)) return false;
      if (kind == TokenKind::Minus) {
        result.value = applyNegate(result.value);
      } else if (kind == TokenKind::Not) {
        result.value = applyLogicalNot(result.value);
      } else {
        result.value = applyBitNot(result.value);
      }
      ++result.height;
      break;
    default:
      return false;
  }
  // Subscripts, member accesses, ++, -- and calls are outside the subset.
  switch (lex.kind()) {
    case TokenKind::LeftBracket:
    case TokenKind::Dot:
    case TokenKind::Arrow:
    case TokenKind::Increment:
    case TokenKind::Decrement:
    case TokenKind::LeftParen:
      return false;
    default:
      return true;
  }
}
