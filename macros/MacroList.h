#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "macros/MacroMap.h"

// The text form of a macro list, as on the command line and in "macros" attributes: items
// name=value separated by ";", a backslash taking the next character literally, empty items
// dropped, nothing trimmed. The name is the text before the first "=", the value all text after
// it (an item without "=" is a name with an empty value); a later item replaces an earlier one
// of the same name.
MacroMap parseMacroList(std::string_view text);

// Adds one item to `map` as the list reads it, except that ";" is an ordinary character: the
// name before the first "=", the value after it (no "=": an empty value), a backslash taking the
// next character literally. An empty item adds nothing. Used for -D NAME[=VALUE].
// Returns the name defined, or nothing for an empty item.
std::optional<std::string> addMacroItem(MacroMap& map, std::string_view item);

// Adds the items of a macros file to `map`: one item a line (as `addMacroItem` reads it), a line
// that begins with "#" a comment; a carriage return before a line feed is part of the line end.
// `defined`, when given, hears of each name defined and its line (from 1).
void addMacroLines(MacroMap& map, std::string_view text,
                   const std::function<void(const std::string&, std::int32_t)>& defined = {});
