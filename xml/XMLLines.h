#pragma once

// The line a load error's message gives (XMLPositions.cpp): it counts line feeds only.

#include <cstddef>
#include <cstdint>

// Counts the line feeds in [from, to).
std::size_t countLineFeeds(const char* from, const char* to);
// The line of a position in a text: the line feeds between its second byte and the position, both
// included, so a line feed at the very start is not counted.
std::int32_t lineOfPosition(const char* begin, const char* end, const char* position);
