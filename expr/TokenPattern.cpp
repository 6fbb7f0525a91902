#include "expr/TokenPattern.h"

#include <stdexcept>
#include <string>

namespace {

std::bitset<256> singleByte(unsigned char byte) {
  std::bitset<256> bytes;
  bytes.set(byte);
  return bytes;
}

// The set an escaped byte stands for: \d and \s are ASCII classes, anything else is literal.
std::bitset<256> escapeSet(char escaped) {
  std::bitset<256> bytes;
  if (escaped == 'd') {
    for (unsigned char c = '0'; c <= '9'; ++c)
      bytes.set(c);
  } else if (escaped == 's') {
    for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'})
      bytes.set(c);
  } else {
    bytes.set(static_cast<unsigned char>(escaped));
  }
  return bytes;
}

[[noreturn]] void reject(std::string_view pattern, std::string_view why) {
  throw std::invalid_argument("token pattern " + std::string(pattern) + ": " + std::string(why));
}

}  // namespace

TokenPattern::TokenPattern(std::string_view pattern) {
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i++];
    Atom atom;
    int singleByteValue = -1;  // the byte of an atom that stands for exactly one byte
    if (c == '\\') {
      if (i == pattern.size()) reject(pattern, "trailing backslash");
      const char escaped = pattern[i++];
      atom.bytes = escapeSet(escaped);
      if (escaped != 'd' && escaped != 's') singleByteValue = static_cast<unsigned char>(escaped);
    } else if (c == '[') {
      const bool negated = i < pattern.size() && pattern[i] == '^';
      if (negated) ++i;
      bool first = true;
      while (true) {
        if (i == pattern.size()) reject(pattern, "unterminated class");
        char from = pattern[i++];
        if (from == ']' && !first) break;
        first = false;
        if (from == '\\') {
          if (i == pattern.size()) reject(pattern, "trailing backslash");
          const char escaped = pattern[i++];
          if (escaped == 'd' || escaped == 's') {
            atom.bytes |= escapeSet(escaped);
            continue;
          }
          from = escaped;
        }
        if (i + 1 < pattern.size() && pattern[i] == '-' && pattern[i + 1] != ']') {
          const auto low = static_cast<unsigned char>(from);
          const auto high = static_cast<unsigned char>(pattern[i + 1]);
          if (high < low) reject(pattern, "reversed range");
          for (unsigned value = low; value <= high; ++value)
            atom.bytes.set(value);
          i += 2;
        } else {
          atom.bytes.set(static_cast<unsigned char>(from));
        }
      }
      if (negated) atom.bytes.flip();
    } else if (std::string_view(".()|{^$?*+").find(c) != std::string_view::npos) {
      reject(pattern, "unsupported syntax");
    } else {
      atom.bytes = singleByte(static_cast<unsigned char>(c));
      singleByteValue = static_cast<unsigned char>(c);
    }
    if (i < pattern.size()) {
      const char quantifier = pattern[i];
      if (quantifier == '?' || quantifier == '*' || quantifier == '+') {
        ++i;
        atom.min = quantifier == '+' ? 1 : 0;
        atom.max = quantifier == '?' ? 1 : npos;
        if (i < pattern.size() &&
            std::string_view("?*+").find(pattern[i]) != std::string_view::npos)
          reject(pattern, "repeated quantifier");
      }
    }
    if (singleByteValue >= 0 && atom.min == 1 && atom.max == 1) {
      literal_ += static_cast<char>(singleByteValue);
    } else {
      isLiteral_ = false;
    }
    atoms_.push_back(atom);
  }
  if (atoms_.empty()) isLiteral_ = false;
  // Giving bytes back at an atom (one with a choice of counts) can only help when the rest of the
  // pattern can fail (it has a required atom) and can begin with a byte the atom takes. Walking
  // backwards, `follow` holds the bytes the rest can begin with and `restOptional` tells whether it
  // can match nothing.
  std::bitset<256> follow;
  bool restOptional = true;
  for (std::size_t i = atoms_.size(); i-- > 0;) {
    const bool canGiveBack = atoms_[i].min < atoms_[i].max;
    if (canGiveBack && !restOptional && (atoms_[i].bytes & follow).any()) possessive_ = false;
    if (atoms_[i].min > 0) {
      follow.reset();
      restOptional = false;
    }
    follow |= atoms_[i].bytes;
  }
  // A non-empty match begins with a byte of one of the leading optional atoms or of the first
  // required one.
  for (const Atom& atom : atoms_) {
    firstBytes_ |= atom.bytes;
    if (atom.min > 0) break;
  }
}

// Greedy matching with backtracking: each atom takes as many bytes as it can and gives them back
// one by one while the rest of the pattern fails. The recursion is one level per atom.
std::size_t TokenPattern::matchFrom(std::size_t atom, std::string_view text,
                                    std::size_t position) const {
  if (atom == atoms_.size()) return position;
  const Atom& current = atoms_[atom];
  std::size_t count = 0;
  while (count < current.max && position + count < text.size() &&
         current.bytes[static_cast<unsigned char>(text[position + count])])
    ++count;
  while (count >= current.min) {
    const std::size_t end = matchFrom(atom + 1, text, position + count);
    if (end != npos) return end;
    if (count == 0) break;
    --count;
  }
  return npos;
}
