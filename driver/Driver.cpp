#include "driver/Driver.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "driver/DepFile.h"
#include "driver/InstallDirectory.h"
#include "macros/MacroEnvironment.h"
#include "xmlpp/Preprocessor.h"
#include "xmlpp/XMLPP2.h"

namespace {

// The tool's document: a preprocessing failure prints its message and ends the run, so no output
// file is written.
class MyXMLPP2 : public XMLPP2 {
 public:
  using XMLPP2::XMLPP2;
  void reportError(const std::string& message) override {
    std::fprintf(stderr, "%s\n", message.c_str());
    std::exit(1);
  }
};

}  // namespace

int runXmlpp(int argc, char** argv) {
  const char* invocationName = argc > 0 && argv[0] ? argv[0] : "xmlpp";
  auto environment = std::make_unique<MacroEnvironment>();
  setMacroEnvironment(environment.get());
  Directories directories = setupDirectories(executablePath(invocationName), 1);
  if (argc < 3) {
    std::fprintf(stderr, "%s: <infile> <outfile> [macro1=value;macro2=value;..]\n", invocationName);
    return 1;
  }
  environment->setMacro("ZuruvaDez", installDirectoryMacroValue(directories), "");

  MyXMLPP2 document(false);
  std::string macroList = argc > 3 ? argv[3] : "";
  if (!preprocessFile(document, argv[1], macroList, true)) {
    std::fprintf(stderr, "load error %s at %d\n", document.errorText.c_str(),
                 static_cast<int>(document.errorLine));
    return 1;
  }
  if (argc == 5) document.doctype = document.duplicateString(argv[4]);
  // XMLPP_DEPFILE: opened before the output is written, completed after it.
  DepFile depFile(std::getenv("XMLPP_DEPFILE"));
  if (!depFile.open(argv[2], document.loadedFiles)) {
    std::fprintf(stderr, "%s\n", depFile.errorText().c_str());
    return 1;
  }
  if (!document.save(argv[2], 2, 0)) {
    std::fprintf(stderr, "%s\n", document.errorText.c_str());
    return 1;
  }
  if (!depFile.commit()) {
    std::fprintf(stderr, "%s\n", depFile.errorText().c_str());
    return 1;
  }
  setMacroEnvironment(nullptr);
  return 0;
}
