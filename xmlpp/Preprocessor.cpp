// The run object: a load, the checks of what was loaded, and the walk.

#include "xmlpp/Preprocessor.h"

#include <unistd.h>

#include <utility>

#include "ReaderChecks.h"
#include "StreamedOutput.h"
#include "Walk.h"
#include "macros/MacroList.h"

namespace {

SourceLocation at(SourceLocation::Role role, const std::string& file, std::int32_t line) {
  return SourceLocation{role, file, line, 0};
}

// The checks of a file just loaded into `document`: it should hold an element and close every
// element it opens. A file without an element because its first one is never closed gets the
// unclosed-element finding alone, when that check is on.
Failure loadChecks(Findings& findings, const XMLDocument& document, const std::string& path) {
  if (document.unclosed) {
    if (Failure failure =
            findings.report(Check::UnclosedElement, endsInsideMessage(path, *document.unclosed),
                            {at(SourceLocation::Role::At, path, document.unclosed->line)})) {
      return failure;
    }
  }
  if (document.root || (document.unclosed && findings.on(Check::UnclosedElement))) {
    return std::nullopt;
  }
  return findings.report(Check::NoElement, path + " holds no element", {});
}

}  // namespace

Failure Preprocessor::run(const std::string& fileName, std::string_view macroList,
                          WalkListener* listener) {
  return run(fileName, parseMacroList(macroList), listener);
}

Failure Preprocessor::run(const std::string& fileName, const MacroMap& macros,
                          WalkListener* listener, RunOutput* output) {
  XMLDocument& document = *document_;
  document.recordRepairs = checks_.any();
  document.recordedKinds = checkedRepairs(checks_);
  if (Failure failure = document.load(fileName, LoadRole::Input, output)) return failure;
  Findings findings(checks_, warnings_);
  if (findings.any()) {
    if (Failure failure = reportRepairs(findings, document, fileName, {})) return failure;
    if (Failure failure = loadChecks(findings, document, fileName)) return failure;
  }
  Walk walk(document, environment_, loadedFiles_, includeDirs_, findings, listener, output,
            writtenFiles_);
  return walk.run(fileName, macros, macroSources_);
}

bool Preprocessor::streams(const OutputTarget& target) const {
  return target.path != "-" && !document_->keepText;
}

Preprocessor::Preprocessor(MacroEnvironment environment, const CheckSettings& checks)
    : environment_(std::move(environment)), checks_(checks) {}

Preprocessor::~Preprocessor() = default;

Failure Preprocessor::runFor(const std::string& fileName, const MacroMap& macros,
                             const OutputTarget& target, WalkListener* listener) {
  if (!streams(target)) return run(fileName, macros, listener);
  streamed_ = std::make_unique<StreamedOutput>(*document_, target, checks_, &utf8Escaped_);
  if (Failure failure = run(fileName, macros, listener, streamed_.get())) return failure;
  if (!streamed_->holdsChildren() || streamed_->startStands()) return std::nullopt;
  // An include loaded after the output had begun gave the document another declaration or
  // DOCTYPE: the run is made again, on a new document, and written after the walk. The first run
  // was complete: its trace and its warnings stand, so the second has neither listener nor checks.
  streamed_.reset();
  target.file.discard();
  auto fresh = std::make_unique<XMLDocument>();
  fresh->keepText = document_->keepText;
  fresh->utf8References = document_->utf8References;
  fresh->fileSource = document_->fileSource;
  document_ = std::move(fresh);
  loadedFiles_.clear();
  const CheckSettings checks = std::exchange(checks_, CheckSettings{});
  Failure failure = run(fileName, macros, nullptr);
  checks_ = checks;
  return failure;
}

Failure Preprocessor::writeOutput(const OutputTarget& target) {
  if (Failure failure = writeRest(target)) return failure;
  Findings findings(checks_, warnings_);
  if (!utf8Escaped_ || !findings.on(Check::Utf8AsReferences)) return std::nullopt;
  return findings.report(Check::Utf8AsReferences,
                         "the output writes UTF-8 text as one character reference per byte "
                         "(&#xc3;&#xa9; for one accented letter), which XML readers read as other "
                         "characters; --utf8 writes it as it is",
                         {});
}

Failure Preprocessor::writeRest(const OutputTarget& target) {
  XMLDocument& document = *document_;
  if (streamed_ && streamed_->holdsChildren()) return streamed_->finish(*document.root);
  if (target.doctype) document.doctype = document.duplicateString(*target.doctype);
  if (Failure failure = target.path == "-" ? target.file.openDescriptor(STDOUT_FILENO, target.path)
                                           : target.file.open(target.path)) {
    return failure;
  }
  WriteOptions options = target.options;
  options.utf8Escaped = &utf8Escaped_;
  return document.writeFile(target.file, options);
}

bool Preprocessor::keepsAsRead(const XMLElement& element) {
  if (Walk::walkedDirective(element.name())) return false;
  for (std::uint32_t i = 0; i < element.attributeCount(); ++i) {
    const XMLAttribute& a = element.attributes()[i];
    if (!a.isNull() && MacroEnvironment::hasReferences(a.value())) return false;
  }
  return true;
}
