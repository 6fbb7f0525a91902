#pragma once

// How the driver reports diagnostics, in the format --diagnostics chose.

#include <string>
#include <vector>

#include "CheckOptions.h"
#include "diagnostics/Diagnostic.h"
#include "files/OutputFile.h"

// Prints `diagnostic` on standard error. The text form prints a failure's locations only with
// `withLocations` (--locations), a check's always; the gnu form always prints them. The SARIF
// form prints nothing here: see Reporter.
void printDiagnostic(const Diagnostic& diagnostic, DiagnosticFormat format, bool withLocations);

// The message as the gnu and SARIF forms give it: what failed in its own words (without the
// "xmlpp: " of the text form) and the system's reason, without the check name.
std::string messageText(const Diagnostic& diagnostic);

// The diagnostics of one run. The text and gnu forms print each as it comes; the SARIF form
// keeps them for the one log `finish` writes: on standard error, where nothing else is printed,
// or to --diagnostics=sarif:FILE, while standard error gets the text form.
class Reporter {
 public:
  Reporter(const CheckOptions& checks, bool withLocations)
      : format_(checks.format), sarifFile_(checks.sarifFile), withLocations_(withLocations) {}

  // Opens --diagnostics=sarif:FILE (a temporary file beside it) before the run, so that a FILE
  // that cannot be written fails the run before anything else is written.
  Failure open();
  void add(const Diagnostic& diagnostic);
  // Ends the run with exit status `status`: writes the SARIF log, when there is one, and returns
  // the status of the process (1 when the log cannot be written).
  int finish(int status);

 private:
  DiagnosticFormat format_;
  std::string sarifFile_;
  bool withLocations_;
  std::vector<Diagnostic> kept_;
  OutputFile logFile_;
};
