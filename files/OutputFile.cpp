#include "files/OutputFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "SignalCleanup.h"
#include "files/FilePath.h"

namespace {

// The most symbolic links followed from the output path to the file written (the kernel's own
// limit for one path).
constexpr int kMaxLinks = 40;

// Where a path leads once every symbolic link on the way is followed: a name in an open
// directory, or a descriptor of this process.
struct Target {
  FileDescriptor directory;
  std::string name;
  int inherited = -1;  // the descriptor the path names, when it is one
  bool exists = false;
  struct stat info {};
};

FileDescriptor openDirectory(int at, const std::string& path) {
  FileDescriptor directory(::openat(at, path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!directory) throwIfOutOfMemory();
  return directory;
}

std::string baseName(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

bool parseDescriptor(const std::string& name, int& fd) {
  if (name.empty() || name.size() > 9) return false;
  fd = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return false;
    fd = fd * 10 + (c - '0');
  }
  return true;
}

// Whether `directory` is this process's descriptor folder, /proc/self/fd (where /dev/fd,
// /dev/stdout and /dev/stderr lead) or /proc/thread-self/fd.
bool isOwnDescriptorDirectory(int directory) {
  struct stat info {};
  if (::fstat(directory, &info) != 0) return false;
  for (const char* path : {"/proc/self/fd", "/proc/thread-self/fd"}) {
    struct stat own {};
    if (::stat(path, &own) == 0 && own.st_dev == info.st_dev && own.st_ino == info.st_ino) {
      return true;
    }
  }
  return false;
}

// Follows the path link by link, each step relative to an open directory, so that no path longer
// than the ones given is ever built. False when the path cannot lead to a file to write: a missing
// or unreadable folder, a name that is empty (a path ending in "/"), a link loop or too many links.
bool resolve(const std::string& path, Target& target) {
  target.directory = openDirectory(AT_FDCWD, directoryOf(path));
  target.name = baseName(path);
  for (int links = 0;; ++links) {
    if (!target.directory || target.name.empty()) return false;
    int fd = -1;
    if (parseDescriptor(target.name, fd) && isOwnDescriptorDirectory(target.directory.get())) {
      target.inherited = fd;
      return true;
    }
    if (::fstatat(target.directory.get(), target.name.c_str(), &target.info, AT_SYMLINK_NOFOLLOW) !=
        0) {
      throwIfOutOfMemory();
      return errno == ENOENT;  // a file to create
    }
    if (!S_ISLNK(target.info.st_mode)) {
      target.exists = true;
      return true;
    }
    if (links == kMaxLinks) return false;
    std::string link(PATH_MAX, '\0');
    ssize_t n = ::readlinkat(target.directory.get(), target.name.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return false;
    link.resize(static_cast<std::size_t>(n));
    target.directory =
        openDirectory(link.front() == '/' ? AT_FDCWD : target.directory.get(), directoryOf(link));
    target.name = baseName(link);
  }
}

unsigned defaultMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

std::string descriptorPath(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

// ".xmlpp" and six random letters or digits.
void makeTemporaryName(char (&name)[16]) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::uint64_t bits = 0;
#if defined(__EMSCRIPTEN__)
  // The WebAssembly build's file system is in memory; its random bytes come from getentropy.
  const bool random = ::getentropy(&bits, sizeof bits) == 0;
#else
  const bool random =
      ::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits);
#endif
  if (!random) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    bits = static_cast<std::uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15u ^
           static_cast<std::uint64_t>(now.tv_sec) ^ (static_cast<std::uint64_t>(::getpid()) << 32);
  }
  std::memcpy(name, ".xmlpp", 6);
  for (int i = 6; i < 12; ++i) {
    name[i] = kLetters[bits % 62];
    bits /= 62;
  }
  name[12] = '\0';
}

// Calls `create` with fresh temporary names in `name` until it succeeds, fails otherwise than with
// EEXIST, or 100 names were taken.
template <class Create>
bool createWithTemporaryName(char (&name)[16], Create create) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    makeTemporaryName(name);
    if (create()) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

}  // namespace

OutputFile::~OutputFile() {
  removeNamed();
}

void OutputFile::discard() {
  removeNamed();
  file_.reset();
  directory_.reset();
  kind_ = Kind::None;
  finished_ = false;
  replacing_ = false;
}

Failure OutputFile::open(const std::string& path) {
  path_ = path;
  kind_ = Kind::Direct;  // until a temporary file is made; nothing to finish before it is open
  errno = 0;
  if (!openPath(path)) return writeFailure(errno);
  return std::nullopt;
}

bool OutputFile::openTemporary(const std::string& path) {
  path_ = path;
  kind_ = Kind::Direct;
  return openPath(path, true);
}

Failure OutputFile::openDescriptor(int fd, const std::string& path) {
  path_ = path;
  kind_ = Kind::Direct;
  if (!useDescriptor(fd)) return writeFailure(errno);
  return std::nullopt;
}

Failure OutputFile::finish() {
  errno = 0;
  if (!finishFile()) return writeFailure(errno);
  finished_ = true;
  return std::nullopt;
}

Failure OutputFile::replace() {
  if (kind_ == Kind::None) return std::nullopt;
  if (!finished_) return writeFailure(EBADF);
  if (kind_ != Kind::Named) return std::nullopt;
  TerminationSignalsBlocked blocked;
  if (::renameat(directory_.get(), temporary_, directory_.get(), name_.c_str()) != 0) {
    return writeFailure(errno);  // the destructor removes the temporary file
  }
  forgetNamed();
  kind_ = Kind::None;  // in place: nothing more to do
  return std::nullopt;
}

bool OutputFile::openPath(const std::string& path, bool temporaryOnly) {
  Target target;
  if (!resolve(path, target)) return false;
  if (temporaryOnly && (target.inherited >= 0 || (target.exists && !S_ISREG(target.info.st_mode))))
    return false;
  if (target.inherited >= 0) return useDescriptor(target.inherited);
  if (target.exists && S_ISDIR(target.info.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (target.exists && !S_ISREG(target.info.st_mode)) {
    file_.reset(
        ::openat(target.directory.get(), target.name.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!file_) throwIfOutOfMemory();
    return static_cast<bool>(file_);
  }
  if (target.exists &&
      ::faccessat(target.directory.get(), target.name.c_str(), W_OK, AT_EACCESS) != 0) {
    throwIfOutOfMemory();
    return false;
  }
  mode_ = target.exists ? (target.info.st_mode & 0777) : defaultMode();
  replacing_ = target.exists;
  owner_ = target.info.st_uid;
  group_ = target.info.st_gid;
  directory_ = std::move(target.directory);
  name_ = std::move(target.name);
  return openUnnamed() || openNamed();
}

bool OutputFile::useDescriptor(int fd) {
  // The process's own descriptors are all close-on-exec, so one without that flag is inherited.
  int descriptorFlags = ::fcntl(fd, F_GETFD);
  int statusFlags = ::fcntl(fd, F_GETFL);
  if (descriptorFlags < 0 || statusFlags < 0 || (descriptorFlags & FD_CLOEXEC) ||
      (statusFlags & O_PATH) || (statusFlags & O_ACCMODE) == O_RDONLY) {
    if (descriptorFlags >= 0 && statusFlags >= 0) errno = EBADF;
    return false;
  }
  file_.reset(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  if (!file_) throwIfOutOfMemory();
  kind_ = Kind::Direct;
  return static_cast<bool>(file_);
}

bool OutputFile::openUnnamed() {
  file_.reset(::openat(directory_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  if (!file_) {
    throwIfOutOfMemory();
    return false;
  }
  // The file is linked in through /proc/self/fd when finished; where that does not lead to it (no
  // /proc), a named temporary file is used instead.
  struct stat byDescriptor {};
  struct stat byPath {};
  if (::fstat(file_.get(), &byDescriptor) != 0 ||
      ::stat(descriptorPath(file_.get()).c_str(), &byPath) != 0 ||
      byPath.st_dev != byDescriptor.st_dev || byPath.st_ino != byDescriptor.st_ino) {
    file_.reset();
    return false;
  }
  kind_ = Kind::Unnamed;
  return true;
}

bool OutputFile::openNamed() {
  return nameTemporary([&] {
    file_.reset(
        ::openat(directory_.get(), temporary_, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
    return static_cast<bool>(file_);
  });
}

// Links the unnamed file in under a temporary name, which a termination signal removes from then
// on.
bool OutputFile::linkUnnamed() {
  const std::string link = descriptorPath(file_.get());
  return nameTemporary([&] {
    return ::linkat(AT_FDCWD, link.c_str(), directory_.get(), temporary_, AT_SYMLINK_FOLLOW) == 0;
  });
}

template <class Create>
bool OutputFile::nameTemporary(Create create) {
  TerminationSignalsBlocked blocked;
  if (!createWithTemporaryName(temporary_, create)) {
    throwIfOutOfMemory();
    temporary_[0] = '\0';
    return false;
  }
  return registerNamed();
}

// Called with the termination signals held back, right after the temporary name was made.
bool OutputFile::registerNamed() {
  kind_ = Kind::Named;
  cleanupSlot_ = registerTemporary(directory_.get(), temporary_);
  if (cleanupSlot_ < 0) {
    removeNamed();
    file_.reset();
    return false;
  }
  return true;
}

void OutputFile::removeNamed() {
  if (kind_ != Kind::Named || !temporary_[0]) return;
  TerminationSignalsBlocked blocked;
  ::unlinkat(directory_.get(), temporary_, 0);
  forgetNamed();
}

void OutputFile::forgetNamed() {
  unregisterTemporary(cleanupSlot_);
  cleanupSlot_ = -1;
  temporary_[0] = '\0';
}

bool OutputFile::finishFile() {
  if (kind_ == Kind::None) return true;
  if (!file_) return false;
  if (kind_ == Kind::Direct) return file_.close();
  if (!setOwnerAndMode()) return false;
  if (kind_ == Kind::Unnamed && !linkUnnamed()) return false;
  return file_.close();  // on a failure the destructor removes the temporary file
}

bool OutputFile::setOwnerAndMode() {
  unsigned mode = mode_;
  if (replacing_) {
    const int fd = file_.get();
    struct stat info {};
    if (::fstat(fd, &info) != 0) return false;
    if (info.st_uid != owner_ || info.st_gid != group_) {
      // Root may give both; a member of the group may give the group alone. What the file ends up
      // with is read back below either way, and the mode is narrowed to it.
      const bool given =
          ::fchown(fd, owner_, group_) == 0 || ::fchown(fd, static_cast<uid_t>(-1), group_) == 0;
      static_cast<void>(given);
      if (::fstat(fd, &info) != 0) return false;
    }
    mode = narrowedMode(mode, info.st_uid == owner_, info.st_gid == group_);
  }
  return ::fchmod(file_.get(), mode) == 0;
}

Failure replaceInOrder(std::initializer_list<OutputFile*> files) {
  TerminationSignalsBlocked blocked;
  for (OutputFile* file : files) {
    if (Failure failure = file->replace()) return failure;
  }
  return std::nullopt;
}

unsigned narrowedMode(unsigned mode, bool ownerKept, bool groupKept) {
  const unsigned owner = (mode >> 6) & 7;
  const unsigned group = (mode >> 3) & 7;
  const unsigned other = mode & 7;
  unsigned newOwner = owner;
  unsigned newGroup = group;
  unsigned newOther = other;
  if (!ownerKept) {
    newOwner &= groupKept ? group : other;
    newGroup &= owner;
    newOther &= owner;
  }
  if (!groupKept) newGroup &= other;
  return newOwner << 6 | newGroup << 3 | newOther;
}

std::optional<FileIdentity> outputIdentity(const std::string& path) {
  Target target;
  if (!resolve(path, target)) return std::nullopt;
  struct stat info {};
  if (target.inherited >= 0) {
    if (::fstat(target.inherited, &info) != 0) return std::nullopt;
    return FileIdentity::of(info);
  }
  if (target.exists) return FileIdentity::of(target.info);
  if (::fstat(target.directory.get(), &info) != 0) return std::nullopt;
  return FileIdentity::of(info, target.name);
}
