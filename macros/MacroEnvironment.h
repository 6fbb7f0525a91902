#pragma once

#include <string>
#include <string_view>

#include "macros/MacroMap.h"
#include "macros/MacroTable.h"

// The macros the tool supplies itself, and the expansion of $(name) references.
//
// The system macros are fixed values for this build (host and target names, file extensions),
// ZuruvaDez (the installation directory) and nine date and time macros, whose values are made
// from the clock each time a reference to one of them is resolved.
class MacroEnvironment {
 public:
  explicit MacroEnvironment(std::string_view installDirectory);

  const MacroMap& systemMacros() const { return systemMacros_; }

  // Replaces $(name), $(name:default), $(name::literal default) and $$ in `text`, looking names up
  // in `localMacros` and then, when asked, in the system macros. Names that are not found and have
  // no default stay as written. The result goes to `result`, whose storage is reused.
  void expand(const MacroTable& localMacros, std::string_view text, bool useSystemMacros,
              std::string& result) const;
  std::string expand(const MacroTable& localMacros, std::string_view text,
                     bool useSystemMacros = false) const;
  // Expansion with the system macros only (include file names).
  std::string expandWithSystemMacros(std::string_view text) const;

 private:
  bool expandPass(const MacroTable& localMacros, std::string_view in, bool useSystemMacros,
                  std::string& out) const;

  MacroMap systemMacros_;
};

// The current value of a date or time macro; false for any other name.
bool dateTimeMacroValue(std::string_view name, std::string& value);
