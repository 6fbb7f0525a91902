#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CheckOptions.h"
#include "diagnostics/Diagnostic.h"

// The command line of a run:
//
//   xmlpp [options] infile outfile [macro list] [doctype]
//
// Options come first. They are read while the arguments begin with "--"; "--" alone ends them, and
// the first argument that does not begin with "--" is the input file. So every command line
// without options means what it always meant, and an input file whose name begins with "--" is
// given after "--". Everything from the input file on is an argument, whatever it looks like.
struct Options {
  bool help = false;
  bool version = false;
  bool utf8 = false;       // write valid UTF-8 in attribute values as it is
  bool locations = false;  // print where a failure happened
  bool strict = false;     // enable every check, and fail on what one finds
  CheckOptions checks;     // --warn, --no-warn, --diagnostics
  // What follows the options: infile, outfile, the macro list and the doctype (more are ignored).
  std::vector<std::string_view> arguments;
};

// Reads the command line (`argv[0]` is the invocation name and is skipped). An unknown option is
// an error wherever it stands (the first one is named); the arguments are views into `argv`.
Expected<Options> parseOptions(int argc, const char* const* argv);

// What --help and --version print, each ending with a line feed.
std::string helpText();
std::string versionText();

// The time given by SOURCE_DATE_EPOCH: a decimal count of seconds since 1970-01-01 00:00:00 UTC,
// digits only (no sign, no blanks), at most 253402300799 (9999-12-31 23:59:59 UTC, the last time
// whose year has four digits). Any other text fails.
Expected<std::time_t> parseSourceDateEpoch(std::string_view text);
