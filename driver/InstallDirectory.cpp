#include "driver/InstallDirectory.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "files/FilePath.h"

std::string executablePath(std::string_view invocationName) {
  char buffer[1024];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n >= 1 && n <= static_cast<ssize_t>(sizeof buffer) - 1) {
    return std::string(buffer, static_cast<std::size_t>(n));
  }
  return std::string(invocationName);
}

namespace {

// The canonical absolute path, symbolic links, "." and ".." resolved; the path itself when it
// cannot be resolved.
std::string canonical(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) return resolved;
  return path;
}

std::string parentOf(const std::string& directory) {
  std::size_t slash = directory.rfind('/');
  if (slash == std::string::npos) return directory + "/..";
  if (slash == 0) return "/";  // going up from the root leaves the root
  return directory.substr(0, slash);
}

}  // namespace

std::string installDirectory(const std::string& executable) {
  const std::string binDirectory = canonical(directoryOf(executable));
  const std::string up = canonical(parentOf(binDirectory));
  std::string value = normalizePath(up);
  if (value.empty() && up.starts_with('/')) return "/";
  return value;
}
