#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "expr/Value.h"

class Scanner;

// Evaluates the expressions of <ifex>, <define> and <for>. Each entry point gives the value of a
// text, or nothing when the text fails to evaluate or its value is not of a kind the entry takes;
// no failure is ever reported further. One evaluator serves any number of texts and keeps only
// scratch storage between them.
class ExpressionEvaluator {
 public:
  // True or false for a boolean value (a comparison, "!", or && and || with a boolean left
  // operand); nothing for any other value.
  std::optional<bool> truthValue(std::string_view text);
  // A signed or floating value as 64 unsigned bits (a double gives its bit pattern).
  std::optional<std::uint64_t> unsignedValue(std::string_view text);
  // A signed or floating value as a signed number (a double is truncated toward zero).
  std::optional<std::int64_t> signedValue(std::string_view text);
  // The value of a text, of any kind (a string's characters are a view into the text).
  std::optional<Value> value(std::string_view text);
  // Where the expression of the last text that evaluated ended: the text's size when all of it
  // was read, else the position of what followed and was ignored ("0X4" ends before "X4").
  std::size_t endOfLast() const { return end_; }

 private:
  // False when the text fails; an empty text fails too (it has no value).
  bool evaluate(std::string_view text, Value& result);

  // An operator waiting for its operand (a binary one with its left operand), an open
  // parenthesis, or the bottom entry.
  struct Pending {
    enum class Type : std::uint8_t { Bottom, Group, Plus, Prefix, Binary };
    Type type;
    std::uint8_t op;  // a UnaryOperator or BinaryOperator
    // The level of the operator, above every binary one for a prefix operator; -1 for an open
    // parenthesis and the bottom entry, which no operator completes.
    std::int8_t precedence;
    Value left;
  };
  // The entry a token pushes where an operand must start (an open parenthesis or a prefix
  // operator); false for any other token.
  static bool prefixEntry(const Scanner& scanner, Pending& entry);
  // Makes room above `top` for one more entry; gives where `top` then is, and sets `last` to
  // the last entry there is room for.
  Pending* grow(Pending* top, Pending*& last);

  // Scratch storage for the pending entries, kept between texts; a Bottom entry lies under
  // them.
  std::vector<Pending> pending_;
  // Scratch storage for the copy of the text that the scanner reads.
  std::vector<char> padded_;
  std::size_t end_ = 0;
};
