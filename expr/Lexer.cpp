#include "expr/Lexer.h"

#include <stdexcept>

#include "expr/ParserException.h"

void Lexer::addRule(std::string_view pattern, TokenKind kind, int precedence) {
  if (rules_.size() >= 0xFFFF) throw std::length_error("too many token rules");
  rules_.push_back(TokenRule{std::string(pattern), TokenPattern(pattern), kind, precedence});
}

void Lexer::buildIndex() {
  candidates_.clear();
  for (unsigned byte = 0; byte < 256; ++byte) {
    groupStart_[byte] = static_cast<std::uint16_t>(candidates_.size());
    for (std::size_t rule = 0; rule < rules_.size(); ++rule)
      if (rules_[rule].compiled.firstBytes()[byte])
        candidates_.push_back(static_cast<std::uint16_t>(rule));
  }
  groupStart_[256] = static_cast<std::uint16_t>(candidates_.size());
  indexedRules_ = rules_.size();
}

void Lexer::reset(std::string_view text) {
  if (indexedRules_ != rules_.size()) buildIndex();
  below_.clear();
  current_ = Input{nullptr, text, 0};
  next();
}

std::string Lexer::expandIdentifier(std::string_view) {
  return {};
}

void Lexer::next() {
  while (true) {
    const std::size_t size = current_.text.size();
    std::size_t position = current_.position;
    if (skipsBlanks_) {
      // The table's first rule reads runs of white space, and next() drops them: step over them
      // here instead of making a token of each.
      const char* data = current_.text.data();
      while (position < size && isBlank(data[position]))
        ++position;
      current_.position = position;
    }
    if (position < size) {
      scan();
      if (kind_ != TokenKind::Whitespace) return;
    } else if (below_.empty()) {
      break;
    } else {
      current_ = std::move(below_.back());
      below_.pop_back();
    }
  }
  kind_ = TokenKind::End;
  precedence_ = kNoPrecedence;
  text_ = {};
}

bool Lexer::matchToken(std::string_view text, std::size_t position, TokenMatch& match) {
  if (indexedRules_ != rules_.size()) buildIndex();
  const auto byte = static_cast<unsigned char>(text[position]);
  for (std::size_t i = groupStart_[byte]; i < groupStart_[byte + 1]; ++i) {
    const TokenRule& rule = rules_[candidates_[i]];
    std::size_t length = rule.compiled.matchAt(text, position);
    if (length != TokenPattern::npos) {
      match = TokenMatch{rule.kind, rule.precedence, length};
      return true;
    }
  }
  return false;
}

void Lexer::scan() {
  while (true) {
    TokenMatch match;
    if (!matchToken(current_.text, current_.position, match)) unrecognised(current_);
    kind_ = match.kind;
    precedence_ = match.precedence;
    text_ = std::string_view(current_.text.data() + current_.position, match.length);
    current_.position += match.length;
    if (kind_ != TokenKind::Identifier || !pushReplacement()) return;
  }
}

void Lexer::unrecognised(const Input& input) {
  throw ParserException("unrecognised token: " + std::string(input.text.substr(input.position)));
}

bool Lexer::pushReplacement() {
  std::string replacement = expandIdentifier(text_);
  if (replacement.empty()) return false;
  // A replacement is read before the text below it; a chain of replacements that keeps
  // expanding would otherwise grow the stack without end.
  if (below_.size() + 1 >= kMaxExpansionDepth)
    throw ParserException("identifier expansion nested too deeply");
  auto storage = std::make_unique<std::string>(std::move(replacement));
  const std::string_view view = *storage;
  below_.push_back(std::move(current_));
  current_ = Input{std::move(storage), view, 0};
  return true;
}
