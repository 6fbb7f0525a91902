#include "driver/Driver.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Options.h"
#include "Report.h"
#include "StreamedOutput.h"
#include "driver/DepFile.h"
#include "driver/InstallDirectory.h"
#include "files/InputFile.h"
#include "lsp/LanguageServer.h"
#include "macros/MacroList.h"
#include "xmlpp/Preprocessor.h"
#include "xmlpp/Trace.h"

namespace {

// Prints --help or --version; fails like any output when standard output cannot take it.
int printText(const std::string& text) {
  if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
    std::fputs("couldn't write -\n", stderr);
    return 1;
  }
  return 0;
}

// Reports a diagnostic and returns the exit status it gives.
int report(const Diagnostic& diagnostic, Reporter& reporter) {
  reporter.add(diagnostic);
  return 1;
}

// Reports the warnings the checks found, in order.
void reportWarnings(const std::vector<Diagnostic>& warnings, Reporter& reporter) {
  for (const Diagnostic& warning : warnings)
    reporter.add(warning);
}

// The checks of the arguments: what is almost always a mistake, such as macros given as separate
// arguments (one would become the DOCTYPE, the others be ignored).
Failure checkArguments(Findings& findings, const std::vector<std::string_view>& args) {
  if (args.size() > 4) {
    if (Failure failure = findings.report(
            Check::ExtraArguments,
            std::to_string(args.size()) +
                " arguments after the options; at most 4: <infile> <outfile> [macros] [doctype]",
            {})) {
      return failure;
    }
  }
  if (args.size() == 4 && args[3].empty()) {
    return findings.report(Check::EmptyDoctype,
                           "the doctype argument is empty: the output gets <!DOCTYPE >, which "
                           "is not well-formed XML; leave the fourth argument out",
                           {});
  }
  if (args.size() == 4 && args[3].find('=') != std::string_view::npos) {
    return findings.report(Check::DoctypeLooksLikeMacro,
                           "the doctype " + std::string(args[3]) +
                               " looks like a macro; the macro list is one argument, items "
                               "separated by \";\"",
                           {});
  }
  return std::nullopt;
}

// The positional arguments with the output of -o put in its place: infile, outfile, macro list,
// doctype. Without an input the list is empty, as it is without arguments.
std::vector<std::string_view> positionals(const Options& options) {
  std::vector<std::string_view> args = options.arguments;
  if (options.output && !args.empty()) args.insert(args.begin() + 1, *options.output);
  return args;
}

// The macros of the run: the positional list, then each macros file, then each -D, a later item
// replacing an earlier one of the same name.
Expected<MacroMap> commandLineMacros(const Options& options, std::string_view list) {
  MacroMap macros = parseMacroList(list);
  for (const std::string_view name : options.macrosFiles) {
    std::deque<std::string> blocks;
    Expected<std::span<char>> text = readInputFile(std::string(name), [&](std::size_t size) {
      return blocks.emplace_back(size, '\0').data();
    });
    if (!text) return text.error();
    addMacroLines(macros, std::string_view(text->data(), text->size()));
  }
  for (const std::string_view item : options.defines)
    addMacroItem(macros, item);
  return macros;
}

// Writes the output and the dependency file (XMLPP_DEPFILE, opened already) so that they change
// together or not at all: both are complete before either replaces anything, and the dependency
// file goes first, so that a run ended between the two leaves an older output, which the next
// build redoes. The dependency file is written first too: its failure then comes before a single
// byte of an output written directly (standard output, a pipe).
Failure writeBoth(XMLDocument& document, const std::string& output, DepFile& depFile,
                  const Options& options, StreamedOutput& streamed) {
  if (streamed.holdsChildren()) {
    if (Failure failure = depFile.finish()) return failure;
    if (Failure failure = streamed.finish(*document.root)) return failure;
    return replaceInOrder({&depFile.file(), &streamed.file()});
  }
  OutputFile file;
  if (Failure failure =
          output == "-" ? file.openDescriptor(STDOUT_FILENO, output) : file.open(output)) {
    return failure;
  }
  if (Failure failure = depFile.finish()) return failure;
  if (Failure failure = document.writeFile(file, {.utf8 = options.utf8})) return failure;
  return replaceInOrder({&depFile.file(), &file});
}

// The dependency file to write beside the output: -MF's, the output's name with ".d" (-MD), or
// XMLPP_DEPFILE's; empty for none.
Expected<std::string> depFilePath(const Options& options, const std::string& output) {
  if (options.depFile) return std::string(*options.depFile);
  if (options.depsBeside) {
    if (output == "-") {
      return Diagnostic::failure(
          "xmlpp: -MD names the dependency file after the output, which "
          "is standard output (see -MF)");
    }
    return dependencyFileName(output);
  }
  const char* path = std::getenv("XMLPP_DEPFILE");
  return std::string(path ? path : "");
}

// -M: the rule alone, in -MF's file or on standard output; no output is written.
Failure writeRuleOnly(const Options& options, const std::string& output,
                      const std::vector<std::string>& dependencies) {
  const std::string_view target = options.depTarget ? *options.depTarget : output;
  if (options.depFile) {
    DepFile depFile(std::string(*options.depFile).c_str());
    if (Failure failure = depFile.open(output, dependencies, target)) return failure;
    if (Failure failure = depFile.finish()) return failure;
    return replaceInOrder({&depFile.file()});
  }
  if (target == "-") return Diagnostic::failure("couldn't write -: the output is standard output");
  Expected<std::string> rule = depFileRule(target, dependencies);
  if (!rule) return Diagnostic::failure("couldn't write -: " + rule.error().message);
  if (std::fputs(rule->c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
    return Diagnostic::failure("couldn't write -");
  }
  return std::nullopt;
}

// Sets the DOCTYPE and writes the output and its dependency file, or with -M the rule alone.
Failure writeResults(Preprocessor& preprocessor, const Options& options,
                     const std::vector<std::string_view>& args, StreamedOutput& streamed) {
  const std::string output(args[1]);
  XMLDocument& document = preprocessor.document();
  // Exactly four arguments: the fourth names the output's DOCTYPE; --doctype names it whatever
  // the arguments.
  if (args.size() == 4) document.doctype = document.duplicateString(args[3]);
  if (options.doctype) document.doctype = document.duplicateString(*options.doctype);
  // Every file the output depends on: those loaded, then the macros files.
  std::vector<std::string> dependencies = preprocessor.loadedFiles();
  dependencies.insert(dependencies.end(), options.macrosFiles.begin(), options.macrosFiles.end());
  if (options.depsOnly) return writeRuleOnly(options, output, dependencies);
  Expected<std::string> path = depFilePath(options, output);
  if (!path) return path.error();
  DepFile depFile(path->c_str());
  const std::string_view target = options.depTarget ? *options.depTarget : std::string_view();
  if (Failure failure = depFile.open(output, dependencies, target)) return failure;
  return writeBoth(document, output, depFile, options, streamed);
}

// A path of a command run in `directory`, as the server opens it.
std::string inDirectory(std::string_view path, const std::string& directory) {
  if (path.starts_with('/') || directory.empty()) return std::string(path);
  return directory + "/" + std::string(path);
}

// A command of the database as the language server runs it: its input, macros (the macros
// files read now), include folders and doctype, every path taken in `directory`.
Expected<CommandRun> commandRun(const std::vector<std::string>& arguments,
                                const std::string& directory) {
  std::vector<const char*> argv;
  for (const std::string& argument : arguments)
    argv.push_back(argument.c_str());
  Expected<Options> parsed = parseOptions(static_cast<int>(argv.size()), argv.data());
  if (!parsed) return parsed.error();
  Options& options = *parsed;
  const std::vector<std::string_view> args = positionals(options);
  if (args.empty() || args[0] == "-") return Diagnostic::failure("the command reads no file");
  std::deque<std::string> paths;  // what the options' views point at
  for (std::string_view& file : options.macrosFiles)
    file = paths.emplace_back(inDirectory(file, directory));
  Expected<MacroMap> macros = commandLineMacros(options, args.size() > 2 ? args[2] : "");
  if (!macros) return macros.error();
  CommandRun run{
      inDirectory(args[0], directory), std::move(*macros), {}, std::nullopt, options.utf8};
  for (const std::string_view dir : options.includeDirs)
    run.includeDirs.push_back(inDirectory(dir, directory));
  if (args.size() == 4) run.doctype = std::string(args[3]);
  if (options.doctype) run.doctype = std::string(*options.doctype);
  return run;
}

// The trace of a run, as text: what --trace writes (for the language server's xmlpp/trace).
std::string traceText(Preprocessor& preprocessor, const std::string& input,
                      const MacroMap& macros) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* memory = open_memstream(&buffer, &size);
  if (!memory) throw std::bad_alloc();
  {
    Trace trace(preprocessor.document(), memory, TraceFilter{});
    preprocessor.run(input, macros, &trace);
    trace.flush();
  }
  std::fclose(memory);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

// --lsp: the language server, until the client ends it.
int serveLanguageServer(const std::string& zuruvaDez) {
  std::optional<std::time_t> fixedTime;
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
    Expected<std::time_t> time = parseSourceDateEpoch(epoch);
    if (time) fixedTime = *time;
  }
  return runLanguageServer(ServerSetup{zuruvaDez, fixedTime, &commandRun, &traceText}, STDIN_FILENO,
                           STDOUT_FILENO);
}

// The run, with its trace when one is asked for (--trace, --trace-file, --trace-macro): written
// as the walk goes, and complete up to a failure. Fails (as a value of its own) when the trace
// file cannot be opened or written.
Expected<Failure> runTraced(Preprocessor& preprocessor, const std::string& input,
                            const MacroMap& macros, const Options& options, RunOutput* output) {
  if (!options.trace && !options.traceFile && !options.traceMacro) {
    return preprocessor.run(input, macros, nullptr, output);
  }
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Closer> file;
  const std::string path(options.traceOutput.value_or(std::string_view()));
  if (!path.empty()) {
    Expected<std::FILE*> opened = openTraceFile(path);
    if (!opened) return opened.error();
    file.reset(*opened);
  }
  TraceFilter filter;
  if (options.traceFile) filter.file = std::string(*options.traceFile);
  if (options.traceMacro) filter.macro = std::string(*options.traceMacro);
  Trace trace(preprocessor.document(), file ? file.get() : stderr, std::move(filter));
  Failure failure = preprocessor.run(input, macros, &trace);
  // A trace on standard error goes where diagnostics go, which are not checked either.
  const bool written = trace.flush();
  if (file && (std::fclose(file.release()) != 0 || !written)) {
    return Diagnostic::failure("xmlpp: couldn't write the trace to " + path);
  }
  return failure;
}

// What a run is made with, besides the options and the macros.
struct RunSetting {
  const std::string& zuruvaDez;
  std::optional<std::time_t> fixedTime;
  CheckSettings checks;
};

// Loads, walks and writes; returns the exit status. With `streams`, the output is written as the
// run goes where it can be (StreamedOutput.h): not for -M, which writes no output, nor for
// standard output, which must get nothing on a failure.
int preprocess(const Options& options, const std::vector<std::string_view>& args,
               const RunSetting& setting, const MacroMap& macros, Reporter& reporter,
               bool streams) {
  const std::string input(args[0]);
  Preprocessor preprocessor{MacroEnvironment(setting.zuruvaDez, setting.fixedTime), setting.checks};
  preprocessor.setIncludeDirs({options.includeDirs.begin(), options.includeDirs.end()});
  preprocessor.document().keepText = options.keepText;
  preprocessor.document().utf8References = options.utf8;
  std::optional<std::string_view> doctype;
  if (args.size() == 4) doctype = args[3];
  if (options.doctype) doctype = *options.doctype;
  StreamedOutput streamed(preprocessor.document(), std::string(args[1]), doctype,
                          {.utf8 = options.utf8});
  Expected<Failure> traced =
      runTraced(preprocessor, input, macros, options, streams ? &streamed : nullptr);
  if (!traced) return report(traced.error(), reporter);
  const Failure& failure = *traced;
  if (!failure && streamed.holdsChildren() && !streamed.startStands()) {
    // An include loaded after the output had begun gave the document another declaration or
    // DOCTYPE: the run is made again, and written after the walk.
    return preprocess(options, args, setting, macros, reporter, false);
  }
  reportWarnings(preprocessor.warnings(), reporter);
  if (failure) return report(*failure, reporter);
  if (const Failure failure = writeResults(preprocessor, options, args, streamed)) {
    return report(*failure, reporter);
  }
  return 0;
}

// The run once the options are read: loads, walks and writes; returns the exit status.
int run(const Options& options, const std::string& zuruvaDez, const char* invocationName,
        Reporter& reporter) {
  const std::vector<std::string_view> args = positionals(options);
  if (args.size() < 2) {
    return report(Diagnostic::failure(std::string(invocationName) +
                                      ": <infile> <outfile> [macro1=value;macro2=value;..]"),
                  reporter);
  }
  const CheckSettings checks = options.checks.settings(options.strict);
  std::vector<Diagnostic> argumentWarnings;
  Findings findings(checks, argumentWarnings);
  if (checks.any()) {
    if (const Failure failure = checkArguments(findings, args)) return report(*failure, reporter);
  }
  reportWarnings(argumentWarnings, reporter);
  // SOURCE_DATE_EPOCH fixes the time of the date and time macros; unset or empty, the clock.
  std::optional<std::time_t> fixedTime;
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
    Expected<std::time_t> time = parseSourceDateEpoch(epoch);
    if (!time) return report(time.error(), reporter);
    fixedTime = *time;
  }
  Expected<MacroMap> macros = commandLineMacros(options, args.size() > 2 ? args[2] : "");
  if (!macros) return report(macros.error(), reporter);
  return preprocess(options, args, {zuruvaDez, fixedTime, checks}, *macros, reporter,
                    !options.depsOnly && args[1] != "-");
}

}  // namespace

int runXmlpp(int argc, char** argv) {
  const char* invocationName = argc > 0 && argv[0] ? argv[0] : "xmlpp";
  // The installation directory is worked out before the arguments are looked at; it gives the
  // value of $(ZuruvaDez).
  const std::string zuruvaDez = installDirectory(executablePath(invocationName));
  Expected<Options> parsed = parseOptions(argc, argv);
  // A command line that cannot be read is reported in the text form whatever it asked for: the
  // options that would choose the format and the log's file are in doubt.
  if (!parsed) {
    printDiagnostic(parsed.error(), DiagnosticFormat::Text, false);
    return 1;
  }
  const Options& options = *parsed;
  if (options.help) return printText(helpText());
  if (options.version) return printText(versionText());
  if (options.lsp) return serveLanguageServer(zuruvaDez);
  Reporter reporter(options.checks, options.locations);
  if (const Failure failure = reporter.open()) {
    printDiagnostic(*failure, DiagnosticFormat::Text, false);
    return 1;
  }
  int status = 1;
  try {
    status = run(options, zuruvaDez, invocationName, reporter);
  } catch (const std::bad_alloc&) {
    // The SARIF form reports running out of memory in its log (the run's memory is free again
    // here); the other forms leave it to main.
    if (options.checks.format != DiagnosticFormat::Sarif) throw;
    reporter.add(Diagnostic::failure("xmlpp: out of memory"));
  } catch (const std::length_error&) {
    if (options.checks.format != DiagnosticFormat::Sarif) throw;
    reporter.add(Diagnostic::failure("xmlpp: out of memory"));
  }
  return reporter.finish(status);
}
