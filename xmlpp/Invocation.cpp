#include "xmlpp/Invocation.h"

#include <deque>

#include "files/InputFile.h"
#include "macros/MacroList.h"

namespace {

// A path of a command run in `directory`.
std::string inDirectory(std::string_view path, const std::string& directory) {
  if (path.starts_with('/') || directory.empty() || path == "-") return std::string(path);
  return directory + "/" + std::string(path);
}

}  // namespace

std::vector<std::string_view> positionals(const Options& options) {
  std::vector<std::string_view> args = options.arguments;
  if (options.output && !args.empty()) args.insert(args.begin() + 1, *options.output);
  return args;
}

Expected<RunSettings> runSettings(const Options& options, const std::string& directory,
                                  const char* epoch, const ReadCheck& readCheck,
                                  std::optional<std::size_t> regularFilesUpTo) {
  const std::vector<std::string_view> args = positionals(options);
  RunSettings settings;
  settings.input = inDirectory(args.at(0), directory);
  settings.output = inDirectory(args.at(1), directory);
  if (epoch && *epoch) {
    Expected<std::time_t> time = parseSourceDateEpoch(epoch);
    if (!time) return time.error();
    settings.fixedTime = *time;
  }
  settings.macros = parseMacroList(args.size() > 2 ? args[2] : "");
  for (const std::string_view name : options.macrosFiles) {
    const std::string& path = settings.macrosFiles.emplace_back(inDirectory(name, directory));
    if (readCheck) {
      if (Failure clash = readCheck("a macros file", path)) return std::move(*clash);
    }
    const auto fromFile = [&](const std::string& defined, std::int32_t line) {
      settings.macroSources[defined] = MacroSource{MacroOrigin::Kind::MacrosFile, path, line};
    };
    if (regularFilesUpTo) {
      Expected<std::string> text = readRegularFile(path, *regularFilesUpTo);
      if (!text) return text.error();
      addMacroLines(settings.macros, *text, fromFile);
      continue;
    }
    std::deque<std::string> blocks;
    Expected<std::span<char>> text = readInputFile(
        path, [&](std::size_t size) { return blocks.emplace_back(size, '\0').data(); });
    if (!text) return text.error();
    addMacroLines(settings.macros, std::string_view(text->data(), text->size()), fromFile);
  }
  for (const std::string_view item : options.defines) {
    if (const std::optional<std::string> defined = addMacroItem(settings.macros, item))
      settings.macroSources[*defined] = MacroSource{};
  }
  for (const std::string_view dir : options.includeDirs)
    settings.includeDirs.push_back(inDirectory(dir, directory));
  if (args.size() == 4) settings.doctype = std::string(args[3]);
  if (options.doctype) settings.doctype = std::string(*options.doctype);
  settings.checks = options.checks.settings(options.strict);
  settings.utf8 = options.utf8;
  settings.keepText = options.keepText;
  settings.trace = options.trace || options.traceFile || options.traceMacro;
  if (options.traceFile) settings.traceFilter.file = std::string(*options.traceFile);
  if (options.traceMacro) settings.traceFilter.macro = std::string(*options.traceMacro);
  return settings;
}
