#include "macros/NearNames.h"

#include <algorithm>
#include <cctype>

namespace {

// Polynomial hashes modulo 2^64. A byte counts as its value plus one, so that leading zero
// bytes still change the hash.
constexpr std::uint64_t kBase = 0x100000001b3ULL;

std::uint64_t digit(char c) {
  return std::uint64_t{static_cast<unsigned char>(c)} + 1;
}

// Spreads a polynomial hash over all 64 bits (a bijection, so distinct hashes stay distinct):
// the hashes of names that differ in their last bytes differ in their low bits alone, and the
// hash table, which takes them as they are, would put them in a few long chains.
std::uint64_t mixed(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  return h ^ (h >> 33);
}

}  // namespace

std::vector<std::uint64_t> NearNames::keysOf(std::string_view name) {
  const std::size_t n = name.size();
  // prefix[k] hashes name[0, k); power[k] is kBase^k.
  std::vector<std::uint64_t> prefix(n + 1, 0), power(n + 1, 1);
  for (std::size_t k = 0; k < n; ++k) {
    prefix[k + 1] = prefix[k] * kBase + digit(name[k]);
    power[k + 1] = power[k] * kBase;
  }
  std::vector<std::uint64_t> keys;
  keys.reserve(n + 1);
  keys.push_back(mixed(prefix[n]));
  for (std::size_t i = 0; i < n; ++i) {
    // The name without byte i: its first i bytes shifted past the n - 1 - i that follow.
    const std::uint64_t rest = prefix[n] - prefix[i + 1] * power[n - 1 - i];
    keys.push_back(mixed(prefix[i] * power[n - 1 - i] + rest));
  }
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  return keys;
}

std::string NearNames::folded(std::string_view name) {
  std::string text(name);
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

void NearNames::add(std::string_view name) {
  for (const std::uint64_t key : keysOf(name))
    byVariant_[key].push_back(name);
  byFolded_[folded(name)].insert(name);
}

void NearNames::remove(std::string_view name) {
  for (const std::uint64_t key : keysOf(name)) {
    const auto found = byVariant_.find(key);
    if (found == byVariant_.end()) continue;
    std::vector<std::string_view>& names = found->second;
    for (std::string_view& kept : names) {
      if (kept.data() == name.data() && kept.size() == name.size()) {
        kept = names.back();
        names.pop_back();
        break;
      }
    }
    if (names.empty()) byVariant_.erase(found);
  }
  const auto it = byFolded_.find(folded(name));
  if (it == byFolded_.end()) return;
  it->second.erase(name);
  if (it->second.empty()) byFolded_.erase(it);
}

std::string_view NearNames::sameButCase(std::string_view name) const {
  const auto it = byFolded_.find(folded(name));
  if (it == byFolded_.end()) return {};
  for (const std::string_view candidate : it->second) {
    if (candidate != name) return candidate;
  }
  return {};
}
