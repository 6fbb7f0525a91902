#include "driver/Driver.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Options.h"
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

// Prints a failure: its message, and with --locations (or for a strict check) where it happened.
void printFailure(const Failure& failure, const Options& options) {
  std::fprintf(stderr, "%s\n", failure.message.c_str());
  if (!options.locations && !failure.alwaysLocate) return;
  for (const std::string& line : failure.locations)
    std::fprintf(stderr, "  %s\n", line.c_str());
}

// Strict mode's checks of the arguments: what is almost always a mistake, such as macros given
// as separate arguments (one would become the DOCTYPE, the others be ignored).
std::optional<std::string> strictArgumentError(const std::vector<std::string_view>& args) {
  if (args.size() > 4) {
    return "xmlpp: " + std::to_string(args.size()) +
           " arguments after the options; at most 4: <infile> <outfile> [macros] [doctype]";
  }
  if (args.size() == 4 && args[3].find('=') != std::string_view::npos) {
    return "xmlpp: the doctype " + std::string(args[3]) +
           " looks like a macro; the macro list is one argument, items separated by \";\"";
  }
  return std::nullopt;
}

}  // namespace

int runXmlpp(int argc, char** argv) {
  const char* invocationName = argc > 0 && argv[0] ? argv[0] : "xmlpp";
  // The installation directory is worked out before the arguments are looked at, as the tool
  // always did; it gives the value of $(ZuruvaDez).
  const std::string zuruvaDez = installDirectory(executablePath(invocationName));
  const Options options = parseOptions(argc, argv);
  if (!options.error.empty()) {
    std::fprintf(stderr, "%s\n", options.error.c_str());
    return 1;
  }
  if (options.help) return printText(helpText());
  if (options.version) return printText(versionText());
  const std::vector<std::string_view>& args = options.arguments;
  if (args.size() < 2) {
    std::fprintf(stderr, "%s: <infile> <outfile> [macro1=value;macro2=value;..]\n", invocationName);
    return 1;
  }
  if (options.strict) {
    if (const std::optional<std::string> error = strictArgumentError(args)) {
      std::fprintf(stderr, "%s\n", error->c_str());
      return 1;
    }
  }
  // SOURCE_DATE_EPOCH fixes the time of the date and time macros; unset or empty, the clock.
  std::optional<std::time_t> fixedTime;
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
    fixedTime = parseSourceDateEpoch(epoch);
    if (!fixedTime) {
      std::fprintf(stderr, "%s\n", sourceDateEpochError().c_str());
      return 1;
    }
  }
  const std::string input(args[0]);
  const std::string output(args[1]);
  Preprocessor preprocessor{MacroEnvironment(zuruvaDez, fixedTime), options.strict};
  if (const auto failure = preprocessor.run(input, args.size() > 2 ? args[2] : "")) {
    printFailure(*failure, options);
    return 1;
  }
  XMLDocument& document = preprocessor.document();
  // Exactly four arguments: the fourth names the output's DOCTYPE.
  if (args.size() == 4) document.doctype = document.duplicateString(args[3]);
  // XMLPP_DEPFILE: opened before the output is written, completed after it.
  DepFile depFile(std::getenv("XMLPP_DEPFILE"));
  if (!depFile.open(output, preprocessor.loadedFiles())) {
    std::fprintf(stderr, "%s\n", depFile.errorText().c_str());
    return 1;
  }
  if (!document.save(output, {.utf8 = options.utf8})) {
    std::fprintf(stderr, "%s\n", document.errorText.c_str());
    return 1;
  }
  if (!depFile.commit()) {
    std::fprintf(stderr, "%s\n", depFile.errorText().c_str());
    return 1;
  }
  return 0;
}
