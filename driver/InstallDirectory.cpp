#include "driver/InstallDirectory.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>

#include "files/FilePath.h"

namespace {

// The target of /proc/self/exe, read into a buffer that doubles until the whole target fits.
std::optional<std::string> linkedExecutable() {
  std::string buffer(256, '\0');
  while (true) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 1) return std::nullopt;
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

// The executable as /proc/self/maps names it: the file of the mapping with the executable's
// device and inode. The kernel gives that name in full where readlink gives up (a path longer
// than a page).
std::optional<std::string> mappedExecutable() {
  struct stat exe {};
  if (::stat("/proc/self/exe", &exe) != 0) return std::nullopt;
  std::ifstream maps("/proc/self/maps");
  // Each line: address, permissions, offset, device (major:minor, hexadecimal), inode, path.
  for (std::string line; std::getline(maps, line);) {
    unsigned deviceMajor = 0, deviceMinor = 0;
    unsigned long long inode = 0;
    int pathAt = 0;
    const int read = std::sscanf(line.c_str(), "%*s %*s %*s %x:%x %llu %n", &deviceMajor,
                                 &deviceMinor, &inode, &pathAt);
    const bool isExecutable = read == 3 && pathAt > 0 && inode == exe.st_ino &&
                              deviceMajor == major(exe.st_dev) && deviceMinor == minor(exe.st_dev);
    if (isExecutable && line[static_cast<std::size_t>(pathAt)] == '/') {
      return line.substr(static_cast<std::size_t>(pathAt));
    }
  }
  return std::nullopt;
}

// The canonical absolute path, symbolic links, "." and ".." resolved; the path itself when it
// cannot be resolved (the kernel's names of the executable are canonical already).
std::string canonical(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : path;
}

std::string parentOf(const std::string& directory) {
  std::size_t slash = directory.rfind('/');
  if (slash == std::string::npos) return directory + "/..";
  if (slash == 0) return "/";  // going up from the root leaves the root
  return directory.substr(0, slash);
}

}  // namespace

std::string executablePath(std::string_view invocationName) {
  if (std::optional<std::string> path = linkedExecutable()) return *path;
  if (std::optional<std::string> path = mappedExecutable()) return *path;
  return std::string(invocationName);
}

std::string installDirectory(const std::string& executable) {
  const std::string binDirectory = canonical(directoryOf(executable));
  const std::string up = canonical(parentOf(binDirectory));
  std::string value = normalizePath(up);
  if (value.empty() && up.starts_with('/')) return "/";
  return value;
}
