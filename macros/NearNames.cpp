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

bool equalButForCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool oneEditApart(std::string_view a, std::string_view b) {
  if (a.size() > b.size()) std::swap(a, b);
  if (b.size() - a.size() > 1) return false;
  std::size_t i = 0;
  while (i < a.size() && a[i] == b[i])
    ++i;
  if (a.size() == b.size()) {
    if (i == a.size()) return false;  // the same name
    // One substitution, or neighbours swapped.
    if (a.substr(i + 1) == b.substr(i + 1)) return true;
    return i + 1 < a.size() && a[i] == b[i + 1] && a[i + 1] == b[i] &&
           a.substr(i + 2) == b.substr(i + 2);
  }
  return a.substr(i) == b.substr(i + 1);  // one letter more in b
}

namespace {

// The optimal-string-alignment distance between `a` and `b`: insertions, deletions,
// substitutions and swaps of neighbours, one byte each.
std::size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i)
    d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j)
    d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

std::string_view closestName(std::string_view name,
                             const std::vector<std::string_view>& candidates) {
  const std::size_t most = name.size() <= 3 ? 0 : name.size() <= 7 ? 1 : 2;
  std::string_view closest;
  std::size_t best = most + 1;
  for (const std::string_view candidate : candidates) {
    // Names whose lengths differ by more than the edits allowed are never close.
    if (candidate.size() + most < name.size() || name.size() + most < candidate.size()) continue;
    const std::size_t distance = editDistance(name, candidate);
    if (distance < best) {
      best = distance;
      closest = candidate;
    }
  }
  return closest;
}

std::uint64_t NearNames::foldedKey(std::string_view name) {
  std::uint64_t h = 0;
  for (const char c : name)
    h = h * kBase + digit(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  // Apart from the key of a name that is its own folded form.
  return mixed(h ^ 0x9e3779b97f4a7c15ULL);
}

void NearNames::reserve(std::size_t more) {
  if (2 * (used_ + more) <= slots_.size()) return;
  std::size_t size = std::max<std::size_t>(16, slots_.size());
  while (2 * (used_ + more) > size)
    size *= 2;
  std::vector<Slot> old(size);
  old.swap(slots_);
  used_ = 0;
  for (const Slot& slot : old) {
    if (slot.name != kEmpty) place(slot.key, slot.name);
  }
}

void NearNames::place(std::uint32_t key, std::uint32_t name) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = key & mask;
  while (slots_[i].name != kEmpty)
    i = (i + 1) & mask;
  slots_[i] = Slot{key, name};
  ++used_;
}

void NearNames::erase(std::uint32_t key, std::uint32_t name) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t hole = key & mask;
  while (slots_[hole].name != kEmpty && !(slots_[hole].key == key && slots_[hole].name == name))
    hole = (hole + 1) & mask;
  if (slots_[hole].name == kEmpty) return;
  // The slots after the hole, up to the next empty one, move back into it when their probe
  // started at or before it, so that every key stays reachable from its first slot.
  for (std::size_t j = (hole + 1) & mask; slots_[j].name != kEmpty; j = (j + 1) & mask) {
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
  std::uint32_t number;
  if (free_.empty()) {
    number = static_cast<std::uint32_t>(names_.size());
    names_.push_back(name);
  } else {
    number = free_.back();
    free_.pop_back();
    names_[number] = name;
  }
  std::vector<std::uint64_t> keys = keysOf(name);
  keys.push_back(foldedKey(name));
  reserve(keys.size());
  prefetch(keys);
  for (const std::uint64_t key : keys)
    place(static_cast<std::uint32_t>(key), number);
}

void NearNames::remove(std::string_view name) {
  // The name's number: the entry under its folded key that views these very bytes.
  std::uint32_t number = kEmpty;
  const std::uint64_t folded = foldedKey(name);
  forEachFiled(folded, [&](std::uint32_t candidate) {
    const std::string_view filed = names_[candidate];
    if (filed.data() == name.data() && filed.size() == name.size()) number = candidate;
  });
  if (number == kEmpty) return;
  erase(static_cast<std::uint32_t>(folded), number);
  for (const std::uint64_t key : keysOf(name))
    erase(static_cast<std::uint32_t>(key), number);
  names_[number] = {};
  free_.push_back(number);
}

std::string_view NearNames::sameButCase(std::string_view name) const {
  std::string_view least;
  forEachFiled(foldedKey(name), [&](std::uint32_t number) {
    const std::string_view candidate = names_[number];
    if (candidate != name && equalButForCase(candidate, name) &&
        (least.empty() || candidate < least)) {
      least = candidate;
    }
  });
  return least;
}
