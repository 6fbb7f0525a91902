#include "Workspace.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "files/InputFile.h"
#include "macros/MacroList.h"

namespace {

// Commands run to learn which files they read, at most.
constexpr std::size_t kMaxScannedCommands = 256;

bool unreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~' || c == '/';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const std::string* stringMember(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get_ptr<const std::string*>() : nullptr;
}

// A command's arguments read as the command line reads them; the options borrow its strings.
Expected<Options> optionsOf(const Command& command) {
  std::vector<const char*> argv;
  for (const std::string& argument : command.arguments)
    argv.push_back(argument.c_str());
  return parseOptions(static_cast<int>(argv.size()), argv.data());
}

// `path` made absolute: a relative one is taken from the folder `base`.
std::string absoluteFrom(const std::string& base, const std::string& path) {
  return normalPath(std::filesystem::path(path).is_relative() ? base + "/" + path : path);
}

}  // namespace

std::string uriOfPath(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (unreserved(byte)) {
      uri += c;
    } else {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 15];
    }
  }
  return uri;
}

std::optional<std::string> pathOfUri(std::string_view uri) {
  if (!uri.starts_with("file://")) return std::nullopt;
  uri.remove_prefix(7);
  // A host ("file://localhost/x") is dropped; the path starts at its "/".
  const std::size_t slash = uri.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  uri.remove_prefix(slash);
  std::string path;
  for (std::size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] == '%' && i + 2 < uri.size() && hexValue(uri[i + 1]) >= 0 &&
        hexValue(uri[i + 2]) >= 0) {
      path += static_cast<char>(hexValue(uri[i + 1]) * 16 + hexValue(uri[i + 2]));
      i += 2;
    } else {
      path += uri[i];
    }
  }
  return normalPath(path);
}

std::vector<Command> readCommandDatabase(std::string_view text) {
  std::vector<Command> commands;
  const nlohmann::json database = nlohmann::json::parse(text, nullptr, false);
  if (!database.is_array()) return commands;
  for (const nlohmann::json& entry : database) {
    if (!entry.is_object()) continue;
    const std::string* directory = stringMember(entry, "directory");
    const std::string* file = stringMember(entry, "file");
    const auto arguments = entry.find("arguments");
    if (!directory || !file || arguments == entry.end() || !arguments->is_array()) continue;
    Command command{*directory, *file, {}, {}};
    if (const std::string* output = stringMember(entry, "output")) command.output = *output;
    bool valid = true;
    for (const nlohmann::json& argument : *arguments) {
      if (!argument.is_string()) valid = false;
      if (valid) command.arguments.push_back(argument.get<std::string>());
    }
    if (valid) commands.push_back(std::move(command));
  }
  return commands;
}

std::string Workspace::rooted(const std::string& path) const {
  return root_.empty() ? normalPath(path) : absoluteFrom(root_, path);
}

std::string Workspace::shownPath(const std::string& path) const {
  if (!root_.empty() && path.starts_with(root_ + "/")) return path.substr(root_.size() + 1);
  return path;
}

void Workspace::configure(const std::string& root, const nlohmann::json& options) {
  root_ = root;
  std::string database;
  if (options.is_object()) {
    if (const std::string* given = stringMember(options, "commandDatabase")) database = *given;
    const auto macros = options.find("macros");
    if (macros != options.end() && macros->is_string()) {
      defaultMacros_ = parseMacroList(macros->get<std::string>());
    } else if (macros != options.end() && macros->is_object()) {
      for (const auto& [name, value] : macros->items()) {
        if (value.is_string()) defaultMacros_[name] = value.get<std::string>();
      }
    }
    const auto chosen = options.find("commands");
    if (chosen != options.end() && chosen->is_object()) {
      for (const auto& [input, output] : chosen->items()) {
        if (output.is_string()) chosen_[rooted(input)] = rooted(output.get<std::string>());
      }
    }
  }
  std::error_code error;
  if (!database.empty()) {
    if (!root_.empty() && std::filesystem::path(database).is_relative()) {
      database = root_ + "/" + database;
    }
    if (std::filesystem::is_directory(database, error)) database += "/xmlpp_commands.json";
    databasePath_ = normalPath(database);
    return;
  }
  if (root_.empty()) return;
  // The root's own database, else that of the first of its immediate subfolders, in name order
  // (hidden ones left out), that has one: a build folder may have any name.
  if (std::filesystem::exists(root_ + "/xmlpp_commands.json", error)) {
    databasePath_ = root_ + "/xmlpp_commands.json";
    return;
  }
  std::vector<std::string> candidates;
  for (const auto& entry : std::filesystem::directory_iterator(root_, error)) {
    const std::string name = entry.path().filename().string();
    const std::string candidate = entry.path().string() + "/xmlpp_commands.json";
    if (!name.starts_with('.') && std::filesystem::exists(candidate, error)) {
      candidates.push_back(candidate);
    }
  }
  std::sort(candidates.begin(), candidates.end());
  if (!candidates.empty()) databasePath_ = candidates.front();
}

std::optional<std::string> Workspace::databaseProblem() const {
  if (root_.empty()) return std::nullopt;
  const std::string alone = ": each file runs on its own, without the build's macros";
  if (databasePath_.empty()) {
    return "xmlpp: no command database (xmlpp_commands.json) in " + root_ + " or its subfolders" +
           alone;
  }
  Expected<std::string> text = readRegularFile(databasePath_, kMaxServerFileBytes);
  if (text) return std::nullopt;
  return "xmlpp: " + messageText(text.error()) + alone;
}

void Workspace::refreshDatabase() {
  if (databasePath_.empty()) return;
  std::error_code error;
  const auto time = std::filesystem::last_write_time(databasePath_, error);
  if (error || time == databaseTime_) return;
  databaseTime_ = time;
  // A database that is no regular file, or too large, counts as holding no command.
  Expected<std::string> text = readRegularFile(databasePath_, kMaxServerFileBytes);
  commands_ = text ? readCommandDatabase(*text) : std::vector<Command>{};
  for (Command& command : commands_) {
    command.file = absoluteFrom(command.directory, command.file);
    // The output names the command; without one in the entry, it is the command's own.
    if (command.output.empty()) {
      Expected<Options> options = optionsOf(command);
      const std::vector<std::string_view> args =
          options ? positionals(*options) : std::vector<std::string_view>{};
      if (args.size() >= 2) command.output = args[1];
    }
    if (!command.output.empty() && command.output != "-") {
      command.output = absoluteFrom(command.directory, command.output);
    }
  }
  scanned_ = false;
  readBy_.clear();
}

std::optional<Expected<RunSettings>> Workspace::parsed(const Command& command) {
  Expected<Options> options = optionsOf(command);
  if (!options) return std::nullopt;
  const std::vector<std::string_view> args = positionals(*options);
  if (args.size() < 2 || args[0] == "-") return std::nullopt;
  return runSettings(*options, command.directory, setup_.sourceDateEpoch.c_str(), {},
                     kMaxServerFileBytes);
}

std::vector<const Command*> Workspace::commandsOf(const std::string& input) const {
  std::vector<const Command*> own;
  for (const Command& command : commands_)
    if (command.file == input) own.push_back(&command);
  return own;
}

std::optional<Workspace::Covering> Workspace::commandOfInput(const std::string& input) {
  const std::vector<const Command*> own = commandsOf(input);
  const auto chosen = chosen_.find(input);
  std::optional<Covering> unusable;
  for (std::size_t i = 0; i < own.size(); ++i) {
    // A chosen command is the only one tried; else the first that can be run.
    if (chosen != chosen_.end() && own[i]->output != chosen->second) continue;
    std::optional<Expected<RunSettings>> run = parsed(*own[i]);
    if (!run) continue;
    Covering covering;
    covering.number = i + 1;
    covering.of = own.size();
    covering.command = own[i];
    if (*run) {
      covering.settings = std::move(**run);
      return covering;
    }
    covering.command = nullptr;
    covering.unusable = std::move(run->error());
    if (!unusable) unusable = std::move(covering);
  }
  return unusable;
}

Workspace::Covering Workspace::commandFor(const std::string& path) {
  refreshDatabase();
  std::optional<Covering> own = commandOfInput(path);
  if (own && own->command) return std::move(*own);
  if (!scanned_) {
    std::size_t count = 0;
    std::set<std::string> inputs;
    for (const Command& command : commands_) {
      if (!inputs.insert(command.file).second) continue;
      if (++count > kMaxScannedCommands) break;
      if (analyses_.contains(command.file)) continue;
      std::optional<Covering> theirs = commandOfInput(command.file);
      if (theirs && theirs->command) {
        keep(analyze(
                 setup_, theirs->settings, true,
                 [this](const std::string& p) { return openText(p); }, interruptions_),
             *theirs);
      }
    }
    // Only a scan that went through counts: an interrupted one goes on at the next run.
    scanned_ = true;
  }
  if (!own) {
    if (const auto reader = readBy_.find(path); reader != readBy_.end()) {
      std::optional<Covering> theirs = commandOfInput(reader->second);
      if (theirs && theirs->command) return std::move(*theirs);
    }
  }
  Covering alone;
  if (own) alone.unusable = std::move(own->unusable);
  alone.settings.input = path;
  alone.settings.macros = defaultMacros_;
  if (!setup_.sourceDateEpoch.empty()) {
    Expected<std::time_t> time = parseSourceDateEpoch(setup_.sourceDateEpoch);
    if (time) alone.settings.fixedTime = *time;
  }
  return alone;
}

const Analysis& Workspace::keep(std::unique_ptr<Analysis> analysis, const Covering& covering) {
  if (covering.command) {
    analysis->commandOutput = covering.command->output;
    analysis->commandNumber = covering.number;
    analysis->commandCount = covering.of;
  }
  const Analysis& kept = *analysis;
  if (kept.fromCommand) {
    for (const std::string& file : kept.loadedFiles)
      readBy_.try_emplace(file, kept.input);
  }
  analyses_[kept.input] = std::move(analysis);
  return kept;
}

const Analysis& Workspace::run(const std::string& path) {
  Covering covering = commandFor(path);
  std::unique_ptr<Analysis> analysis = analyze(
      setup_, covering.settings, covering.command != nullptr,
      [this](const std::string& p) { return openText(p); }, interruptions_);
  if (covering.unusable) {
    // The build's command for this file cannot be run here (a macros file that cannot be read):
    // the file was run on its own, and the document says so at its start.
    Diagnostic& note = analysis->diagnostics.emplace_back(std::move(*covering.unusable));
    note.severity = Severity::Warning;
    note.message = "the build's command for this file is not used: " + note.message;
    if (note.systemError != 0) note.message += std::string(": ") + std::strerror(note.systemError);
    note.locations = {};
  }
  return keep(std::move(analysis), covering);
}

Workspace::Choice Workspace::choices(const std::string& path) {
  refreshDatabase();
  Choice choice;
  choice.input = path;
  // The run that covers the file: by a command for it, else for the input whose run reads it.
  const Covering covering = commandFor(path);
  if (const auto reader = readBy_.find(path); commandsOf(path).empty() && reader != readBy_.end()) {
    choice.input = reader->second;
  }
  choice.commands = commandsOf(choice.input);
  if (covering.command) choice.used = covering.number - 1;
  return choice;
}

bool Workspace::choose(const std::string& input, const std::string& output) {
  const std::string wanted = rooted(output);
  for (const Command* command : commandsOf(input)) {
    if (command->output == wanted) {
      chosen_[input] = wanted;
      return true;
    }
  }
  return false;
}

std::string Workspace::trace(const std::string& path) {
  const Covering covering = commandFor(path);
  return traceRun(
      setup_, covering.settings, covering.command != nullptr,
      [this](const std::string& p) { return openText(p); }, interruptions_);
}

GraphRun Workspace::graph(const std::string& path) {
  const Covering covering = commandFor(path);
  return graphRun(
      setup_, covering.settings, covering.command != nullptr,
      [this](const std::string& p) { return openText(p); }, interruptions_);
}

const Analysis* Workspace::latestFor(const std::string& path) const {
  if (const auto own = analyses_.find(path); own != analyses_.end()) return own->second.get();
  if (const auto reader = readBy_.find(path); reader != readBy_.end()) {
    if (const auto it = analyses_.find(reader->second); it != analyses_.end()) {
      return it->second.get();
    }
  }
  for (const auto& [input, analysis] : analyses_) {
    if (analysis->texts.contains(path)) return analysis.get();
  }
  return nullptr;
}

std::optional<std::string_view> Workspace::openText(const std::string& path) const {
  const auto uri = openPaths_.find(path);
  if (uri == openPaths_.end()) return std::nullopt;
  const auto document = documents_.find(uri->second);
  if (document == documents_.end()) return std::nullopt;
  return document->second.text();
}

void Workspace::open(const std::string& uri, std::string text, std::int64_t version) {
  documents_.insert_or_assign(uri, TextDocument(std::move(text), version));
  if (const std::optional<std::string> path = pathOfUri(uri)) openPaths_[*path] = uri;
}

bool Workspace::close(const std::string& uri) {
  if (documents_.erase(uri) == 0) return false;
  if (const std::optional<std::string> path = pathOfUri(uri)) {
    openPaths_.erase(*path);
    // A file run on its own is forgotten with its document.
    const auto analysis = analyses_.find(*path);
    if (analysis != analyses_.end() && !analysis->second->fromCommand) analyses_.erase(analysis);
  }
  return true;
}

TextDocument* Workspace::document(const std::string& uri) {
  const auto it = documents_.find(uri);
  return it == documents_.end() ? nullptr : &it->second;
}

std::string Workspace::uriOf(const std::string& path) const {
  const auto open = openPaths_.find(path);
  return open != openPaths_.end() ? open->second : uriOfPath(path);
}
