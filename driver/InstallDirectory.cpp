#include "driver/InstallDirectory.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <vector>

#include "xml/FilePath.h"

std::string normalizePath(std::string_view path) {
  std::vector<std::string_view> kept;
  int depth = 0;
  bool changed = false;
  std::size_t start = 0;
  bool first = true;
  while (true) {
    std::size_t slash = path.find('/', start);
    bool last = slash == std::string_view::npos;
    std::string_view component = path.substr(start, last ? std::string_view::npos : slash - start);
    if (component == "..") {
      if (depth > 0) {
        kept.pop_back();
        --depth;
        changed = true;
      } else {
        kept.push_back(component);
      }
    } else if (component == ".") {
      changed = true;
    } else if (component.empty()) {
      if (first && !last) {
        kept.push_back(component);  // the mark of an absolute path
      } else {
        changed = true;
      }
    } else {
      kept.push_back(component);
      ++depth;
    }
    first = false;
    if (last) break;
    start = slash + 1;
  }
  if (!changed) return std::string(path);
  std::string result;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i) result.push_back('/');
    result.append(kept[i]);
  }
  return result;
}

std::string executablePath(std::string_view invocationName) {
  char buffer[1024];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n >= 1 && n <= static_cast<ssize_t>(sizeof buffer) - 1) {
    return std::string(buffer, static_cast<std::size_t>(n));
  }
  return std::string(invocationName);
}

namespace {

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

Directories setupDirectories(const std::string& executable, int levelsUp) {
  Directories result;
  result.binDirectory = canonical(directoryOf(executable));
  std::string up = result.binDirectory;
  for (int level = 0; level < levelsUp; ++level)
    up = parentOf(up);
  result.installDirectory = canonical(up);
  return result;
}

std::string installDirectoryMacroValue(const Directories& directories) {
  std::string value = normalizePath(directories.installDirectory);
  if (value.empty() && directories.installDirectory.starts_with('/')) return "/";
  return value;
}
