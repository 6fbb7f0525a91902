#pragma once

#include "expr/Lexer.h"

// The lexer of the C-like expression language: the token table of its operators, literals and
// names, which is also its operator-precedence table. Identifiers are never replaced.
class CStyleLexer : public Lexer {
 public:
  CStyleLexer();
};
