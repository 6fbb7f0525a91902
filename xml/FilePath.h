#pragma once

#include <string>
#include <string_view>

// The directory part of a file name: "." for a name without "/", "/" for a name directly under
// the root. Plain text work: nothing is resolved or normalised.
std::string directoryOf(std::string_view path);
