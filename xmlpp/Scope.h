#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "macros/MacroMap.h"

// A scope map with value semantics: copies share the table until one of them changes it, so a
// nested scope costs nothing unless something is defined in it.
class Scope {
 public:
  Scope() : map_(std::make_shared<MacroMap>()) {}
  explicit Scope(MacroMap map) : map_(std::make_shared<MacroMap>(std::move(map))) {}

  const MacroMap& map() const { return *map_; }

  // Plain lookup: null when the name is not defined.
  const std::string* find(std::string_view name) const {
    auto it = map_->find(name);
    return it == map_->end() ? nullptr : &it->second;
  }
  // Inserting lookup: an absent name is defined with an empty value from now on.
  const std::string& findOrInsert(std::string_view name) {
    if (const std::string* value = find(name)) return *value;
    return mutableMap().emplace(std::string(name), std::string()).first->second;
  }
  void set(std::string_view name, std::string value) {
    mutableMap().insert_or_assign(std::string(name), std::move(value));
  }
  MacroMap& mutableMap() {
    if (map_.use_count() > 1) map_ = std::make_shared<MacroMap>(*map_);
    return *map_;
  }

 private:
  std::shared_ptr<MacroMap> map_;
};
