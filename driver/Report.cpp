#include "Report.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "Sarif.h"
#include "files/ByteSink.h"

namespace {

// The text form: the message ("xmlpp: warning: MESSAGE [NAME]" for a warning, "xmlpp: MESSAGE"
// for a check's error), "  note: REASON" where a system call failed, then "  at FILE:LINE" and
// the include and xmlput lines.
void printText(const Diagnostic& diagnostic, bool withLocations) {
  const bool check = !diagnostic.check.empty();
  if (diagnostic.severity == Severity::Warning) {
    std::fprintf(stderr, "xmlpp: warning: %s [%.*s]\n", diagnostic.message.c_str(),
                 static_cast<int>(diagnostic.check.size()), diagnostic.check.data());
  } else {
    std::fprintf(stderr, "%s%s\n", check ? "xmlpp: " : "", diagnostic.message.c_str());
  }
  if (diagnostic.systemError != 0)
    std::fprintf(stderr, "  note: %s\n", std::strerror(diagnostic.systemError));
  if (!withLocations && !check) return;
  const std::size_t shown = shownPlaces(diagnostic.locations.size());
  for (std::size_t i = 0; i < shown; ++i) {
    const SourceLocation& at = diagnostic.locations[i];
    const std::string_view role = roleText(at.role);
    std::fprintf(stderr, "  %.*s %s:%d\n", static_cast<int>(role.size()), role.data(),
                 at.file.c_str(), at.line + 1);
  }
  if (diagnostic.locations.size() > shown)
    std::fprintf(stderr, "  %zu more places not shown\n", diagnostic.locations.size() - shown);
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
  const std::size_t shown = shownPlaces(diagnostic.locations.size());
  for (std::size_t i = 1; i < shown; ++i) {
    const SourceLocation& at = diagnostic.locations[i];
    const std::string_view role = roleText(at.role);
    std::fprintf(stderr, "%snote: %.*s here\n", place(at).c_str(), static_cast<int>(role.size()),
                 role.data());
  }
  if (diagnostic.locations.size() > shown) {
    std::fprintf(stderr, "%snote: %zu more places not shown\n",
                 place(diagnostic.locations[shown - 1]).c_str(),
                 diagnostic.locations.size() - shown);
  }
  // Each fix as compilers print one: fix-it:"FILE":{LINE:COL-LINE:COL}:"TEXT".
  for (const FixIt& fix : diagnostic.fixes) {
    std::fprintf(stderr, "fix-it:\"%s\":{%d:%d-%d:%d}:\"%s\"\n", fix.file.c_str(), fix.line + 1,
                 fix.column, fix.line + 1, fix.endColumn, fix.text.c_str());
  }
}

// Writes the log into the run's log file (a device opened now) and finishes it.
Failure writeLogFile(WrittenFiles& files, const std::string& log) {
  OutputFile& file = files.file(WrittenRole::SarifLog);
  if (file.fd() < 0) {
    if (Failure failure = file.open(files.path(WrittenRole::SarifLog))) return failure;
  }
  ByteSink sink(file.fd(), file.path());
  sink.append(log);
  if (Failure failure = sink.flush()) return failure;
  return file.finish();
}

}  // namespace

void printDiagnostic(const Diagnostic& diagnostic, DiagnosticFormat format, bool withLocations) {
  if (format == DiagnosticFormat::Gnu) {
    printGnu(diagnostic);
  } else if (format == DiagnosticFormat::Text) {
    printText(diagnostic, withLocations);
  }
}

void Reporter::add(const Diagnostic& diagnostic, const XMLDocument* texts) {
  if (format_ != DiagnosticFormat::Sarif) {
    printDiagnostic(diagnostic, format_, withLocations_);
    return;
  }
  if (toFile_) printDiagnostic(diagnostic, DiagnosticFormat::Text, withLocations_);
  // The log keeps the columns in code points.
  Diagnostic& kept = kept_.emplace_back(diagnostic);
  for (SourceLocation& at : kept.locations) {
    const TextLines* lines = texts && at.column > 0 ? texts->linesOf(at.file) : nullptr;
    at.column = lines ? lines->codePointColumn(static_cast<std::size_t>(at.line), at.column) : 0;
  }
  // A fix whose columns cannot be given in code points is left out of the log.
  std::erase_if(kept.fixes, [&](FixIt& fix) {
    const TextLines* lines = texts ? texts->linesOf(fix.file) : nullptr;
    if (!lines) return true;
    const auto line = static_cast<std::size_t>(fix.line);
    fix.column = lines->codePointColumn(line, fix.column);
    fix.endColumn = lines->codePointColumn(line, fix.endColumn);
    return false;
  });
}

bool Reporter::finish(int status, WrittenFiles& files) {
  if (format_ != DiagnosticFormat::Sarif) return true;
  const std::string log = sarifLog(kept_, status);
  if (!toFile_) return std::fputs(log.c_str(), stderr) >= 0 && std::fflush(stderr) == 0;
  // After a clash nothing is written: the log's file may be one the run reads.
  if (files.clashed()) return true;
  if (Failure failure = writeLogFile(files, log)) {
    files.file(WrittenRole::SarifLog).discard();
    printDiagnostic(*failure, DiagnosticFormat::Text, false);
    return false;
  }
  return true;
}
