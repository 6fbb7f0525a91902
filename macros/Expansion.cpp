// Expansion of $(name) references, pass after pass while a pass asks for a re-scan.

#include <cstdint>
#include <vector>

#include "macros/MacroEnvironment.h"

namespace {

// Bounds that keep expansion finite: a fixed point ends it early, and so do these.
constexpr int kMaxPasses = 100;
constexpr std::size_t kMaxExpandedSize = std::size_t{16} << 20;

// Marks the "(" bytes of a text that no ")" closes. Counting from the right, a "(" is closed when
// some ")" to its right is still unclaimed; one pass, no stack.
std::vector<bool> unclosedParentheses(std::string_view text) {
  std::vector<bool> unclosed(text.size(), false);
  std::size_t pendingClose = 0;
  for (std::size_t k = text.size(); k-- > 0;) {
    if (text[k] == ')') {
      ++pendingClose;
    } else if (text[k] == '(') {
      if (pendingClose) {
        --pendingClose;
      } else {
        unclosed[k] = true;
      }
    }
  }
  return unclosed;
}

const std::string* lookup(const MacroMap& map, std::string_view name) {
  auto it = map.find(name);
  return it == map.end() ? nullptr : &it->second;
}

}  // namespace

std::string MacroEnvironment::expandMacros(const MacroMap& localMacros, std::string_view text,
                                           bool useSystemMacros) const {
  std::string result;
  expandMacros(localMacros, text, useSystemMacros, result);
  return result;
}

void MacroEnvironment::expandMacros(const MacroMap& localMacros, std::string_view text,
                                    bool useSystemMacros, std::string& output) const {
  // Without a macro character there is nothing to replace, and a pass would copy the text.
  if (text.find(macroChar_) == std::string_view::npos) {
    output.assign(text);
    return;
  }
  if (!expandPass(localMacros, text, useSystemMacros, output) || output == text ||
      output.size() > kMaxExpandedSize) {
    return;
  }
  std::string input;
  for (int pass = 1; pass < kMaxPasses; ++pass) {
    input.swap(output);
    bool rescan = expandPass(localMacros, input, useSystemMacros, output);
    if (!rescan || output == input || output.size() > kMaxExpandedSize) break;
  }
}

bool MacroEnvironment::expandPass(const MacroMap& localMacros, std::string_view in,
                                  bool useSystemMacros, std::string& out) const {
  const char mc = macroChar_;
  out.clear();
  out.reserve(in.size());
  bool rescan = false;
  std::vector<bool> unclosed;  // built at the first unterminated reference only
  std::size_t lastMacroChar = std::string_view::npos;  // found at the first unterminated one
  std::size_t n = in.size();
  std::size_t i = 0;
  while (i < n) {
    std::size_t at = in.find(mc, i);
    if (at == std::string_view::npos) {
      out.append(in.substr(i));
      break;
    }
    out.append(in.substr(i, at - i));
    i = at;
    if (i + 1 == n) {
      out.push_back(mc);
      break;
    }
    char following = in[i + 1];
    if (following == mc) {
      out.push_back(mc);
      i += 2;
      continue;
    }
    if (following != '(') {
      out.push_back(mc);
      i += 1;
      continue;
    }
    // A reference: its inner text runs to the ")" that balances the "(". The same scan notes the
    // first ":" and whether a macro character occurs inside.
    std::size_t close = std::string_view::npos;
    std::size_t colon = std::string_view::npos;
    bool innerMacroChar = false;
    if (unclosed.empty() || !unclosed[i + 1]) {
      int depth = 1;
      for (std::size_t k = i + 2; k < n; ++k) {
        const char c = in[k];
        if (c == mc) innerMacroChar = true;
        if (c == '(') {
          ++depth;
        } else if (c == ')') {
          if (--depth == 0) {
            close = k;
            break;
          }
        } else if (c == ':' && colon == std::string_view::npos) {
          colon = k;
        }
      }
    }
    if (close == std::string_view::npos) {
      // Unterminated: the scan met every macro character up to the end. The "$" is kept and
      // reading goes on after it; later references are recognised again.
      if (unclosed.empty()) {
        unclosed = unclosedParentheses(in);
        lastMacroChar = in.rfind(mc);
      }
      if (lastMacroChar != std::string_view::npos && lastMacroChar >= i + 2) rescan = true;
      out.push_back(mc);
      i += 1;
      continue;
    }
    std::string_view inner = in.substr(i + 2, close - i - 2);
    if (innerMacroChar) rescan = true;
    std::string_view name = inner;
    std::string_view fallback;
    bool hasDefault = false;
    if (colon != std::string_view::npos) {
      colon -= i + 2;
      name = inner.substr(0, colon);
      hasDefault = true;
      if (colon + 1 < inner.size() && inner[colon + 1] == ':') {
        fallback = inner.substr(colon + 2);
        rescan = false;  // a literal default ends re-scanning for the whole pass
      } else {
        fallback = inner.substr(colon + 1);
      }
    }
    const std::string* value = lookup(localMacros, name);
    if (!value && useSystemMacros) value = lookup(systemMacros_, name);
    if (value) {
      std::string now;
      if (dateTimeMacroValue(name, now)) {
        out.append(now);
      } else {
        out.append(*value);
      }
    } else if (hasDefault) {
      out.append(fallback);
    } else {
      out.append(in.substr(i, close + 1 - i));
    }
    i = close + 1;
  }
  return rescan;
}
