#pragma once

#include <string>
#include <string_view>

// The directory part of a file name: "." for a name without "/", "/" for a name directly under
// the root. Plain text work: nothing is resolved or normalised.
std::string directoryOf(std::string_view path);

// Removes "." components, empty components (but the leading one of an absolute path) and
// ".." together with the component before it; a leading ".." is kept. The text is returned
// unchanged, byte for byte, when nothing had to be removed.
std::string normalizePath(std::string_view path);
