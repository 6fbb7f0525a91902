#include "ReaderChecks.h"

namespace {

std::string tag(std::string_view name) {
  return "<" + std::string(name) + ">";
}

std::string repairMessage(const XMLDocument::Repair& repair) {
  using Kind = XMLDocument::Repair::Kind;
  const std::string element = tag(repair.element);
  const std::string name(repair.name);
  switch (repair.kind) {
    case Kind::TextDropped:
      return "the text in " + element +
             " is dropped: the output holds elements, attributes and CDATA sections only";
    case Kind::OtherElementClosed:
      return "</" + name + "> closes " + element + "; did you mean </" +
             std::string(repair.element) + ">?";
    case Kind::UnquotedAttribute:
      return "the value of attribute " + name + " of " + element +
             " is not quoted, and the attribute is dropped; write " + name + "=\"...\"";
    case Kind::DuplicateAttribute:
      return "attribute " + name + " of " + element + " is given twice; the last value is kept";
    case Kind::SeveralRoots:
      break;
  }
  return "the top-level element " + element + " is dropped: only the last top-level element, " +
         tag(repair.name) + ", is kept";
}

Check checkOf(XMLDocument::Repair::Kind kind) {
  using Kind = XMLDocument::Repair::Kind;
  switch (kind) {
    case Kind::TextDropped:
      return Check::TextDropped;
    case Kind::OtherElementClosed:
      return Check::OtherElementClosed;
    case Kind::UnquotedAttribute:
      return Check::UnquotedAttribute;
    case Kind::DuplicateAttribute:
      return Check::DuplicateAttribute;
    case Kind::SeveralRoots:
      break;
  }
  return Check::SeveralTopLevelElements;
}

}  // namespace

Failure reportRepairs(Findings& findings, const XMLDocument& document, const std::string& path,
                      const std::vector<SourceLocation>& chain) {
  for (const XMLDocument::Repair& repair : document.repairs) {
    std::vector<SourceLocation> locations{
        {SourceLocation::Role::At, path, document.lineAt(repair.at), document.columnAt(repair.at)}};
    locations.insert(locations.end(), chain.begin(), chain.end());
    if (Failure failure =
            findings.report(checkOf(repair.kind), repairMessage(repair), std::move(locations))) {
      return failure;
    }
  }
  return std::nullopt;
}
