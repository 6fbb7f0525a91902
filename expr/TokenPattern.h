#pragma once

#include <bitset>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A compiled token pattern: the small regular-expression subset the token tables are written in.
// It knows literal bytes, backslash escapes (\d and \s for ASCII digits and white space, any
// other escaped byte stands for itself), bracketed classes with ranges and a leading ^, and the
// quantifiers ?, * and +. Alternation, groups, anchors and the dot are not part of the subset and
// are rejected when the pattern is compiled.
//
// A pattern is only ever matched anchored at one position: the lexer asks whether a match starts
// exactly there, which is the only match that can win a token.
class TokenPattern {
 public:
  // Compiles the pattern; throws std::invalid_argument for syntax outside the subset.
  explicit TokenPattern(std::string_view pattern);

  // Length of the greedy match that begins at `position`, or npos when none begins there. An
  // empty match counts as none: a token must consume at least one byte.
  std::size_t matchAt(std::string_view text, std::size_t position) const {
    if (isLiteral_) {
      // Literals are operators of one to four bytes: compared inline, no library call.
      if (text.size() - position < literal_.size()) return npos;
      for (std::size_t k = 0; k < literal_.size(); ++k) {
        if (text[position + k] != literal_[k]) return npos;
      }
      return literal_.size();
    }
    const std::size_t end =
        possessive_ ? matchPossessive(text, position) : matchFrom(0, text, position);
    return end == npos || end == position ? npos : end - position;
  }

  // The bytes a non-empty match can begin with; used to skip patterns that cannot match.
  const std::bitset<256>& firstBytes() const { return firstBytes_; }

  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

 private:
  struct Atom {
    std::bitset<256> bytes;
    std::size_t min = 1;
    std::size_t max = 1;
  };

  std::size_t matchFrom(std::size_t atom, std::string_view text, std::size_t position) const;
  // Inline: the lexer calls it for every token, and most patterns are one or two bytes long.
  std::size_t matchPossessive(std::string_view text, std::size_t position) const {
    for (const Atom& atom : atoms_) {
      std::size_t count = 0;
      while (count < atom.max && position < text.size() &&
             atom.bytes[static_cast<unsigned char>(text[position])]) {
        ++count;
        ++position;
      }
      if (count < atom.min) return npos;
    }
    return position;
  }

  std::vector<Atom> atoms_;
  std::bitset<256> firstBytes_;
  // True when giving bytes back can never turn a failed match into a success, so matching needs
  // no backtracking. All the patterns of the C-like table are of this kind.
  bool possessive_ = true;
  // A pattern of plain bytes only (an operator) is compared as text.
  bool isLiteral_ = true;
  std::string literal_;
};
