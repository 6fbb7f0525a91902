#pragma once

// The loop variables a handed-over loop body still carries. A loop's last iteration needs no
// copy: the body itself takes the copies' place, and its variables are applied as the walk
// reaches each of its elements, as a copy would have had them at once, so nested loops cost no
// more than the elements they hold. The maps are freed when no element still to be walked
// carries them.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "WalkStep.h"
#include "macros/MacroTable.h"

// For each name, the loop maps alive whose table defines it, oldest first: the tables that a
// reference to the name can change, so that a value skips the tables that cannot.
struct NameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view name) const {
    return std::hash<std::string_view>()(name);
  }
};
using Definers =
    std::unordered_map<std::string, std::vector<const LoopMaps*>, NameHash, std::equal_to<>>;

// One iteration's table, after the tables of the loops around it.
struct LoopMaps {
  LoopMaps(std::shared_ptr<const LoopMaps> outerMaps, MacroTable iteration, Definers& registry);
  LoopMaps(const LoopMaps&) = delete;
  LoopMaps& operator=(const LoopMaps&) = delete;
  ~LoopMaps();

  mutable std::shared_ptr<const LoopMaps> outer;
  MacroTable table;
  std::uint32_t depth;   // 0 for the outermost
  const LoopMaps* jump;  // an ancestor, so that the one at a given depth is found in log time
  Definers& definers;    // where the table's names are registered while the maps live
  // The maps of the chain at `target` depth (at most this one's).
  const LoopMaps* ancestorAt(std::uint32_t target) const;
};
