#pragma once

// Reading start tags back from a text, where the server needs what the reader does not keep:
// where each attribute and each macro reference stands.

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace tagtext {

// The longest start tag read back.
inline constexpr std::size_t kMaxTagLength = std::size_t{1} << 16;

// A byte of an element, attribute or macro name, as far as the server needs to tell.
inline bool isNameByte(char c) {
  return c != ')' && c != ':' && c != '(' && c != '$' && c != '"' && c != '\'' && c != '>' &&
         c != '<' && c != '/' && c != '=' && c != ' ' && c != '\n' && c != '\r' && c != '\t';
}

inline bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The start tag whose name begins at `offset`, up to its ">" outside quoted values (or the end
// of the text, or the length limit).
inline std::string_view startTag(std::string_view text, std::size_t offset) {
  if (offset > text.size()) return {};
  const std::size_t limit = std::min(text.size(), offset + kMaxTagLength);
  char quote = 0;
  for (std::size_t i = offset; i < limit; ++i) {
    const char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>' || c == '<') {
      return text.substr(offset, i - offset);
    }
  }
  return text.substr(offset, limit - offset);
}

// The element name at the start of a tag.
inline std::string_view tagName(std::string_view tag) {
  std::size_t end = 0;
  while (end < tag.size() && isNameByte(tag[end]))
    ++end;
  return tag.substr(0, end);
}

// Calls `visit(name, nameOffset, value, valueOffset)` for each quoted attribute of a start tag
// (offsets within the tag).
template <class Visit>
void forEachAttribute(std::string_view tag, Visit&& visit) {
  std::size_t i = tagName(tag).size();
  while (i < tag.size()) {
    while (i < tag.size() && !isNameByte(tag[i]))
      ++i;
    const std::size_t nameStart = i;
    while (i < tag.size() && isNameByte(tag[i]))
      ++i;
    const std::string_view name = tag.substr(nameStart, i - nameStart);
    while (i < tag.size() && isBlank(tag[i]))
      ++i;
    if (i >= tag.size() || tag[i] != '=') continue;
    ++i;
    while (i < tag.size() && isBlank(tag[i]))
      ++i;
    if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) continue;
    const char quote = tag[i++];
    const std::size_t valueStart = i;
    while (i < tag.size() && tag[i] != quote)
      ++i;
    if (!name.empty()) visit(name, nameStart, tag.substr(valueStart, i - valueStart), valueStart);
    ++i;
  }
}

}  // namespace tagtext
