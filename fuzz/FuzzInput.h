#pragma once

// Helpers shared by the fuzz targets.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace fuzz {

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Splits the input at NUL bytes into at most `count` parts; the last part keeps any further NULs.
// Missing parts are empty. A NUL never survives into a file name, a macro value or a loaded text
// (it ends the text), so it is a separator that costs the targets no interesting input.
inline std::vector<std::string_view> splitParts(std::string_view input, std::size_t count) {
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < count) {
    std::size_t nul = input.find('\0');
    if (nul == std::string_view::npos) break;
    parts.push_back(input.substr(0, nul));
    input.remove_prefix(nul + 1);
  }
  parts.push_back(input);
  parts.resize(count);
  return parts;
}

// An invariant that must hold; a violation aborts, which libFuzzer records as a crash with the
// input that caused it.
[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "invariant violated: %s\n", what);
  if (!detail.empty()) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(detail.size() > 4096 ? 4096 : detail.size()),
                 detail.data());
  }
  std::abort();
}

inline void check(bool condition, const char* what, std::string_view detail = {}) {
  if (!condition) fail(what, detail);
}

}  // namespace fuzz
