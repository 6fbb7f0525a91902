#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Whether two names are equal but for ASCII case.
bool equalButForCase(std::string_view a, std::string_view b);
// Whether two names are one insertion, deletion, substitution or swap of neighbours apart.
bool oneEditApart(std::string_view a, std::string_view b);

// The candidate closest to `name` by edits (insertions, deletions, substitutions and swaps of
// neighbours), the first of equally close ones, when it is at most one edit away for a name of
// four to seven bytes and two for a longer one (never for a shorter one); empty for none. For
// short lists (options, checks): it compares `name` with each candidate.
std::string_view closestName(std::string_view name,
                             const std::vector<std::string_view>& candidates);

// An index of a changing set of names, for finding the names near a given one: those equal to it
// but for case, and those one insertion, deletion, substitution or swap of neighbours away. Each
// name is filed under the hash of its case-folded form, and under the hash of itself and of each
// of its one-byte deletions. Two names one edit apart share one of these, so a lookup probes as
// many keys as the name has bytes, plus two, whatever the number of names indexed.
// The index keeps views of the names: each must stay valid, unchanged, until it is removed.
class NearNames {
 public:
  void add(std::string_view name);
  void remove(std::string_view name);

  // The least name in byte order that equals `name` but for ASCII case and is not `name`; empty
  // when there is none.
  std::string_view sameButCase(std::string_view name) const;

  // Calls `visit(candidate)` for every indexed name one edit from `name`, and perhaps for others
  // (names that share a key by a hash collision or by two edits): the caller decides. A name may
  // be visited more than once.
  template <class Visit>
  void forEachCandidate(std::string_view name, Visit&& visit) const {
    const std::vector<std::uint64_t> keys = keysOf(name);
    prefetch(keys);
    for (const std::uint64_t key : keys)
      forEachFiled(key, [&](std::uint32_t index) { visit(names_[index]); });
  }

 private:
  // The hashes of the name and of each of its one-byte deletions, without repeats.
  static std::vector<std::uint64_t> keysOf(std::string_view name);
  // The hash of the name's case-folded form (apart from the keys keysOf gives).
  static std::uint64_t foldedKey(std::string_view name);

  // One (key, name) pair a slot, in an open-addressing table (linear probing, at most half full):
  // the key's low 32 bits, which also pick its first slot, and the name by its number in
  // `names_`. Eight bytes a pair keep a large index small enough for the cache; keys that share
  // their low bits only add candidates.
  static constexpr std::uint32_t kEmpty = UINT32_MAX;
  struct Slot {
    std::uint32_t key = 0;
    std::uint32_t name = kEmpty;
  };
  template <class Visit>
  void forEachFiled(std::uint64_t key, Visit&& visit) const {
    if (slots_.empty()) return;
    const std::size_t mask = slots_.size() - 1;
    const auto low = static_cast<std::uint32_t>(key);
    for (std::size_t i = low & mask; slots_[i].name != kEmpty; i = (i + 1) & mask) {
      if (slots_[i].key == low) visit(slots_[i].name);
    }
  }
  // Asks for the first slots of `keys` all at once: in a table larger than the cache, their
  // loads then overlap rather than wait one after another.
  void prefetch(const std::vector<std::uint64_t>& keys) const {
    if (slots_.empty()) return;
    for (const std::uint64_t key : keys)
      __builtin_prefetch(&slots_[key & (slots_.size() - 1)]);
  }
  // Makes room for `more` pairs, keeping the table at most half full.
  void reserve(std::size_t more);
  // Files `name` under `key` in a table with room for it.
  void place(std::uint32_t key, std::uint32_t name);
  void erase(std::uint32_t key, std::uint32_t name);
  std::vector<Slot> slots_;  // a power of two in size, or empty
  std::size_t used_ = 0;
  std::vector<std::string_view> names_;  // by number; a removed name's number is reused
  std::vector<std::uint32_t> free_;      // the numbers of removed names
};
