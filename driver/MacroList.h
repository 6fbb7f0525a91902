#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "macros/MacroMap.h"

// The text form of a macro list: items name=value separated by ";", a backslash taking the next
// character literally, empty items dropped, nothing trimmed.
std::vector<std::string> splitMacroList(std::string_view text);
// Items to a map: the name is the text before the first "=", the value all text after it (an item
// without "=" is a name with an empty value); a later item replaces an earlier one of that name.
MacroMap macroListToMap(const std::vector<std::string>& items);
