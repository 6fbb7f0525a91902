#pragma once

#include <optional>
#include <string>

#include "diagnostics/Diagnostic.h"
#include "files/FileDescriptor.h"

// Writes a file so that readers see either the old contents or the complete new ones, and so that
// nothing is left behind when the run fails or is ended by a signal.
//
// A regular file (new or existing) is written to an unnamed temporary file in the target's
// directory, which is linked in under a short temporary name and renamed over the target on
// `commit`, with the termination signals held back for those two steps. Where the file system
// cannot make unnamed files, a named temporary file (".xmlpp" and six letters or digits) is used
// instead and removed if a termination signal ends the process (SignalCleanup.h). The temporary
// name is never longer than 12 bytes and is used relative to the opened directory, so it fits
// wherever the target's name fits. The new file gets the permission bits of the file it replaces
// (never setuid, setgid or sticky), or those of a new file under the umask.
//
// Paths are resolved link by link: a symbolic link is followed, so its target is replaced and the
// link stays; a loop, or a chain of more than 40 links, fails and changes nothing. An existing
// file that the caller's credentials may not write (as access(2) reports it, so root may replace
// a read-only file, as cp does) is refused, and so is a directory.
//
// A path that names a descriptor the process inherited (/dev/stdout, /dev/stderr, /dev/fd/N,
// /proc/self/fd/N, or a link to one of them) is written through that descriptor: it is never
// reopened, truncated or renamed over, so pipes work and the caller's redirection (append, a
// group of commands) keeps its place. Other targets that are not regular files (devices such as
// /dev/null, FIFOs) are opened and written directly. Without a commit, nothing is replaced.
//
// A failure is "couldn't write PATH" with the system's reason. System calls that fail for lack of
// memory throw std::bad_alloc, as allocations do.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  Failure open(const std::string& path);
  // Writes through a copy of the inherited descriptor `fd`; `path` names it in messages.
  Failure openDescriptor(int fd, const std::string& path);
  int fd() const { return file_.get(); }
  // Closes the file and puts it in place; on any failure nothing is replaced.
  Failure commit();
  // The failure of writing to the file, with the system's reason.
  Diagnostic writeFailure(int systemError) const {
    return Diagnostic::failure("couldn't write " + path_, {}, systemError);
  }

 private:
  enum class Kind { Direct, Unnamed, Named };
  bool openPath(const std::string& path);
  bool useDescriptor(int fd);
  bool commitFile();
  bool openUnnamed();
  bool openNamed();
  void removeNamed();
  // The named temporary file is gone (renamed or removed): nothing is left to clean up.
  void forgetNamed();

  std::string path_;  // as the caller named it
  Kind kind_ = Kind::Direct;
  FileDescriptor file_;
  FileDescriptor directory_;  // where the target is (Unnamed, Named)
  std::string name_;          // the target's name in that directory
  char temporary_[16] = {};   // the named temporary file's name (Named)
  int cleanupSlot_ = -1;
  unsigned mode_ = 0;
};

// The file that writing `path` through OutputFile would write, or nothing when the path leads
// nowhere it could write (a missing directory, a link loop).
std::optional<FileIdentity> outputIdentity(const std::string& path);
