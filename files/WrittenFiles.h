#pragma once

// The files a run writes, as one set: the output, the dependency file, the graph, the trace file
// and the SARIF log. Each is declared before anything is read, and checked against the others,
// against standard output when the output goes there, and against every file the run reads (the
// input, each macros file, each included file as the walk meets it), by what the paths lead to
// (FileIdentity): a clash fails the run before anything is changed, naming the file and both of its
// roles. The output may be the input: it is read whole before it is replaced.
//
// Each member is an OutputFile (OutputFile.h): a regular file is written to a temporary file and
// put in place at the end; a device or FIFO is written directly, once the run has its result.
// They are put in place in this order: the dependency file, the graph, the output, the trace file,
// the SARIF log. The output, the dependency file and the graph only when the run succeeded and
// every member was written; the trace and the log in any case, since they report the failure too.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/Diagnostic.h"
#include "files/FileDescriptor.h"
#include "files/OutputFile.h"

// In the order a clash's message names them.
enum class WrittenRole : std::uint8_t { Output, DependencyFile, Graph, TraceFile, SarifLog };

class WrittenFiles {
 public:
  // Declares `path` as the file written in `role` ("-" for the output: standard output). Fails
  // when it is a file declared before, or standard output while the output goes there.
  Failure declare(WrittenRole role, const std::string& path);
  // Fails when `path`, a regular file the run reads as `readRole` ("the input", "a macros file",
  // "an included file"), is one the run writes (but the input may be the output).
  Failure checkRead(std::string_view readRole, const std::string& path) const;

  // Opens a declared member before the run: a regular file (or one to be created) through a
  // temporary file; a device, FIFO or socket is left closed, to be opened and written once the
  // run has its result (opening a FIFO for writing waits for a reader). Fails when the path
  // cannot be written.
  Failure open(WrittenRole role);

  bool declared(WrittenRole role) const { return members_[index(role)].declared; }
  // Whether a clash was found: then nothing is written or put in place.
  bool clashed() const { return clashed_; }
  const std::string& path(WrittenRole role) const { return members_[index(role)].path; }
  OutputFile& file(WrittenRole role) { return members_[index(role)].file; }

  // Puts the finished members in place, in the order above; the output, the dependency file and
  // the graph only when `succeeded`, and none after a clash. The first failure is returned; the
  // others are still put in place.
  Failure replace(bool succeeded);

 private:
  struct Member {
    bool declared = false;
    std::string path;
    std::optional<FileIdentity> identity;  // none where the path leads nowhere yet
    OutputFile file;
  };
  static std::size_t index(WrittenRole role) { return static_cast<std::size_t>(role); }
  static std::string_view roleName(WrittenRole role);
  // The failure of a clash, which is remembered.
  Diagnostic clash(const std::string& path, std::string_view first, std::string_view second) const;

  std::array<Member, 5> members_;
  std::vector<WrittenRole> order_;              // as declared
  std::optional<FileIdentity> standardOutput_;  // when the output goes there
  mutable bool clashed_ = false;
};
