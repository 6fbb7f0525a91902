#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// An index of a changing set of names, for finding the names near a given one: those equal to it
// but for case, and those one insertion, deletion, substitution or swap of neighbours away. Each
// name is filed under its case-folded form and under the hash of itself and of each of its
// one-byte deletions. Two names one edit apart share one of these, so a lookup probes as many
// keys as the name has bytes, plus one, whatever the number of names indexed.
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
    if (slots_.empty()) return;
    const std::size_t mask = slots_.size() - 1;
    for (const std::uint64_t key : keysOf(name)) {
      for (std::size_t i = key & mask; slots_[i].key != 0; i = (i + 1) & mask) {
        if (slots_[i].key == key) visit(std::string_view(slots_[i].data, slots_[i].size));
      }
    }
  }

 private:
  // The hashes of the name and of each of its one-byte deletions, without repeats.
  static std::vector<std::uint64_t> keysOf(std::string_view name);
  static std::string folded(std::string_view name);

  // One (key, name) pair a slot, in an open-addressing table (linear probing, at most half full,
  // key 0 marking an empty slot): a key's names lie in one run of neighbouring slots, and a name
  // costs its keys 24 bytes each, so that a large index stays small enough for the cache.
  struct Slot {
    std::uint64_t key = 0;
    const char* data = nullptr;
    std::size_t size = 0;
  };
  void insert(std::uint64_t key, std::string_view name);
  void erase(std::uint64_t key, std::string_view name);
  std::vector<Slot> slots_;  // a power of two in size, or empty
  std::size_t used_ = 0;
  std::unordered_map<std::string, std::set<std::string_view>> byFolded_;
};
