#pragma once

#include <string>
#include <string_view>

// The running executable: the target of /proc/self/exe, or `invocationName` when it cannot be
// read in full.
std::string executablePath(std::string_view invocationName);

// The value of $(ZuruvaDez): the canonical folder above the one holding the executable ("/" when
// that is the root).
std::string installDirectory(const std::string& executable);
