#pragma once

#include "expr/Lexer.h"

// The lexer of the C-like expression language: the token table of its operators, literals and
// names, which is also its operator-precedence table. Identifiers are never replaced.
class CStyleLexer : public Lexer {
 public:
  CStyleLexer();

 protected:
  // The table above as a hand-written scanner: it dispatches on the first byte and tries the
  // rules that can start with it in table order, so it finds the same token as the table, with
  // no pattern matching.
  bool matchToken(std::string_view text, std::size_t position, TokenMatch& match) override;
};
