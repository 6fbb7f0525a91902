#pragma once

#include <string_view>

#include "macros/MacroMap.h"

// The text form of a macro list, as on the command line and in "macros" attributes: items
// name=value separated by ";", a backslash taking the next character literally, empty items
// dropped, nothing trimmed. The name is the text before the first "=", the value all text after
// it (an item without "=" is a name with an empty value); a later item replaces an earlier one
// of the same name.
MacroMap parseMacroList(std::string_view text);
