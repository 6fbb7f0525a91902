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
  Preprocessor preprocessor{MacroEnvironment(zuruvaDez, fixedTime)};
  if (const auto failure = preprocessor.run(input, args.size() > 2 ? args[2] : "")) {
    std::fprintf(stderr, "%s\n", failure->message.c_str());
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
