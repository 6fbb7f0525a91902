#pragma once

#include <string>
#include <string_view>

// Removes "." components, empty components (but the leading one of an absolute path) and
// ".." together with the component before it; a leading ".." is kept. The text is returned
// unchanged, byte for byte, when nothing had to be removed.
std::string normalizePath(std::string_view path);

// The running executable: the target of /proc/self/exe, or `invocationName` when it cannot be
// read in full.
std::string executablePath(std::string_view invocationName);

struct Directories {
  std::string binDirectory;      // canonical directory of the executable
  std::string installDirectory;  // canonical directory `levelsUp` above it
};

// Derives the directories from the executable's path.
Directories setupDirectories(const std::string& executable, int levelsUp);

// The value of the ZuruvaDez macro: the normalised install directory, "/" for the root.
std::string installDirectoryMacroValue(const Directories& directories);
