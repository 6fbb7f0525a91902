#pragma once

#include <initializer_list>
#include <optional>
#include <string>

#include "diagnostics/Diagnostic.h"
#include "files/FileDescriptor.h"

// Writes a file so that readers see either the old contents or the complete new ones, and so that
// nothing is left behind when the run fails or is ended by a signal. Writing is in three steps:
// `open`, writing to `fd()`, `finish` (the file is complete, nothing is replaced yet), then
// `replace` (or `replaceInOrder` for several files that change together).
//
// A regular file (new or existing) is written to an unnamed temporary file in the target's
// directory, which `finish` links in under a short temporary name and `replace` renames over the
// target. Where the file system cannot make unnamed files, a named temporary file is used from the
// start. A temporary name (".xmlpp" and six letters or digits) is removed if a termination signal
// ends the process (SignalCleanup.h); it is never longer than 12 bytes and is used relative to the
// opened directory, so it fits wherever the target's name fits.
//
// The new file gets the permission bits of the file it replaces (never setuid, setgid or sticky),
// or those of a new file under the umask. It also gets the replaced file's owner and group where
// the caller may give them (root; or a member of the file's group, which keeps the group), as
// editors that save by renaming do; where either cannot be kept, the permission bits are narrowed
// (`narrowedMode`) so that nobody gains access. A file with several hard links is replaced under
// the one name given: its other names keep the old contents.
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
// /dev/null, FIFOs) are opened and written directly. What such a file received cannot be taken
// back; without a `replace`, nothing else is changed.
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
  // Opens `path` only when it is written through a temporary file (a regular file, or one still
  // to be created), so that whatever is written can still be dropped: false, with nothing opened
  // or changed, for a target written directly or one that `open` would refuse.
  bool openTemporary(const std::string& path);
  // Writes through a copy of the inherited descriptor `fd`; `path` names it in messages.
  Failure openDescriptor(int fd, const std::string& path);
  int fd() const { return file_.get(); }
  const std::string& path() const { return path_; }
  // Completes the file without replacing anything: a temporary file gets its permission bits,
  // owner and group, is linked in under its temporary name and closed; a file written directly
  // is closed. On a failure nothing is replaced. A file never opened has nothing to finish.
  Failure finish();
  // Puts a finished file in place, renaming it over the target; a file written directly (or
  // never opened) has nothing to put. On a failure the target is left as it was.
  Failure replace();
  // Drops what was opened, removing a temporary file: the file is as if never opened.
  void discard();
  // The failure of writing to the file, with the system's reason.
  Diagnostic writeFailure(int systemError) const {
    return Diagnostic::failure("couldn't write " + path_, {}, systemError);
  }

 private:
  enum class Kind { None, Direct, Unnamed, Named };
  bool openPath(const std::string& path, bool temporaryOnly = false);
  bool useDescriptor(int fd);
  bool finishFile();
  bool setOwnerAndMode();
  bool openUnnamed();
  bool openNamed();
  bool linkUnnamed();
  bool registerNamed();
  // Makes the temporary name with `create` (signals held back) and registers it for cleanup.
  template <class Create>
  bool nameTemporary(Create create);
  void removeNamed();
  // The named temporary file is gone (renamed or removed): nothing is left to clean up.
  void forgetNamed();

  std::string path_;  // as the caller named it
  Kind kind_ = Kind::None;
  bool finished_ = false;
  FileDescriptor file_;
  FileDescriptor directory_;  // where the target is (Unnamed, Named)
  std::string name_;          // the target's name in that directory
  char temporary_[16] = {};   // the temporary file's name (Named)
  int cleanupSlot_ = -1;
  unsigned mode_ = 0;
  // The file replaced, when there is one: whose it was.
  bool replacing_ = false;
  uid_t owner_ = 0;
  gid_t group_ = 0;
};

// Puts finished files in place in the order given, with the termination signals held back until
// the last is in place, so that no caught signal falls between two of them; the first failure
// stops (the files before it are in place, the others are not).
Failure replaceInOrder(std::initializer_list<OutputFile*> files);

// The permission bits (owner, group, other) of a file replacing one with bits `mode` when its
// owner or group could not be kept, such that nobody gains access. A new owner (the writer) gets
// no more than it had: the group's bits where the group was kept (only a member of the group can
// keep it), the others' bits otherwise; the old owner, now among the group or the others, gets
// no more than the owner's bits; a new group gets no more than the others'.
unsigned narrowedMode(unsigned mode, bool ownerKept, bool groupKept);

// The file that writing `path` through OutputFile would write, or nothing when the path leads
// nowhere it could write (a missing directory, a link loop).
std::optional<FileIdentity> outputIdentity(const std::string& path);
