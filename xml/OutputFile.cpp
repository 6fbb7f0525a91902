#include "xml/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "xml/FilePath.h"

namespace {

// Follows symbolic links (a bounded number of them) to the file that is finally written.
std::string resolveLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
    std::vector<char> buffer(PATH_MAX + 1);
    ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size() - 1);
    if (n <= 0) break;
    std::string target(buffer.data(), static_cast<std::size_t>(n));
    path = target.front() == '/' ? target : directoryOf(path) + "/" + target;
  }
  return path;
}

unsigned defaultMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

bool OutputFile::open(const std::string& path) {
  target_ = resolveLinks(path);
  struct stat info {};
  bool exists = ::stat(target_.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) return false;
  if (exists && !S_ISREG(info.st_mode)) {
    fd_ = ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    return fd_ >= 0;
  }
  mode_ = exists ? (info.st_mode & 07777) : defaultMode();
  std::string name = target_.substr(target_.rfind('/') + 1);
  std::string pattern = directoryOf(target_) + "/." + name + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  fd_ = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (fd_ < 0) return false;
  temporary_ = buffer.data();
  return true;
}

bool OutputFile::commit() {
  if (fd_ < 0) return false;
  bool ok = true;
  if (!temporary_.empty() && ::fchmod(fd_, mode_) != 0) ok = false;
  if (::close(fd_) != 0) ok = false;
  fd_ = -1;
  if (!ok) return false;
  if (temporary_.empty()) return true;
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) return false;
  temporary_.clear();
  return true;
}
