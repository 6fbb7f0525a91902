#pragma once

// The one layer that turns a command line into a run's settings, for the tool and for a build
// command the language server runs: the positional arguments with -o's output in place, the
// macros of the list, the macros files and -D merged in that order, the DOCTYPE's precedence,
// SOURCE_DATE_EPOCH's time, the checks and the trace's filters.

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/Diagnostic.h"
#include "macros/MacroMap.h"
#include "xmlpp/Checks.h"
#include "xmlpp/Options.h"
#include "xmlpp/Trace.h"

struct RunSettings {
  std::string input;   // "-": standard input
  std::string output;  // "-": standard output
  // The macros of the list, then of each macros file, then of each -D: a later item replaces an
  // earlier one of the same name.
  MacroMap macros;
  MacroSources macroSources;             // where the macros not from the list came from
  std::vector<std::string> macrosFiles;  // as given (the output depends on them too)
  std::vector<std::string> includeDirs;
  // The output's DOCTYPE: --doctype's, else the fourth argument's when there are exactly four;
  // none keeps the document's own.
  std::optional<std::string> doctype;
  std::optional<std::time_t> fixedTime;  // SOURCE_DATE_EPOCH: the date and time macros' time
  CheckSettings checks;
  bool utf8 = false;
  bool keepText = false;
  bool trace = false;  // --trace, --trace-file or --trace-macro
  TraceFilter traceFilter;
};

// The positional arguments with the output of -o put in its place: infile, outfile, macro list,
// doctype. Without an input the list is empty, as it is without arguments.
std::vector<std::string_view> positionals(const Options& options);

// Checks that a file the run reads is not one it writes, before it is read (WrittenFiles).
using ReadCheck = std::function<Failure(std::string_view role, const std::string& path)>;

// The settings of a run of `options` with at least two positional arguments: relative paths are
// taken in `directory` (empty: as given); `epoch` is SOURCE_DATE_EPOCH's value (null or empty:
// the clock). The macros files are read here, each checked by `readCheck` first when given;
// with `regularFilesUpTo`, only regular files of at most that many bytes are read, without
// blocking (`readRegularFile`). Fails for a macros file that cannot be read, or a
// SOURCE_DATE_EPOCH that is no time.
Expected<RunSettings> runSettings(const Options& options, const std::string& directory,
                                  const char* epoch, const ReadCheck& readCheck = {},
                                  std::optional<std::size_t> regularFilesUpTo = {});
