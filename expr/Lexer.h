#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "expr/TokenPattern.h"

// Token kinds; the numbers are part of the interface (1 is never produced).
enum class TokenKind : int {
  End = 0,
  Whitespace = 2,
  DecimalInteger = 3,
  HexInteger = 4,
  BinaryInteger = 5,
  Float = 6,
  String = 7,
  Identifier = 8,
  Register = 9,
  Semicolon = 10,
  Colon = 11,
  Scope = 12,
  LeftParen = 13,
  RightParen = 14,
  LeftBracket = 15,
  RightBracket = 16,
  LeftBrace = 17,
  RightBrace = 18,
  Dot = 19,
  Arrow = 20,
  Increment = 21,
  Decrement = 22,
  Tilde = 23,
  Not = 24,
  Star = 25,
  Slash = 26,
  Percent = 27,
  Plus = 28,
  Minus = 29,
  ShiftLeft = 30,
  ShiftRight = 31,
  ShiftRightUnsigned = 32,
  Less = 33,
  LessEqual = 34,
  Greater = 35,
  GreaterEqual = 36,
  Equal = 37,
  NotEqual = 38,
  Ampersand = 39,
  Caret = 40,
  Bar = 41,
  AndAnd = 42,
  OrOr = 43,
  Question = 44,
  Assign = 45,
  PlusAssign = 46,
  MinusAssign = 47,
  StarAssign = 48,
  SlashAssign = 49,
  PercentAssign = 50,
  ShiftRightAssign = 51,
  ShiftLeftAssign = 52,
  ShiftRightUnsignedAssign = 53,
  AndAssign = 54,
  XorAssign = 55,
  OrAssign = 56,
  Comma = 57,
};

// The precedence of a token that is not a binary operator (End included).
inline constexpr int kNoPrecedence = 10;

// A token recognised at some position: its kind, precedence and length in bytes.
struct TokenMatch {
  TokenKind kind;
  int precedence;
  std::size_t length;
};

// One row of a token table: the pattern as written, its compiled form, the kind it produces and
// the binary-operator precedence of that kind.
struct TokenRule {
  std::string pattern;
  TokenPattern compiled;
  TokenKind kind;
  int precedence;
};

// A table-driven scanner that reads one token ahead, on demand. The rules are tried in the order
// in which they were added and the first one whose match begins at the current position wins;
// there is no longest-match comparison between rules, so a table lists longer operators before
// their prefixes. To avoid trying every rule at every position, the rules are indexed by the
// bytes their matches can begin with; the index keeps the table order, so the winner is the same.
class Lexer {
 public:
  Lexer() = default;
  Lexer(const Lexer&) = delete;
  Lexer& operator=(const Lexer&) = delete;
  virtual ~Lexer() = default;

  // Starts a new text, dropping whatever was left of the previous one, and reads the first
  // token. The text is borrowed: it must outlive the scanning of it.
  void reset(std::string_view text);
  // Makes the next token that is not white space current; stays at End once there.
  void next();

  TokenKind kind() const { return kind_; }
  int precedence() const { return precedence_; }
  // The current token's text; valid until the next call of next() or reset().
  std::string_view text() const { return text_; }
  // The index of the next unread byte in the newest input text.
  std::size_t position() const { return current_.position; }
  bool textIs(std::string_view word) const { return text_ == word; }

  // Replacement text for an identifier, or an empty string to keep the identifier.
  virtual std::string expandIdentifier(std::string_view identifier);

 protected:
  // Declares that the table's first rule is "[\s]+" (ASCII white space), so next() may skip such
  // bytes without scanning them as tokens.
  void setSkipsBlanks() { skipsBlanks_ = true; }
  static bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

  // Compiles and appends a rule; only constructors add rules.
  void addRule(std::string_view pattern, TokenKind kind, int precedence);

  // Finds the first rule, in table order, whose match begins at `position` (which is inside the
  // text); false when none does. A lexer with a fixed table may override this with an equivalent
  // hand-written scanner.
  virtual bool matchToken(std::string_view text, std::size_t position, TokenMatch& match);

 private:
  struct Input {
    std::unique_ptr<std::string> storage;  // owns the text of a pushed expansion
    std::string_view text;
    std::size_t position = 0;
  };

  static constexpr std::size_t kMaxExpansionDepth = 256;

  // Reads one token at the current position of the newest text; an identifier with a replacement
  // is dropped and the first token of the replacement is read instead.
  void scan();
  [[noreturn, gnu::noinline]] static void unrecognised(const Input& input);
  // Pushes the replacement of the current identifier, if it has one, as the newest text.
  [[gnu::noinline]] bool pushReplacement();
  void buildIndex();

  std::vector<TokenRule> rules_;
  // Rule numbers grouped by first byte, each group in table order: the group of byte b is
  // candidates_[groupStart_[b]] up to candidates_[groupStart_[b + 1]].
  std::vector<std::uint16_t> candidates_;
  std::array<std::uint16_t, 257> groupStart_{};
  std::size_t indexedRules_ = 0;

  // The text being read, and below it the texts whose reading a replacement interrupted.
  Input current_;
  std::vector<Input> below_;
  bool skipsBlanks_ = false;
  TokenKind kind_ = TokenKind::End;
  int precedence_ = kNoPrecedence;
  std::string_view text_;
};
