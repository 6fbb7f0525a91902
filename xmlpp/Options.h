#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "diagnostics/Diagnostic.h"
#include "xmlpp/CheckOptions.h"

// The command line of a run:
//
//   xmlpp [options] infile outfile [macro list] [doctype]
//
// Every argument that begins with "-" (but "-" alone, standard input or output) is an option,
// wherever it stands, until "--": every argument after "--" is positional, so a file whose name
// begins with "-" is given after "--". The positional arguments keep their order and meaning.
struct Options {
  bool help = false;
  bool version = false;
  bool utf8 = false;         // write valid UTF-8 as it is; character references read as UTF-8
  bool keepText = false;     // keep the text of elements without child elements
  bool locations = false;    // --locations: accepted (a failure is located by default)
  bool noLocations = false;  // --no-locations: a failure's message alone, without where
  bool strict = false;       // enable every check, and fail on what one finds
  bool lsp = false;          // serve the language server protocol instead
  bool fix = false;          // --fix: repair the certain findings in the files
  bool fixDiff = false;      // --fix=diff: print those repairs as a diff instead
  CheckOptions checks;       // --warn, --no-warn, --diagnostics
  std::optional<std::string_view> output;     // -o: the output; the positionals lose outfile
  std::optional<std::string_view> doctype;    // --doctype: the output's DOCTYPE
  std::vector<std::string_view> defines;      // -D NAME[=VALUE], in order
  std::vector<std::string_view> includeDirs;  // -I: where includes are looked up next, in order
  std::vector<std::string_view> macrosFiles;  // --macros-file, in order
  bool depsOnly = false;    // -M: the dependency rule on standard output (or -MF), no output
  bool depsBeside = false;  // -MD: the dependency file named after the output
  bool depsPhony = false;   // -MP: accepted; the empty rules are always written
  std::optional<std::string_view> depFile;      // -MF: the dependency file
  std::optional<std::string_view> depTarget;    // -MT: the rule's target instead of the output
  bool trace = false;                           // --trace: a line per decision of the run
  std::optional<std::string_view> traceOutput;  // --trace=FILE: where, instead of standard error
  std::optional<std::string_view> graph;        // --graph: where the run's graph goes (DOT)
  std::optional<std::string_view> traceFile;    // --trace-file: only lines in this input file
  std::optional<std::string_view> traceMacro;   // --trace-macro: only lines about this macro
  // The positional arguments: infile, outfile, the macro list and the doctype (more are ignored).
  std::vector<std::string_view> arguments;
};

// Reads the command line (`argv[0]` is the invocation name and is skipped). An option that takes a
// value takes the next argument, whatever it looks like, or the rest of its own argument: "-DA=1",
// "-Idir", "-oout.xml" for the one-letter ones, "--doctype=NAME" for the long ones. An option
// given once that can be given once takes the last value. An unknown option is an error
// wherever it stands (the first one is named), and so is an option missing its value; the
// arguments and values are views into `argv`.
Expected<Options> parseOptions(int argc, const char* const* argv);

// The options as --help lists them: each one's name (with its value's) and summary, in order.
std::vector<std::pair<std::string, std::string_view>> optionHelpRows();

// The time given by SOURCE_DATE_EPOCH: a decimal count of seconds since 1970-01-01 00:00:00 UTC,
// digits only (no sign, no blanks), at most 253402300799 (9999-12-31 23:59:59 UTC, the last time
// whose year has four digits). Any other text fails.
Expected<std::time_t> parseSourceDateEpoch(std::string_view text);
