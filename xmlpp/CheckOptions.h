#pragma once

// The options that choose checks and how diagnostics are printed: --warn, --warn=NAME,...,
// --no-warn=NAME,... and --diagnostics=FORMAT. They are read apart from the plain flags because
// they take values; --strict, a flag, decides what the check options start from.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "diagnostics/Diagnostic.h"
#include "xmlpp/Checks.h"

enum class DiagnosticFormat : std::uint8_t {
  Text,   // "xmlpp: warning: MESSAGE [NAME]" and "  at FILE:LINE" lines
  Gnu,    // "FILE:LINE:COL: warning: MESSAGE [NAME]" and "FILE:LINE:COL: note: ..." lines
  Sarif,  // one SARIF 2.1.0 log at the end of the run (driver/Sarif.h)
};

// The check options as given, left to right.
struct CheckOptions {
  struct Edit {
    bool enable;
    bool all;     // every check, else `check`
    Check check;  // when not `all`
  };
  std::vector<Edit> edits;
  bool silent = false;            // -w: no warning at all
  bool warningsAsErrors = false;  // -Werror: a finding of an enabled check fails the run
  DiagnosticFormat format = DiagnosticFormat::Text;
  // --diagnostics=sarif:FILE: the file the SARIF log goes to; empty for standard error.
  std::string_view sarifFile;

  // Reads `arg` when it is one of these options (also in the spellings compilers take: -w, -Wall,
  // -WNAME, -Wno-NAME, -Werror): true when it is, false when it is another option; fails for an
  // unknown check or format, naming the closest check.
  Expected<bool> read(std::string_view arg);
  // The checks enabled: in strict mode every check, as errors; else the default ones
  // (CheckInfo::byDefault). Then the edits, left to right; none with -w; as errors with -Werror.
  CheckSettings settings(bool strict) const;
  // The names of these options, for a did-you-mean of an unknown one.
  static std::vector<std::string_view> names();
};

// What --help says of these options, and the list of checks.
std::string checkOptionsHelp();
std::string checksHelp();

// Lines of --help, "  NAME  SUMMARY" each, the summaries lined up two columns after the longest
// name of at most `longest` characters; a longer name has a line of its own, its summary on the
// next.
std::string alignedHelp(const std::vector<std::pair<std::string, std::string_view>>& rows,
                        std::size_t longest = std::string::npos);
