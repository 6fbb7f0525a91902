#include "macros/MacroTable.h"

MacroTable::MacroTable(const MacroMap& macros) {
  for (const auto& [name, value] : macros)
    values_.emplace(name, Entry{value, 0, MacroOrigin{}});
}

std::string& MacroTable::define(std::string_view name, const MacroOrigin& origin) {
  const std::size_t depth = scopeStarts_.size();
  auto it = values_.find(name);
  if (it == values_.end()) {
    if (depth > 0) undo_.push_back({std::string(name), false, {}});
    return values_.emplace(std::string(name), Entry{std::string(), depth, origin})
        .first->second.value;
  }
  Entry& entry = it->second;
  if (entry.scope != depth) {
    // The first definition of the name in this scope: what it replaces comes back when the
    // scope is left. Later ones in the same scope just overwrite.
    undo_.push_back({it->first, true, std::move(entry)});
    entry = Entry{std::string(), depth, origin};
  } else {
    entry.origin = origin;
  }
  return entry.value;
}

void MacroTable::leaveScope() {
  const std::size_t start = scopeStarts_.back();
  scopeStarts_.pop_back();
  while (undo_.size() > start) {
    Undo& undo = undo_.back();
    auto it = values_.find(undo.name);
    if (undo.existed) {
      it->second = std::move(undo.previous);
    } else {
      values_.erase(it);
    }
    undo_.pop_back();
  }
}
