#pragma once

// What the server knows of the editor's workspace: the open documents, the command database
// and the latest run for each input.

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Analysis.h"
#include "LanguageServer.h"
#include "TextDocument.h"

// One entry of the command database (xmlpp_commands.json, written by the build): the command
// that makes `output` from `file`.
struct Command {
  std::string directory;
  std::string file;
  std::string output;  // as the database gives it; once read, an absolute path
  std::vector<std::string> arguments;
};

// The commands of a database text; entries that are not objects with a directory, a file and
// arguments (strings) are skipped. A text that is no JSON array gives none.
std::vector<Command> readCommandDatabase(std::string_view text);

// The "file:" URI of an absolute path and back (nothing for a URI of another scheme).
std::string uriOfPath(const std::string& path);
std::optional<std::string> pathOfUri(std::string_view uri);

class Workspace {
 public:
  // A run stops (throwing RunInterrupted) when `interruptions` (may be null) has one pending.
  Workspace(const ServerSetup& setup, const Interruptions* interruptions)
      : setup_(setup), interruptions_(interruptions) {}

  // The workspace's root folder (may be empty) and the client's initializationOptions:
  // "commandDatabase" (a file, or a folder holding xmlpp_commands.json), "macros" (a macro
  // list, or an object of names and values) for files no command covers, and "commands" (an
  // object: an input's path to the output of the command to run it by, where several commands
  // have that input; relative paths are taken from the root).
  void configure(const std::string& root, const nlohmann::json& options);
  // Why the files of a workspace with a root run on their own: no command database found, or
  // one that cannot be read; nothing when there is a readable one, or no root.
  std::optional<std::string> databaseProblem() const;

  void open(const std::string& uri, std::string text, std::int64_t version);
  bool close(const std::string& uri);
  TextDocument* document(const std::string& uri);
  // A path as shown to the user: relative to the root when under it.
  std::string shownPath(const std::string& path) const;
  // The URI of a path: the one its open document was opened with, or its "file:" URI.
  std::string uriOf(const std::string& path) const;

  // Runs what covers `path` (see commandFor) and keeps the run as the latest of its input.
  const Analysis& run(const std::string& path);
  // The trace of a run of what covers `path`.
  std::string trace(const std::string& path);
  // The graph of a run of what covers `path`.
  GraphRun graph(const std::string& path);
  // The latest run that read `path`, or null.
  const Analysis* latestFor(const std::string& path) const;

  // The database's commands for `path`'s input (its own, else those of the input whose command
  // read it), in database order, with the one a run uses marked.
  struct Choice {
    std::string input;
    std::vector<const Command*> commands;
    std::optional<std::size_t> used;  // an index into commands; none when none can be run
  };
  Choice choices(const std::string& path);
  // Makes the command with `output` the one to run `input` by; false when it has none such.
  bool choose(const std::string& input, const std::string& output);

 private:
  // How a file is run: by a command of the database (its position among the commands for its
  // input), or on its own; `unusable` holds why the command for it could not be used.
  struct Covering {
    RunSettings settings;
    const Command* command = nullptr;  // null: on its own
    std::size_t number = 0;            // from 1, among `of` commands for the input
    std::size_t of = 0;
    Failure unusable;
  };
  // The run that covers a file: a command whose input it is, else a command for the input whose
  // command read it (the database's commands are run once for each input to learn what they
  // read), else the file on its own with the default macros. The command for an input is the
  // one chosen for it, else the first in database order that can be run.
  Covering commandFor(const std::string& path);
  // The command `input` is run by, when the database has one for it.
  std::optional<Covering> commandOfInput(const std::string& input);
  // The commands whose input is `input`, in database order.
  std::vector<const Command*> commandsOf(const std::string& input) const;
  // The settings of a command, read as the command line reads them, but its macros files only
  // when they are regular files within the server's bound (none for a command that cannot be
  // read, or reads standard input; a failure when a macros file cannot be read).
  std::optional<Expected<RunSettings>> parsed(const Command& command);
  // Reads the database again when its file changed.
  void refreshDatabase();
  std::optional<std::string_view> openText(const std::string& path) const;
  // Keeps a run as the latest of its input, with the command it followed.
  const Analysis& keep(std::unique_ptr<Analysis> analysis, const Covering& covering);
  // An absolute path for `path`, a relative one taken from the root.
  std::string rooted(const std::string& path) const;

  const ServerSetup& setup_;
  const Interruptions* interruptions_;
  std::string root_;
  std::string databasePath_;
  std::filesystem::file_time_type databaseTime_{};
  std::vector<Command> commands_;
  bool scanned_ = false;  // every command was run once since the database was read
  MacroMap defaultMacros_;
  std::map<std::string, std::string> chosen_;      // input -> the output of its chosen command
  std::map<std::string, TextDocument> documents_;  // by URI
  std::map<std::string, std::string> openPaths_;   // path -> URI
  std::map<std::string, std::unique_ptr<Analysis>> analyses_;  // by input
  std::map<std::string, std::string> readBy_;                  // file -> the input that read it
};
