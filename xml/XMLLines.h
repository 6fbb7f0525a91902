#pragma once

// Lines of positions in a text the reader read (XMLPositions.cpp).

#include <cstddef>
#include <cstdint>

// Counts the line feeds in [from, to).
std::size_t countLineFeeds(const char* from, const char* to);
// The line of a position in a text: the line feeds between its second byte and the position, both
// included, so a line feed at the very start is not counted.
std::int32_t lineOfPosition(const char* begin, const char* end, const char* position);
// The line of a position in [begin, end) as editors count it, from 0: the line ends before it,
// each a line feed, a carriage return, or a carriage return and a line feed together.
std::int32_t editorLine(const char* begin, const char* end, const char* position);
