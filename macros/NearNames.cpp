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
  h ^= h >> 33;
  return h != 0 ? h : 1;  // 0 marks an empty slot of the table
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

void NearNames::insert(std::uint64_t key, std::string_view name) {
  if (2 * (used_ + 1) > slots_.size()) {
    std::vector<Slot> old(std::max<std::size_t>(16, 2 * slots_.size()));
    old.swap(slots_);
    used_ = 0;
    for (const Slot& slot : old) {
      if (slot.key != 0) insert(slot.key, std::string_view(slot.data, slot.size));
    }
  }
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = key & mask;
  while (slots_[i].key != 0)
    i = (i + 1) & mask;
  slots_[i] = Slot{key, name.data(), name.size()};
  ++used_;
}

void NearNames::erase(std::uint64_t key, std::string_view name) {
  if (slots_.empty()) return;
  const std::size_t mask = slots_.size() - 1;
  std::size_t hole = key & mask;
  while (slots_[hole].key != 0 && !(slots_[hole].key == key && slots_[hole].data == name.data() &&
                                    slots_[hole].size == name.size())) {
    hole = (hole + 1) & mask;
  }
  if (slots_[hole].key == 0) return;
  // The slots after the hole, up to the next empty one, move back into it when their probe
  // started at or before it, so that every key stays reachable from its first slot.
  for (std::size_t j = (hole + 1) & mask; slots_[j].key != 0; j = (j + 1) & mask) {
    const std::size_t home = slots_[j].key & mask;
    if (((j - home) & mask) >= ((j - hole) & mask)) {
      slots_[hole] = slots_[j];
      hole = j;
    }
  }
  slots_[hole] = Slot{};
  --used_;
}

void NearNames::add(std::string_view name) {
  for (const std::uint64_t key : keysOf(name))
    insert(key, name);
  byFolded_[folded(name)].insert(name);
}

void NearNames::remove(std::string_view name) {
  for (const std::uint64_t key : keysOf(name))
    erase(key, name);
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
