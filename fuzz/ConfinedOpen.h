#pragma once

// open() wrapped at link time (-Wl,--wrap=open). A target includes this header in its one source
// file and defines fuzz::openAllowed: any other path fails with ENOENT, so that no name an input
// holds reaches a device or a file of the machine.

#include <fcntl.h>

#include <cerrno>
#include <cstdarg>

namespace fuzz {
bool openAllowed(const char* path);
}  // namespace fuzz

extern "C" int __real_open(const char* path, int flags, ...);

extern "C" int __wrap_open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  if (!fuzz::openAllowed(path)) {
    errno = ENOENT;
    return -1;
  }
  return __real_open(path, flags, mode);
}
