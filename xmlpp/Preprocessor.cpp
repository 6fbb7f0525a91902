// The run object: a load, the checks of what was loaded, and the walk.

#include "ReaderChecks.h"
#include "Walk.h"
#include "macros/MacroList.h"
#include "xmlpp/Preprocessor.h"

namespace {

SourceLocation at(SourceLocation::Role role, const std::string& file, std::int32_t line) {
  return SourceLocation{role, file, line, 0};
}

// The checks of a file just loaded into `document`: it should hold an element and close every
// element it opens.
Failure loadChecks(Findings& findings, const XMLDocument& document, const std::string& path) {
  if (document.unclosed) {
    if (Failure failure =
            findings.report(Check::UnclosedElement, endsInsideMessage(path, *document.unclosed),
                            {at(SourceLocation::Role::At, path, document.unclosed->line)})) {
      return failure;
    }
  }
  if (!document.root) return findings.report(Check::NoElement, path + " holds no element", {});
  return std::nullopt;
}

}  // namespace

Failure Preprocessor::run(const std::string& fileName, std::string_view macroList,
                          WalkListener* listener) {
  return run(fileName, parseMacroList(macroList), listener);
}

Failure Preprocessor::run(const std::string& fileName, const MacroMap& macros,
                          WalkListener* listener, RunOutput* output) {
  document_.recordRepairs = checks_.any();
  if (listener || checks_.any() || document_.keepText) output = nullptr;  // they need the tree
  if (Failure failure = document_.load(fileName, LoadRole::Input, output)) return failure;
  Findings findings(checks_, warnings_);
  if (findings.any()) {
    if (Failure failure = reportRepairs(findings, document_, fileName, {})) return failure;
    if (Failure failure = loadChecks(findings, document_, fileName)) return failure;
  }
  Walk walk(document_, environment_, loadedFiles_, includeDirs_, findings, listener, output);
  return walk.run(fileName, macros);
}

bool Preprocessor::keepsAsRead(const XMLElement& element) {
  if (Walk::walkedDirective(element.name())) return false;
  for (std::uint32_t i = 0; i < element.attributeCount(); ++i) {
    const XMLAttribute& a = element.attributes()[i];
    if (!a.isNull() && MacroEnvironment::hasReferences(a.value())) return false;
  }
  return true;
}

