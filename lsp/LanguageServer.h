#pragma once

// `xmlpp --lsp`: a language server over standard input and output. It runs the preprocessor on
// the documents an editor has open, as the build would run them, and answers with what the run
// found and decided.

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "diagnostics/Diagnostic.h"
#include "macros/MacroMap.h"

// What a build command (one entry of the command database) asks of a run, with every path made
// absolute against the command's directory.
struct CommandRun {
  std::string input;
  MacroMap macros;
  std::vector<std::string> includeDirs;
  std::optional<std::string> doctype;  // the output's DOCTYPE, when the command gives one
  bool utf8 = false;
};

// Reads a command's arguments (the first one names the program) as the command line would be
// read, relative paths taken in `directory`.
using CommandParser = std::function<Expected<CommandRun>(const std::vector<std::string>& arguments,
                                                         const std::string& directory)>;

class Preprocessor;

// Runs `preprocessor` on `input` with `macros` and returns the run's trace, one line per
// decision (what --trace writes), up to a failure.
using TraceRunner = std::function<std::string(Preprocessor& preprocessor, const std::string& input,
                                              const MacroMap& macros)>;

struct ServerSetup {
  std::string installDirectory;  // the value of $(ZuruvaDez)
  std::optional<std::time_t> fixedTime;
  CommandParser parseCommand;
  TraceRunner trace;  // for xmlpp/trace; none: the request is not served
};

// Serves the protocol on the descriptors until the client says "exit" or the input ends. The
// status is 0 after an orderly shutdown, else 1.
int runLanguageServer(const ServerSetup& setup, int input, int output);
