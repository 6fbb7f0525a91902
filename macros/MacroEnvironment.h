#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "macros/MacroMap.h"

// Describes one system macro for people reading the macro table.
struct MacroPropertyClass {
  MacroPropertyClass(std::string_view name, bool systemMacro, std::string_view description);

  std::string name;
  std::string displayName;  // "$(" + name + ")"
  std::string group;
  std::string category;
  std::string description;
};

using PropertyClassList = std::vector<MacroPropertyClass>;

// The process-wide macro environment: the system macros, their descriptions and the reference
// character, and the expansion of $(name) references.
class MacroEnvironment {
 public:
  // Registers the sixteen system macros.
  MacroEnvironment();

  // Sets a system macro; a non-empty description adds a descriptor record.
  void setMacro(std::string_view name, std::string_view value, std::string_view description);

  const MacroMap& systemMacros() const { return systemMacros_; }
  const PropertyClassList& descriptors() const { return descriptors_; }
  char macroChar() const { return macroChar_; }

  // Replaces $(name), $(name:default), $(name::literal default) and $$ in `text`, looking names up
  // in `localMacros` and then, when asked, in the system macros. Names that are not found and have
  // no default stay as written.
  std::string expandMacros(const MacroMap& localMacros, std::string_view text,
                           bool useSystemMacros) const;
  // The same, leaving the result in `result`, whose storage is reused: for callers that expand
  // many values in a row.
  void expandMacros(const MacroMap& localMacros, std::string_view text, bool useSystemMacros,
                    std::string& result) const;
  // Expansion with the system macros only (used for include file names).
  std::string expandWithSystemMacros(std::string_view text) const;

  // The current value of a date or time macro; false for any other name.
  static bool dateTimeMacroValue(std::string_view name, std::string& value);

 private:
  bool expandPass(const MacroMap& localMacros, std::string_view in, bool useSystemMacros,
                  std::string& out) const;

  PropertyClassList descriptors_;
  MacroMap systemMacros_;
  char macroChar_ = '$';
};

// The one environment of the process, installed by the driver.
MacroEnvironment* macroEnvironment();
void setMacroEnvironment(MacroEnvironment* environment);
