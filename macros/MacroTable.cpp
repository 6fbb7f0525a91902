#include "macros/MacroTable.h"

MacroTable::MacroTable(const MacroMap& macros, const MacroSources* sources) {
  for (const auto& [name, value] : macros) {
    const auto source = sources ? sources->find(name) : MacroSources::const_iterator();
    MacroOrigin origin;
    if (sources && source != sources->end()) {
      const MacroSource& from = source->second;
      const bool inFile = from.kind == MacroOrigin::Kind::MacrosFile;
      origin = MacroOrigin{from.kind, inFile ? &from.file : nullptr, nullptr, from.line};
    }
    values_.emplace(name, Entry{value, 0, origin});
  }
}

std::string& MacroTable::define(std::string_view name, const MacroOrigin& origin) {
  const std::size_t depth = scopeStarts_.size();
  auto it = values_.find(name);
  if (it == values_.end()) {
    if (depth > 0) undo_.push_back({std::string(name), false, {}});
    it = values_.emplace(std::string(name), Entry{std::string(), depth, origin}).first;
    if (near_) reindex(it->first, nullptr, &origin);
    return it->second.value;
  }
  Entry& entry = it->second;
  const MacroOrigin before = entry.origin;
  if (entry.scope != depth) {
    // The first definition of the name in this scope: what it replaces comes back when the
    // scope is left. Later ones in the same scope just overwrite.
    undo_.push_back({it->first, true, std::move(entry)});
    entry = Entry{std::string(), depth, origin};
  } else {
    entry.origin = origin;
  }
  if (near_) reindex(it->first, &before, &origin);
  return entry.value;
}

const NearNames& MacroTable::nearNames() {
  if (!near_) {
    near_ = std::make_unique<NearNames>();
    for (const auto& [name, entry] : values_)
      reindex(name, nullptr, &entry.origin);
  }
  return *near_;
}

void MacroTable::reindex(const std::string& name, const MacroOrigin* before,
                         const MacroOrigin* after) {
  // A name a condition defined is one nobody defined: it is no name to suggest.
  auto indexed = [](const MacroOrigin* origin) {
    return origin && origin->kind != MacroOrigin::Kind::Condition;
  };
  if (indexed(before) && !indexed(after)) near_->remove(name);
  if (!indexed(before) && indexed(after)) near_->add(name);
}

void MacroTable::leaveScope() {
  const std::size_t start = scopeStarts_.back();
  scopeStarts_.pop_back();
  // A scope that undoes most of the table (the outermost one, at the end of a run) drops the
  // near-name index rather than taking each name out of it: made again when next asked for, it
  // costs no more than the removals would have.
  if (near_ && 2 * (undo_.size() - start) > values_.size()) near_.reset();
  while (undo_.size() > start) {
    Undo& undo = undo_.back();
    auto it = values_.find(undo.name);
    if (undo.existed) {
      if (near_) reindex(it->first, &it->second.origin, &undo.previous.origin);
      it->second = std::move(undo.previous);
    } else {
      if (near_) reindex(it->first, &it->second.origin, nullptr);
      values_.erase(it);
    }
    undo_.pop_back();
  }
}
