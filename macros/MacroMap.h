#pragma once

#include <functional>
#include <map>
#include <string>

// Macro name to value, ordered by name, names compared exactly (byte for byte, case-sensitive).
// The transparent comparator lets callers look names up by std::string_view without a copy.
using MacroMap = std::map<std::string, std::string, std::less<>>;
