#include "driver/Driver.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Fix.h"
#include "Help.h"
#include "Report.h"
#include "driver/DepFile.h"
#include "driver/InstallDirectory.h"
#include "files/ByteSink.h"
#include "files/WrittenFiles.h"
#include "lsp/LanguageServer.h"
#include "xmlpp/Graph.h"
#include "xmlpp/Invocation.h"
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

// The dependency file to write: -MF's, the output's name with ".d" (-MD), or XMLPP_DEPFILE's;
// empty for none. With -M and without -MF the rule goes to standard output instead.
Expected<std::string> depFilePath(const Options& options, const std::string& output) {
  if (options.depFile) return std::string(*options.depFile);
  if (options.depsOnly) return std::string();
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

// The other files the run writes, declared before anything is read.
Failure declareWrittenFiles(const Options& options, const std::string& output,
                            const std::string& depFile, WrittenFiles& files) {
  if (!options.depsOnly) {
    if (Failure failure = files.declare(WrittenRole::Output, output)) return failure;
  }
  if (!depFile.empty()) {
    if (Failure failure = files.declare(WrittenRole::DependencyFile, depFile)) return failure;
  }
  if (options.graph) {
    if (options.graph->empty()) return Diagnostic::failure("xmlpp: --graph needs a file name");
    if (Failure failure = files.declare(WrittenRole::Graph, std::string(*options.graph))) {
      return failure;
    }
  }
  if (options.traceOutput && !options.traceOutput->empty()) {
    if (Failure failure =
            files.declare(WrittenRole::TraceFile, std::string(*options.traceOutput))) {
      return failure;
    }
  }
  return std::nullopt;
}

// Writes the graph of the run's set (finished, not yet in place).
Failure writeGraph(const RunGraph& graph, WrittenFiles& files) {
  return writeWhole(files.file(WrittenRole::Graph), files.path(WrittenRole::Graph),
                    dotText(graph.nodes(), graph.edges()));
}

// The SARIF log's file, declared and opened before anything else: the log reports every failure,
// those of the command line too. Fails when it cannot be written (then there is no log).
Failure openLog(const Options& options, WrittenFiles& files) {
  if (options.checks.sarifFile.empty()) return std::nullopt;
  if (Failure failure = files.declare(WrittenRole::SarifLog, std::string(options.checks.sarifFile)))
    return failure;
  return files.open(WrittenRole::SarifLog);
}

// Where the trace goes while the run goes on: standard error, or the trace file (its temporary
// file, or memory for a device or FIFO, written once the run has its result).
class TraceOutput {
 public:
  Failure open(WrittenFiles& files) {
    if (!files.declared(WrittenRole::TraceFile)) {
      sink_ = std::make_unique<ByteSink>(STDERR_FILENO);
      return std::nullopt;
    }
    if (Failure failure = files.open(WrittenRole::TraceFile)) return refused(files, *failure);
    const OutputFile& file = files.file(WrittenRole::TraceFile);
    sink_ = file.fd() >= 0 ? std::make_unique<ByteSink>(file.fd(), file.path())
                           : std::make_unique<ByteSink>();
    return std::nullopt;
  }
  ByteSink& sink() { return *sink_; }
  // Completes the trace: standard error flushed (what fails there is not reported, as for the
  // diagnostics), the temporary file finished, or what memory holds written to the device.
  Failure finish(WrittenFiles& files) {
    if (!files.declared(WrittenRole::TraceFile)) {
      sink_->flush();
      return std::nullopt;
    }
    OutputFile& file = files.file(WrittenRole::TraceFile);
    Failure failure;
    if (file.fd() < 0) {
      failure = file.open(files.path(WrittenRole::TraceFile));
      if (!failure) {
        ByteSink device(file.fd(), file.path());
        device.append(sink_->contents());
        failure = device.flush();
      }
    } else {
      failure = sink_->flush();
    }
    if (!failure) failure = file.finish();
    if (!failure) return std::nullopt;
    file.discard();
    return refused(files, *failure);
  }

 private:
  static Diagnostic refused(const WrittenFiles& files, const Diagnostic& failure) {
    return Diagnostic::failure("xmlpp: couldn't write the trace to " +
                               files.path(WrittenRole::TraceFile) + ": " +
                               std::strerror(failure.systemError));
  }
  std::unique_ptr<ByteSink> sink_;
};

// A failure to write the dependency file names the option that named the file: "couldn't write
// deps/a.d (-MF)". Other failures pass unchanged.
Failure namingDepFileOption(Failure failure, const Options& options, const WrittenFiles& files) {
  if (failure && files.declared(WrittenRole::DependencyFile) &&
      failure->message == "couldn't write " + files.path(WrittenRole::DependencyFile)) {
    failure->message += options.depFile      ? " (-MF)"
                        : options.depsBeside ? " (-MD)"
                                             : " (XMLPP_DEPFILE)";
  }
  return failure;
}

// Writes the dependency file of the run's set (finished, not yet in place).
Failure writeDepFile(const Options& options, const std::string& output,
                     const std::vector<std::string>& dependencies, WrittenFiles& files) {
  const std::string& path = files.path(WrittenRole::DependencyFile);
  const std::string_view ruleTarget = options.depTarget ? *options.depTarget : std::string_view();
  Expected<std::string> text = depFileText(path, output, dependencies, ruleTarget);
  Failure failure = text ? writeWhole(files.file(WrittenRole::DependencyFile), path, *text)
                         : Failure(std::move(text.error()));
  return namingDepFileOption(std::move(failure), options, files);
}

// -M: the rule alone, in -MF's file or on standard output; no output is written.
Failure writeRuleOnly(const Options& options, const std::string& output,
                      const std::vector<std::string>& dependencies, WrittenFiles& files) {
  const std::string_view target = options.depTarget ? *options.depTarget : output;
  if (options.depFile) return writeDepFile(options, output, dependencies, files);
  if (target == "-") {
    return Diagnostic::failure(options.depTarget
                                   ? "couldn't write -: -MT's target - is standard output"
                                   : "couldn't write -: the output is standard output");
  }
  Expected<std::string> rule = depFileRule(target, dependencies, options.depTarget ? "-MT" : "");
  if (!rule) return Diagnostic::failure("couldn't write -: " + rule.error().message);
  if (std::fputs(rule->c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
    return Diagnostic::failure("couldn't write -", {}, errno);
  }
  return std::nullopt;
}

// Writes the dependency file and the output (finished, not yet in place). The dependency file
// goes first: its failure then comes before a single byte of an output written directly
// (standard output, a pipe).
Failure writeResults(Preprocessor& preprocessor, const RunSettings& settings,
                     const Options& options, const RunGraph* graph, WrittenFiles& files) {
  if (graph) {
    if (Failure failure = writeGraph(*graph, files)) return failure;
  }
  // Every file the output depends on: those loaded, then the macros files.
  std::vector<std::string> dependencies = preprocessor.loadedFiles();
  dependencies.insert(dependencies.end(), settings.macrosFiles.begin(), settings.macrosFiles.end());
  if (options.depsOnly) return writeRuleOnly(options, settings.output, dependencies, files);
  if (files.declared(WrittenRole::DependencyFile)) {
    if (Failure failure = writeDepFile(options, settings.output, dependencies, files)) {
      return failure;
    }
  }
  return preprocessor.writeOutput(OutputTarget{
      files.file(WrittenRole::Output), settings.output, settings.doctype, {.utf8 = settings.utf8}});
}

// Loads, walks and writes; returns the exit status. The trace is completed whatever the run's
// result (before the diagnostics, which follow it on standard error), the output and the
// dependency file only on success.
int preprocess(const Options& options, const RunSettings& settings, const std::string& zuruvaDez,
               Reporter& reporter, WrittenFiles& files) {
  Preprocessor preprocessor{MacroEnvironment(zuruvaDez, settings.fixedTime), settings.checks};
  preprocessor.setIncludeDirs(settings.includeDirs);
  preprocessor.setMacroSources(&settings.macroSources);
  preprocessor.setWrittenFiles(&files);
  preprocessor.document().keepText = settings.keepText;
  preprocessor.document().utf8References = settings.utf8;
  TraceOutput traceOutput;
  std::optional<Trace> trace;
  if (settings.trace) {
    if (Failure failure = traceOutput.open(files)) return reporter.add(*failure), 1;
    trace.emplace(preprocessor.document(), traceOutput.sink(), settings.traceFilter);
  }
  const OutputTarget target{
      files.file(WrittenRole::Output), settings.output, settings.doctype, {.utf8 = settings.utf8}};
  std::optional<RunGraph> graph;
  if (files.declared(WrittenRole::Graph)) graph.emplace(preprocessor.document(), settings);
  std::optional<BothListeners> both;
  if (trace && graph) both.emplace(*trace, *graph);
  WalkListener* listener = both    ? static_cast<WalkListener*>(&*both)
                           : trace ? static_cast<WalkListener*>(&*trace)
                           : graph ? static_cast<WalkListener*>(&*graph)
                                   : nullptr;
  Failure failure = options.depsOnly
                        ? preprocessor.run(settings.input, settings.macros, listener)
                        : preprocessor.runFor(settings.input, settings.macros, target, listener);
  if (trace) {
    if (Failure traceFailure = traceOutput.finish(files)) return reporter.add(*traceFailure), 1;
  }
  const XMLDocument* texts = &preprocessor.document();
  for (const Diagnostic& warning : preprocessor.warnings())
    reporter.add(warning, texts);
  // Writing the output may find something more (utf8-as-references).
  const std::size_t told = preprocessor.warnings().size();
  if (!failure) {
    failure = writeResults(preprocessor, settings, options, graph ? &*graph : nullptr, files);
  }
  for (std::size_t i = told; i < preprocessor.warnings().size(); ++i)
    reporter.add(preprocessor.warnings()[i], texts);
  if (options.fix) {
    // A run that failed still repairs what it found for certain before it stopped (a misspelled
    // attribute can be why a directive misses a required one), the failing finding too.
    std::vector<Diagnostic> found = preprocessor.warnings();
    if (failure) found.push_back(*failure);
    Failure fixed = fixFiles(found, settings.input, settings.includeDirs, options.fixDiff);
    if (fixed && failure) reporter.add(*fixed, texts);
    if (!failure) failure = std::move(fixed);
  }
  if (!failure) return 0;
  reporter.add(*failure, texts);
  return 1;
}

// The run once the options are read: declares the files it writes, reads its settings, then
// loads, walks and writes; returns the exit status.
int run(const Options& options, const std::string& zuruvaDez, const char* invocationName,
        Reporter& reporter, WrittenFiles& files) {
  if (Failure failure = openLog(options, files)) {
    reporter.withoutLog();
    return reporter.add(*failure), 1;
  }
  const std::vector<std::string_view> args = positionals(options);
  if (args.size() < 2) {
    reporter.add(Diagnostic::failure(std::string(invocationName) +
                                     ": <infile> <outfile> [macro1=value;macro2=value;..]"));
    return 1;
  }
  const CheckSettings checks = options.checks.settings(options.strict);
  std::vector<Diagnostic> argumentWarnings;
  Findings findings(checks, argumentWarnings);
  if (checks.any()) {
    if (const Failure failure = checkArguments(findings, args)) return reporter.add(*failure), 1;
  }
  for (const Diagnostic& warning : argumentWarnings)
    reporter.add(warning);
  const std::string output(args[1]);
  Expected<std::string> depFile = depFilePath(options, output);
  if (!depFile) return reporter.add(depFile.error()), 1;
  if (Failure failure = declareWrittenFiles(options, output, *depFile, files)) {
    return reporter.add(*failure), 1;
  }
  if (Failure clash = files.checkRead("the input", std::string(args[0]))) {
    return reporter.add(*clash), 1;
  }
  Expected<RunSettings> settings = runSettings(
      options, "", std::getenv("SOURCE_DATE_EPOCH"),
      [&](std::string_view role, const std::string& path) { return files.checkRead(role, path); });
  if (!settings) return reporter.add(settings.error()), 1;
  return preprocess(options, *settings, zuruvaDez, reporter, files);
}

// --lsp: the language server, until the client ends it.
int serveLanguageServer(const std::string& zuruvaDez) {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch && *epoch && !parseSourceDateEpoch(epoch)) epoch = nullptr;
  return runLanguageServer(ServerSetup{zuruvaDez, epoch ? epoch : ""}, STDIN_FILENO, STDOUT_FILENO);
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
  Reporter reporter(options.checks, !options.noLocations);
  WrittenFiles files;
  int status = 1;
  try {
    status = run(options, zuruvaDez, invocationName, reporter, files);
  } catch (const std::bad_alloc&) {
    // The SARIF form reports running out of memory in its log (the run's memory is free again
    // here); the other forms leave it to main.
    if (options.checks.format != DiagnosticFormat::Sarif) throw;
    reporter.add(Diagnostic::failure("xmlpp: out of memory"));
  } catch (const std::length_error&) {
    if (options.checks.format != DiagnosticFormat::Sarif) throw;
    reporter.add(Diagnostic::failure("xmlpp: out of memory"));
  }
  // The SARIF log is complete before anything is put in place: a log that cannot be written
  // leaves the output and the dependency file as they were.
  const bool logged = reporter.finish(status, files);
  if (Failure failure = namingDepFileOption(files.replace(status == 0 && logged), options, files)) {
    printDiagnostic(*failure, DiagnosticFormat::Text, false);
    return 1;
  }
  return logged ? status : 1;
}
