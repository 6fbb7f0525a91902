#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "macros/MacroMap.h"
#include "macros/NearNames.h"

// Where a macro's value was defined: on the command line, or by an element of a file (its name
// in that file's text tells where), and by which kind of element.
struct MacroOrigin {
  enum class Kind : std::uint8_t {
    CommandLine,      // the macro list argument
    Define,           // a <define> element
    MacrosAttribute,  // the "macros" attribute of an include or xmlput
    Loop,             // a loop variable of a <for> or <foreach>
    Condition,        // defined empty by the <if>, <ifnot> or <switch> that tested it
    MacrosFile,       // a line of a --macros-file: `file`, and `line`
    DefineOption,     // a -D option
  };
  Kind kind = Kind::CommandLine;
  const std::string* file = nullptr;  // the file the element (or macros file line) was written in
  const char* position = nullptr;     // the element's name in that file's text
  std::int32_t line = 0;              // MacrosFile: the line, from 1
};

// Where a macro given to a run came from, when not from the macro list: a line of a macros file,
// or a -D option.
struct MacroSource {
  MacroOrigin::Kind kind = MacroOrigin::Kind::DefineOption;
  std::string file;       // MacrosFile: the file's path as given
  std::int32_t line = 0;  // MacrosFile: the line, from 1
};
using MacroSources = std::map<std::string, MacroSource, std::less<>>;

// The macros in force at one point of a walk: names and values in nested scopes. A definition
// lands in the innermost scope and is undone when that scope is left, so definitions never leak
// out of the element that holds them. Entering a scope costs nothing, and a definition costs the
// same whatever the table holds: the table keeps one value per name plus, for each open scope,
// what its definitions replaced.
class MacroTable {
 public:
  MacroTable() = default;
  // A table holding these macros at its outermost scope.
  // The macros given to a run, from the macro list unless `sources` says otherwise (it must
  // outlive the table: origins point into it).
  explicit MacroTable(const MacroMap& macros, const MacroSources* sources = nullptr);

  // The value of a name, or null when it is not defined.
  const std::string* find(std::string_view name) const {
    auto it = values_.find(name);
    return it == values_.end() ? nullptr : &it->second.value;
  }
  // Where the value of a name was defined, or null when it is not defined.
  const MacroOrigin* originOf(std::string_view name) const {
    auto it = values_.find(name);
    return it == values_.end() ? nullptr : &it->second.origin;
  }
  // Defines the name in the innermost scope (replacing its value there) and returns the value to
  // fill in; it stays valid until the name is defined again or its scope is left.
  std::string& define(std::string_view name, const MacroOrigin& origin);
  void set(std::string_view name, std::string_view value, const MacroOrigin& origin) {
    define(name, origin).assign(value);
  }
  // The value of a name, defining it empty in the innermost scope when it is not defined, with
  // the origin that `origin()` gives (asked only then).
  template <class Origin>
  const std::string& findOrInsert(std::string_view name, Origin&& origin) {
    if (const std::string* value = find(name)) return *value;
    return define(name, origin());
  }
  // The same, setting `found` to the origin of the value found, or to null when it defined one.
  template <class Origin>
  const std::string& findOrInsert(std::string_view name, Origin&& origin,
                                  const MacroOrigin*& found) {
    auto it = values_.find(name);
    if (it != values_.end()) {
      found = &it->second.origin;
      return it->second.value;
    }
    found = nullptr;
    return define(name, origin());
  }

  // Calls `visit(name, value, origin)` for each macro in force, in name order.
  template <class Visit>
  void forEach(Visit&& visit) const {
    for (const auto& [name, entry] : values_)
      visit(name, entry.value, entry.origin);
  }

  // The names in force that no condition defined, indexed for near-name lookups. The index is
  // made when first asked for, and from then on kept in step with every definition and scope.
  const NearNames& nearNames();

  // Opens a nested scope; leaveScope() undoes what was defined in it and closes it.
  void enterScope() { scopeStarts_.push_back(undo_.size()); }
  void leaveScope();

 private:
  struct Entry {
    std::string value;
    std::size_t scope = 0;  // the depth of the scope that defined it
    MacroOrigin origin;
  };
  // What a definition replaced, to be put back when its scope is left.
  struct Undo {
    std::string name;
    bool existed;
    Entry previous;
  };
  // Names in byte order, as std::string compares them. The first bytes are compared in line:
  // macro names are short, and a call to memcmp costs more than comparing them; the rest of a
  // long name goes to memcmp, which compares many bytes at a time.
  struct NameOrder {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const {
      constexpr std::size_t kInline = 16;
      const std::size_t n = a.size() < b.size() ? a.size() : b.size();
      std::size_t i = 0;
      for (; i < n && i < kInline; ++i) {
        if (a[i] != b[i]) {
          return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
        }
      }
      if (i < n) {
        if (const int order = std::memcmp(a.data() + i, b.data() + i, n - i)) return order < 0;
      }
      return a.size() < b.size();
    }
  };
  // Ordered by name: a lookup costs a few comparisons of short names even in a large table, and
  // no more than one or two in the small tables of loop variables, which are looked up most.
  std::map<std::string, Entry, NameOrder> values_;
  std::vector<Undo> undo_;
  std::vector<std::size_t> scopeStarts_;  // where each open nested scope's entries begin in undo_
  std::unique_ptr<NearNames> near_;       // null until nearNames() is first called

  // Keeps near_ in step when the name's origin changes from `before` to `after` (null: not
  // defined).
  void reindex(const std::string& name, const MacroOrigin* before, const MacroOrigin* after);
};
