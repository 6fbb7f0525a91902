#pragma once

// How the driver reports diagnostics, in the format --diagnostics chose.

#include <string>
#include <vector>

#include "diagnostics/Diagnostic.h"
#include "files/WrittenFiles.h"
#include "xml/XMLDocument.h"
#include "xmlpp/CheckOptions.h"

// Prints `diagnostic` on standard error. The text form prints a failure's locations only with
// `withLocations` (--locations), a check's always; the gnu form always prints them. The SARIF
// form prints nothing here: see Reporter.
void printDiagnostic(const Diagnostic& diagnostic, DiagnosticFormat format, bool withLocations);

// The diagnostics of one run. The text and gnu forms print each as it comes; the SARIF form
// keeps them for the one log `finish` writes: on standard error, where nothing else is printed,
// or to --diagnostics=sarif:FILE (the run's SARIF log, WrittenFiles.h), while standard error gets
// the text form.
class Reporter {
 public:
  Reporter(const CheckOptions& checks, bool withLocations)
      : format_(checks.format), toFile_(!checks.sarifFile.empty()), withLocations_(withLocations) {}

  // The log's file cannot be written: what is reported goes to standard error in the text form
  // only, and no log is written.
  void withoutLog() { format_ = DiagnosticFormat::Text; }
  // Reports `diagnostic`; `texts`, when given, is the document whose texts its locations are in
  // (the SARIF form takes the columns in code points from their line indexes).
  void add(const Diagnostic& diagnostic, const XMLDocument* texts = nullptr);
  // Ends the run with exit status `status`: writes the SARIF log, when there is one (into the
  // file of `files`, finished but not put in place), and returns false when it cannot be written.
  bool finish(int status, WrittenFiles& files);

 private:
  DiagnosticFormat format_;
  bool toFile_;
  bool withLocations_;
  std::vector<Diagnostic> kept_;
};
