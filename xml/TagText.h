#pragma once

// Reading start tags back from a text, where the reader's tree does not say: where each attribute
// and each macro reference stands (for the fixes of findings and for the language server).

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

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

// The name offsets of the elements open at `offset` (started before it and not yet ended), the
// outermost first, read as the lenient reader reads: comments, CDATA sections, declarations and
// processing instructions skipped; an end tag closes the innermost open element of its name
// and every element inside it. One pass, with an explicit stack.
inline std::vector<std::size_t> openElementsAt(std::string_view text, std::size_t offset) {
  std::vector<std::size_t> open;
  offset = std::min(offset, text.size());
  auto skipPast = [&](std::size_t from, std::string_view end) {
    const std::size_t found = text.find(end, from);
    return found == std::string_view::npos ? text.size() : found + end.size();
  };
  for (std::size_t i = text.find('<'); i < offset; i = text.find('<', i)) {
    const std::string_view rest = text.substr(i);
    if (rest.starts_with("<!--")) {
      i = skipPast(i + 4, "-->");
    } else if (rest.starts_with("<![CDATA[")) {
      i = skipPast(i + 9, "]]>");
    } else if (rest.starts_with("<?")) {
      i = skipPast(i + 2, "?>");
    } else if (rest.starts_with("<!")) {
      i = skipPast(i + 2, ">");
    } else if (rest.starts_with("</")) {
      const std::string_view name = tagName(text.substr(i + 2));
      for (std::size_t k = open.size(); k > 0; --k) {
        if (tagName(text.substr(open[k - 1])) == name) {
          open.resize(k - 1);
          break;
        }
      }
      i = skipPast(i + 2, ">");
    } else {
      const std::string_view tag = startTag(text, i + 1);
      const std::size_t end = i + 1 + tag.size();
      if (end >= offset || tag.empty() || tag.back() != '/') open.push_back(i + 1);
      if (end >= offset) break;
      i = end;
    }
    if (i == std::string_view::npos) break;
  }
  return open;
}

}  // namespace tagtext
