#include "Report.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "Sarif.h"
#include "files/ByteSink.h"

namespace {

const char* roleText(SourceLocation::Role role) {
  switch (role) {
    case SourceLocation::Role::IncludedFrom:
      return "included from";
    case SourceLocation::Role::PutFrom:
      return "put from";
    case SourceLocation::Role::At:
      break;
  }
  return "at";
}

// The text form: the message ("xmlpp: warning: MESSAGE [NAME]" for a warning, "xmlpp: MESSAGE"
// for a check's error), then "  at FILE:LINE" and the include and xmlput lines.
void printText(const Diagnostic& diagnostic, bool withLocations) {
  const bool check = !diagnostic.check.empty();
  if (diagnostic.severity == Severity::Warning) {
    std::fprintf(stderr, "xmlpp: warning: %s [%.*s]\n", diagnostic.message.c_str(),
                 static_cast<int>(diagnostic.check.size()), diagnostic.check.data());
  } else {
    std::fprintf(stderr, "%s%s\n", check ? "xmlpp: " : "", diagnostic.message.c_str());
  }
  if (!withLocations && !check) return;
  for (const SourceLocation& at : diagnostic.locations)
    std::fprintf(stderr, "  %s %s:%d\n", roleText(at.role), at.file.c_str(), at.line + 1);
}

// "FILE:LINE:COL: " (lines and columns from 1; no column where it is not known).
std::string place(const SourceLocation& at) {
  std::string text = at.file + ":" + std::to_string(at.line + 1) + ":";
  if (at.column > 0) text += std::to_string(at.column) + ":";
  return text + " ";
}

// The gnu form: "FILE:LINE:COL: error|warning: MESSAGE [NAME]", then a note for each include
// or xmlput that led there. A diagnostic without a place starts with "xmlpp: ".
void printGnu(const Diagnostic& diagnostic) {
  std::string line = diagnostic.locations.empty() ? "xmlpp: " : place(diagnostic.locations[0]);
  line += diagnostic.severity == Severity::Warning ? "warning: " : "error: ";
  line += messageText(diagnostic);
  if (!diagnostic.check.empty()) line += " [" + std::string(diagnostic.check) + "]";
  std::fprintf(stderr, "%s\n", line.c_str());
  for (std::size_t i = 1; i < diagnostic.locations.size(); ++i) {
    const SourceLocation& at = diagnostic.locations[i];
    const char* how =
        at.role == SourceLocation::Role::PutFrom ? "put from here" : "included from here";
    std::fprintf(stderr, "%snote: %s\n", place(at).c_str(), how);
  }
}

// Writes the log to the file opened for it and puts the file in place.
Failure writeLogFile(OutputFile& file, const std::string& log) {
  ByteSink sink(file.fd());
  sink.append(log);
  if (!sink.flush()) return file.writeFailure(sink.systemError());
  if (Failure failure = file.finish()) return failure;
  return file.replace();
}

}  // namespace

std::string messageText(const Diagnostic& diagnostic) {
  std::string_view message = diagnostic.cause.empty() ? diagnostic.message : diagnostic.cause;
  if (message.starts_with("xmlpp: ")) message.remove_prefix(7);
  std::string text(message);
  if (diagnostic.systemError != 0)
    text += std::string(": ") + std::strerror(diagnostic.systemError);
  return text;
}

void printDiagnostic(const Diagnostic& diagnostic, DiagnosticFormat format, bool withLocations) {
  if (format == DiagnosticFormat::Gnu) {
    printGnu(diagnostic);
  } else if (format == DiagnosticFormat::Text) {
    printText(diagnostic, withLocations);
  }
}

Failure Reporter::open() {
  if (format_ != DiagnosticFormat::Sarif || sarifFile_.empty()) return std::nullopt;
  return logFile_.open(sarifFile_);
}

void Reporter::add(const Diagnostic& diagnostic) {
  if (format_ != DiagnosticFormat::Sarif) {
    printDiagnostic(diagnostic, format_, withLocations_);
    return;
  }
  kept_.push_back(diagnostic);
  if (!sarifFile_.empty()) printDiagnostic(diagnostic, DiagnosticFormat::Text, withLocations_);
}

int Reporter::finish(int status) {
  if (format_ != DiagnosticFormat::Sarif) return status;
  const std::string log = sarifLog(kept_, status);
  if (sarifFile_.empty()) {
    const bool written = std::fputs(log.c_str(), stderr) >= 0 && std::fflush(stderr) == 0;
    return written ? status : 1;
  }
  if (Failure failure = writeLogFile(logFile_, log)) {
    printDiagnostic(*failure, DiagnosticFormat::Text, false);
    return 1;
  }
  return status;
}
