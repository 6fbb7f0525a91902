#include "driver/Driver.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/DepFile.h"
#include "driver/InstallDirectory.h"
#include "xmlpp/Preprocessor.h"

int runXmlpp(int argc, char** argv) {
  const char* invocationName = argc > 0 && argv[0] ? argv[0] : "xmlpp";
  // The installation directory is worked out before the arguments are looked at, as the tool
  // always did; it gives the value of $(ZuruvaDez).
  const std::string zuruvaDez = installDirectory(executablePath(invocationName));
  if (argc < 3) {
    std::fprintf(stderr, "%s: <infile> <outfile> [macro1=value;macro2=value;..]\n", invocationName);
    return 1;
  }
  Preprocessor preprocessor{MacroEnvironment(zuruvaDez)};
  if (const auto failure = preprocessor.run(argv[1], argc > 3 ? argv[3] : "")) {
    std::fprintf(stderr, "%s\n", failure->message.c_str());
    return 1;
  }
  XMLDocument& document = preprocessor.document();
  // Exactly four arguments: the fourth names the output's DOCTYPE.
  if (argc == 5) document.doctype = document.duplicateString(argv[4]);
  // XMLPP_DEPFILE: opened before the output is written, completed after it.
  DepFile depFile(std::getenv("XMLPP_DEPFILE"));
  if (!depFile.open(argv[2], preprocessor.loadedFiles())) {
    std::fprintf(stderr, "%s\n", depFile.errorText().c_str());
    return 1;
  }
  if (!document.save(argv[2])) {
    std::fprintf(stderr, "%s\n", document.errorText.c_str());
    return 1;
  }
  if (!depFile.commit()) {
    std::fprintf(stderr, "%s\n", depFile.errorText().c_str());
    return 1;
  }
  return 0;
}
