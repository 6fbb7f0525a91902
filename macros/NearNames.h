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
    for (const std::uint64_t key : keysOf(name)) {
      const auto found = byVariant_.find(key);
      if (found == byVariant_.end()) continue;
      for (const std::string_view candidate : found->second)
        visit(candidate);
    }
  }

 private:
  // The hashes of the name and of each of its one-byte deletions, without repeats.
  static std::vector<std::uint64_t> keysOf(std::string_view name);
  static std::string folded(std::string_view name);

  // Names one edit apart share keys by the dozen (REG_1234 and REG_12340 to REG_12349): each key's
  // names are kept together, so that adding, removing and visiting them walks contiguous memory.
  std::unordered_map<std::uint64_t, std::vector<std::string_view>> byVariant_;
  std::unordered_map<std::string, std::set<std::string_view>> byFolded_;
};
