#include "driver/Driver.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Options.h"
#include "Report.h"
#include "driver/DepFile.h"
#include "driver/InstallDirectory.h"
#include "xmlpp/Preprocessor.h"

namespace {

// Prints --help or --version; fails like any output when standard output cannot take it.
int printText(const std::string& text) {
  if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
    std::fputs("couldn't write -\n", stderr);
    return 1;
  }
  return 0;
}

// Prints a diagnostic and returns the exit status it gives.
int report(const Diagnostic& diagnostic, const Options& options) {
  printDiagnostic(diagnostic, options.checks.format, options.locations);
  return 1;
}

// Prints the warnings the checks found, in order.
void printWarnings(const std::vector<Diagnostic>& warnings, const Options& options) {
  for (const Diagnostic& warning : warnings)
    printDiagnostic(warning, options.checks.format, options.locations);
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

// Writes the output and the dependency file (XMLPP_DEPFILE, opened already) so that they change
// together or not at all: both are complete before either replaces anything, and the dependency
// file goes first, so that a run ended between the two leaves an older output, which the next
// build redoes. The dependency file is written first too: its failure then comes before a single
// byte of an output written directly (standard output, a pipe).
Failure writeBoth(XMLDocument& document, const std::string& output, DepFile& depFile,
                  const Options& options) {
  OutputFile file;
  if (Failure failure =
          output == "-" ? file.openDescriptor(STDOUT_FILENO, output) : file.open(output)) {
    return failure;
  }
  if (Failure failure = depFile.finish()) return failure;
  if (Failure failure = document.writeFile(file, {.utf8 = options.utf8})) return failure;
  return replaceInOrder({&depFile.file(), &file});
}

}  // namespace

int runXmlpp(int argc, char** argv) {
  const char* invocationName = argc > 0 && argv[0] ? argv[0] : "xmlpp";
  // The installation directory is worked out before the arguments are looked at, as the tool
  // always did; it gives the value of $(ZuruvaDez).
  const std::string zuruvaDez = installDirectory(executablePath(invocationName));
  Expected<Options> parsed = parseOptions(argc, argv);
  if (!parsed) return report(parsed.error(), Options{});
  const Options& options = *parsed;
  if (options.help) return printText(helpText());
  if (options.version) return printText(versionText());
  const std::vector<std::string_view>& args = options.arguments;
  if (args.size() < 2) {
    return report(Diagnostic::failure(std::string(invocationName) +
                                      ": <infile> <outfile> [macro1=value;macro2=value;..]"),
                  options);
  }
  const CheckSettings checks = options.checks.settings(options.strict);
  std::vector<Diagnostic> argumentWarnings;
  Findings findings(checks, argumentWarnings);
  if (checks.any()) {
    if (const Failure failure = checkArguments(findings, args)) return report(*failure, options);
  }
  printWarnings(argumentWarnings, options);
  // SOURCE_DATE_EPOCH fixes the time of the date and time macros; unset or empty, the clock.
  std::optional<std::time_t> fixedTime;
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
    Expected<std::time_t> time = parseSourceDateEpoch(epoch);
    if (!time) return report(time.error(), options);
    fixedTime = *time;
  }
  const std::string input(args[0]);
  const std::string output(args[1]);
  Preprocessor preprocessor{MacroEnvironment(zuruvaDez, fixedTime), checks};
  const Failure failure = preprocessor.run(input, args.size() > 2 ? args[2] : "");
  printWarnings(preprocessor.warnings(), options);
  if (failure) return report(*failure, options);
  XMLDocument& document = preprocessor.document();
  // Exactly four arguments: the fourth names the output's DOCTYPE.
  if (args.size() == 4) document.doctype = document.duplicateString(args[3]);
  DepFile depFile(std::getenv("XMLPP_DEPFILE"));
  if (const Failure failure = depFile.open(output, preprocessor.loadedFiles())) {
    return report(*failure, options);
  }
  if (const Failure failure = writeBoth(document, output, depFile, options)) {
    return report(*failure, options);
  }
  return 0;
}
