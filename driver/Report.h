#pragma once

// How the driver prints a diagnostic on standard error, in the format --diagnostics chose.

#include "CheckOptions.h"
#include "diagnostics/Diagnostic.h"

// Prints `diagnostic`. The text form prints a failure's locations only with `withLocations`
// (--locations), a check's always; the gnu form always prints them.
void printDiagnostic(const Diagnostic& diagnostic, DiagnosticFormat format, bool withLocations);
