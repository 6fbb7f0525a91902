#pragma once

// One run of the preprocessor for the language server, and what the server keeps of it: the
// diagnostics, the output, the texts the run read (so that byte positions become protocol
// positions), and what the walk decided where, as told by its listener: the values each macro
// reference and condition took, and the includes, fragments and loops it met.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Interruptions.h"
#include "LanguageServer.h"
#include "TextDocument.h"
#include "diagnostics/Diagnostic.h"
#include "macros/MacroTable.h"
#include "xml/XMLDocument.h"
#include "xmlpp/Directives.h"
#include "xmlpp/Graph.h"
#include "xmlpp/Invocation.h"

// The largest file the server reads (an include, a macros file, the command database): a larger
// one is reported, not read, so that one file cannot take the server's memory.
inline constexpr std::size_t kMaxServerFileBytes = std::size_t{64} << 20;

// A file's text as a run read it, with its lines.
using FileText = IndexedText;

// A place in a file the run read: its path and a byte offset in its text.
struct Place {
  std::string file;
  std::size_t offset = 0;
  bool operator<(const Place& other) const {
    return file != other.file ? file < other.file : offset < other.offset;
  }
};

// A value a name had where it was used, and where that value was defined.
struct UsedValue {
  bool defined = false;
  std::string value;
  MacroOrigin::Kind kind = MacroOrigin::Kind::CommandLine;
  std::optional<Place> origin;  // none for the command line
};

// A name used at one place: a $(NAME) reference, or the name a condition tests.
struct Use {
  std::string name;
  std::vector<UsedValue> values;  // the distinct values it took, in walk order (a few at most)
};

// A directive the walk reached: its element's name at `at`, with its attributes as expanded.
struct Reached {
  DirectiveId directive;
  Place at;
  std::vector<std::pair<std::string, std::string>> attributes;
};

struct Analysis {
  std::string input;         // the file run, an absolute path
  bool fromCommand = false;  // run as a command of the database says, else on its own
  // The command the run followed: its output, and its number (from 1) among the `commandCount`
  // commands for the input (none and 0 for a run on its own).
  std::string commandOutput;
  std::size_t commandNumber = 0;
  std::size_t commandCount = 0;
  std::vector<Diagnostic> diagnostics;
  std::optional<std::string> output;  // what the tool would write, when the run succeeded
  std::vector<std::string> loadedFiles;
  std::map<std::string, FileText> texts;  // by path
  std::map<Place, Use> uses;
  std::vector<Reached> directives;  // include, xmldef, xmlput, for, foreach, in walk order
  std::map<Place, std::string> includedPaths;  // an include element's name: the path it opened
  std::map<Place, Place> fragments;            // an xmlput element's name: its xmldef's
  // A conditional element's name: whether its content was kept (bit 0) or dropped (bit 1) at
  // some visit.
  std::map<Place, unsigned> decisions;
  // A start tag holding an unfinished reference ("$(" not closed, as while it is typed), at its
  // element's name: the names of the macros in scope there, over every visit (for completion).
  std::map<Place, std::set<std::string>> scopesAtUnfinished;
  MacroMap topLevel;  // the macros of the command
  std::vector<std::string> includeDirs;
};

// The path a run's file name stands for: absolute and without "." and ".." steps.
std::string normalPath(const std::string& path);

// Where the run reads open documents from: `texts` gives a path's unsaved text, or nothing.
using OpenText = std::function<std::optional<std::string_view>(const std::string& path)>;

// Runs `command` (or the input on its own, with `fromCommand` false: the checks of undefined
// macros stay quiet, since its macros are unknown rather than missing), reading open documents
// through `openText`. Throws RunInterrupted when `interruptions` has one pending at a step.
std::unique_ptr<Analysis> analyze(const ServerSetup& setup, const RunSettings& command,
                                  bool fromCommand, const OpenText& openText,
                                  const Interruptions* interruptions = nullptr);
// The graph of the same run (what --graph writes), up to where the run stopped, with the texts its
// places are in.
struct GraphRun {
  std::vector<GraphNode> nodes;
  std::vector<GraphEdge> edges;
  std::map<std::string, FileText> texts;  // by path
};
GraphRun graphRun(const ServerSetup& setup, const RunSettings& command, bool fromCommand,
                  const OpenText& openText, const Interruptions* interruptions = nullptr);
// The trace of the same run: what --trace writes.
std::string traceRun(const ServerSetup& setup, const RunSettings& command, bool fromCommand,
                     const OpenText& openText, const Interruptions* interruptions = nullptr);
