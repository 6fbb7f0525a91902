// Expansion of $(name) references, pass after pass while a pass asks for a re-scan.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "macros/MacroEnvironment.h"

namespace {

// The character that starts a reference ("$(name)") and escapes itself ("$$").
constexpr char kMacroChar = MacroEnvironment::kReferenceChar;

// Bounds that keep expansion finite: a pass that asks for no re-scan or changes nothing ends it,
// and so do the 100th pass and the pass that brings what the passes wrote to 64 MiB in all
// (each stops with that pass's output: a value that re-scans itself costs at most that much
// copying, however slowly it grows); a pass whose output grows past kMaxValueSize fails it.
constexpr int kMaxPasses = 100;
constexpr std::size_t kMaxSize = MacroEnvironment::kMaxValueSize;
constexpr std::size_t kMaxWritten = 4 * kMaxSize;

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

// The plain expansion's observer: nothing to tell, and nothing left in the code once inlined.
struct NoObserver {
  void operator()(const ResolvedReference&) const {}
};

}  // namespace

std::optional<std::string> MacroEnvironment::expand(const MacroTable& localMacros,
                                                    std::string_view text,
                                                    bool useSystemMacros) const {
  std::string result;
  const std::optional<std::string_view> expanded =
      expand(localMacros, text, useSystemMacros, result);
  if (!expanded) return std::nullopt;
  return std::string(*expanded);
}

std::optional<std::string_view> MacroEnvironment::expand(const MacroTable& localMacros,
                                                         std::string_view text,
                                                         bool useSystemMacros, std::string& result,
                                                         ReferenceObserver& observer,
                                                         std::string* unresolved) const {
  if (unresolved) unresolved->clear();
  if (!hasReferences(text)) return text;
  auto observe = [&observer](const ResolvedReference& reference) { observer.resolved(reference); };
  return expandReferences(localMacros, text, useSystemMacros, result, unresolved, observe);
}

std::optional<std::string_view> MacroEnvironment::expandReferences(const MacroTable& localMacros,
                                                                   std::string_view text,
                                                                   bool useSystemMacros,
                                                                   std::string& output,
                                                                   std::string* unresolved) const {
  NoObserver none;
  return expandReferences(localMacros, text, useSystemMacros, output, unresolved, none);
}

template <class Observe>
[[gnu::always_inline]] inline std::optional<std::string_view> MacroEnvironment::expandReferences(
    const MacroTable& localMacros, std::string_view text, bool useSystemMacros, std::string& output,
    std::string* unresolved, Observe& observe) const {
  // Each pass notes its own unresolved references; the last pass's are the result's. A pass
  // whose output grows past the bound stops there.
  bool rescan = expandPass(localMacros, text, useSystemMacros, output, unresolved, observe, 0);
  if (output.size() > kMaxSize) return std::nullopt;
  if (!rescan || output == text) return output;
  std::string input;
  std::size_t written = output.size();
  for (int pass = 1; pass < kMaxPasses && written < kMaxWritten; ++pass) {
    input.swap(output);
    rescan = expandPass(localMacros, input, useSystemMacros, output, unresolved, observe, pass);
    if (output.size() > kMaxSize) return std::nullopt;
    if (!rescan || output == input) break;
    written += output.size();
  }
  return output;
}

namespace {

// A reference "$(" ... ")" found at some position: where its inner text ends (the ")" that
// balances the "("), its first ":", and whether a macro character occurs inside.
struct Reference {
  std::size_t close = std::string_view::npos;  // npos: unterminated
  std::size_t colon = std::string_view::npos;
  bool innerMacroChar = false;
};

Reference scanReference(std::string_view in, std::size_t at) {
  Reference r;
  int depth = 1;
  for (std::size_t k = at + 2; k < in.size(); ++k) {
    const char c = in[k];
    if (c == kMacroChar) r.innerMacroChar = true;
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (--depth == 0) {
        r.close = k;
        break;
      }
    } else if (c == ':' && r.colon == std::string_view::npos) {
      r.colon = k;
    }
  }
  return r;
}

// The name of a reference and its default: the inner text is split at its first ":", and a
// second ":" right after it makes the default literal.
struct NameAndDefault {
  std::string_view name;
  std::string_view fallback;
  bool hasDefault = false;
  bool literal = false;
};

[[gnu::always_inline]] inline NameAndDefault splitInner(std::string_view inner, std::size_t colon) {
  if (colon == std::string_view::npos) return {inner, {}, false, false};
  if (colon + 1 < inner.size() && inner[colon + 1] == ':') {
    return {inner.substr(0, colon), inner.substr(colon + 2), true, true};
  }
  return {inner.substr(0, colon), inner.substr(colon + 1), true, false};
}

}  // namespace

template <class Observe>
bool MacroEnvironment::expandPass(const MacroTable& localMacros, std::string_view in,
                                  bool useSystemMacros, std::string& out, std::string* unresolved,
                                  Observe& observe, int pass) const {
  constexpr char mc = kMacroChar;
  if (unresolved) unresolved->clear();
  out.clear();
  out.reserve(std::min(in.size(), kMaxSize + 1));
  bool rescan = false;
  std::vector<bool> unclosed;  // built at the first unterminated reference only
  std::size_t lastMacroChar = std::string_view::npos;  // found at the first unterminated one
  const std::size_t n = in.size();
  std::size_t i = 0;
  while (i < n) {
    const std::size_t at = in.find(mc, i);
    if (at == std::string_view::npos) {
      out.append(in.substr(i));
      break;
    }
    out.append(in.substr(i, at - i));
    i = at;
    if (i + 1 == n || in[i + 1] != '(') {
      // A final "$", "$$" (one "$") or "$" before any other character (kept as it is).
      out.push_back(mc);
      i += i + 1 < n && in[i + 1] == mc ? 2 : 1;
      continue;
    }
    // A reference, unless a scan from an earlier unterminated one knows its "(" is not closed.
    Reference ref;
    if (unclosed.empty() || !unclosed[i + 1]) ref = scanReference(in, i);
    if (ref.close == std::string_view::npos) {
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
    if (ref.innerMacroChar) rescan = true;
    const NameAndDefault parts =
        splitInner(in.substr(i + 2, ref.close - i - 2),
                   ref.colon == std::string_view::npos ? ref.colon : ref.colon - (i + 2));
    if (parts.literal) rescan = false;  // a literal default ends re-scanning for the whole pass
    const std::string* value = localMacros.find(parts.name);
    const bool local = value != nullptr;
    if (!value && useSystemMacros) value = lookup(systemMacros_, parts.name);
    const std::string_view reference = in.substr(i, ref.close + 1 - i);
    const std::size_t start = out.size();
    std::string now;
    ResolvedReference::Source source = ResolvedReference::Source::Macro;
    if (value && dateTimeMacroValue(parts.name, now, fixedTime_)) {
      out.append(now);
      source = local ? source : ResolvedReference::Source::System;
    } else if (value) {
      // The output is checked each time a value has been written: it grows past the bound by at
      // most one value before the pass stops. (Everything else it holds is text of the input.)
      out.append(*value);
      if (out.size() > kMaxSize) return false;
      source = local ? source : ResolvedReference::Source::System;
    } else if (parts.hasDefault) {
      out.append(parts.fallback);
      source = ResolvedReference::Source::Default;
    } else {
      // Written back as it stands, for a later expansion with other macros to resolve.
      if (unresolved && unresolved->empty()) unresolved->assign(reference);
      out.append(reference);
      source = ResolvedReference::Source::Unresolved;
    }
    if constexpr (!std::is_same_v<Observe, NoObserver>) {
      const MacroOrigin* origin = local ? localMacros.originOf(parts.name) : nullptr;
      observe(ResolvedReference{reference, parts.name, std::string_view(out).substr(start), source,
                                origin, pass});
    }
    i = ref.close + 1;
  }
  return rescan;
}

std::optional<PreparedExpansion> MacroEnvironment::prepare(const MacroTable& table,
                                                           std::string_view text) const {
  // The pieces are what one pass of expandPass would append, a value of the table standing for
  // the value it finds when it runs; a text for which that pass would ask for another, or would
  // write something the table's values do not give, is not prepared.
  // A long text is left to the expansion: its pieces (a "$$" is one) would take several times
  // its size, and the values of a loop body are short.
  constexpr std::size_t kMaxPreparedText = 4096;
  if (text.size() > kMaxPreparedText) return std::nullopt;
  PreparedExpansion prepared;
  auto literal = [&](std::string_view piece) {
    if (piece.empty()) return;
    prepared.pieces_.push_back({piece, nullptr});
    prepared.literalSize_ += piece.size();
  };
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const std::size_t at = text.find(kMacroChar, i);
    if (at == std::string_view::npos) {
      literal(text.substr(i));
      break;
    }
    literal(text.substr(i, at - i));
    i = at;
    if (i + 1 == n || text[i + 1] != '(') {
      literal(text.substr(i, 1));  // "$" alone, or the first of "$$"
      i += i + 1 < n && text[i + 1] == kMacroChar ? 2 : 1;
      continue;
    }
    const Reference ref = scanReference(text, i);
    if (ref.close == std::string_view::npos || ref.innerMacroChar) return std::nullopt;
    const NameAndDefault parts =
        splitInner(text.substr(i + 2, ref.close - i - 2),
                   ref.colon == std::string_view::npos ? ref.colon : ref.colon - (i + 2));
    if (const std::string* value = table.find(parts.name)) {
      std::string now;
      if (dateTimeMacroValue(parts.name, now, fixedTime_)) return std::nullopt;
      prepared.pieces_.push_back({{}, value});
      prepared.values_.push_back(value);
    } else if (parts.hasDefault) {
      literal(parts.fallback);
    } else {
      literal(text.substr(i, ref.close + 1 - i));
    }
    i = ref.close + 1;
  }
  return prepared;
}
