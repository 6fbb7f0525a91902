#pragma once

#include <string_view>

#include "expr/ExpressionValue.h"

class Lexer;

// Evaluates the texts that need no environment in one pass over their tokens, without building
// a tree: integer, floating and string literals, parentheses, the prefix operators + - ! ~ and
// the binary operators from || to *. The grammar, the order of the tokens read and the
// operations applied are those of the tree parser, so the value is the one the tree would give.
// Anything else (a name, a register, a cast, a postfix or assignment operator, a failure, deep
// nesting) makes it give up, and the caller takes the tree path, which also produces the error.
class DirectEvaluator {
 public:
  explicit DirectEvaluator(Lexer& lexer) : lexer_(lexer) {}

  // True with the value of the text; false when the text is outside the subset or fails.
  bool evaluate(std::string_view text, ExpressionValue& value);

 private:
  // A value and the height the tree would have had for it.
  struct Operand {
    ExpressionValue value;
    unsigned height = 0;
  };

  bool binary(int level, unsigned depth, Operand& result);
  bool unary(unsigned depth, Operand& result);

  Lexer& lexer_;
};
