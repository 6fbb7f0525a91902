#include "ReaderChecks.h"

namespace {

std::string tag(std::string_view name) {
  return "<" + std::string(name) + ">";
}

// "0xAC": a byte in hexadecimal.
std::string hexByte(unsigned char byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[byte >> 4] + kDigits[byte & 15];
}

// What went wrong in the elements' markup.
std::string markupMessage(const XMLDocument::Repair& repair) {
  using Kind = XMLDocument::Repair::Kind;
  const std::string element = tag(repair.element);
  const std::string name(repair.name);
  switch (repair.kind) {
    case Kind::TextDropped:
      return "the text in " + element +
             " is dropped: the output holds elements, attributes and CDATA sections only";
    case Kind::MixedText:
      return "the text in " + element +
             " is dropped: it stands beside child elements or CDATA sections, and only the text "
             "of an element without them is kept";
    case Kind::OtherElementClosed:
      return "</" + name + "> closes " + element + "; did you mean </" +
             std::string(repair.element) + ">?";
    case Kind::UnquotedAttribute:
      return "the value of attribute " + name + " of " + element +
             " is not quoted, and the attribute is dropped; write " + name + "=\"...\"";
    case Kind::DuplicateAttribute:
      return "attribute " + name + " of " + element + " is given twice; the last value is kept";
    default:
      break;
  }
  return "the top-level element " + element + " is dropped: only the last top-level element, " +
         tag(repair.name) + ", is kept";
}

std::string repairMessage(const XMLDocument::Repair& repair, bool utf8) {
  using Kind = XMLDocument::Repair::Kind;
  switch (repair.kind) {
    case Kind::Unterminated:
      return "the " + std::string(repair.name) +
             " opened here never ends: the rest of the file is dropped";
    case Kind::ReferenceReduced:
      return "a character reference in " + tag(repair.element) +
             (utf8 ? " stands for no character XML allows (a surrogate, U+FFFE, U+FFFF or above "
                     "U+10FFFF)"
                   : " stands for a code above 255") +
             " and becomes the one byte " + hexByte(repair.byte);
    case Kind::ReferenceEndsValue:
      return std::string("a character reference in ") + tag(repair.element) + " gives the byte 0" +
             (repair.wide ? " (the low byte of its code)" : "") + ", which ends the value there";
    case Kind::NulByte:
      return "a NUL byte ends the text here: the rest of the file is dropped";
    case Kind::Utf16:
      return "the file starts with a UTF-16 byte-order mark; it is read as bytes, and its first "
             "NUL byte ends it: save it as UTF-8";
    default:
      return markupMessage(repair);
  }
}

Check checkOf(XMLDocument::Repair::Kind kind) {
  using Kind = XMLDocument::Repair::Kind;
  switch (kind) {
    case Kind::TextDropped:
      return Check::TextDropped;
    case Kind::MixedText:
      return Check::MixedText;
    case Kind::OtherElementClosed:
      return Check::OtherElementClosed;
    case Kind::UnquotedAttribute:
      return Check::UnquotedAttribute;
    case Kind::DuplicateAttribute:
      return Check::DuplicateAttribute;
    case Kind::SeveralRoots:
      return Check::SeveralTopLevelElements;
    case Kind::Unterminated:
      return Check::UnterminatedSection;
    case Kind::ReferenceReduced:
    case Kind::ReferenceEndsValue:
      return Check::CharacterReference;
    case Kind::NulByte:
      return Check::NulByte;
    case Kind::Utf16:
      break;
  }
  return Check::Utf16Input;
}

}  // namespace

std::uint32_t checkedRepairs(const CheckSettings& checks) {
  std::uint32_t kinds = 0;
  for (unsigned kind = 0; kind <= static_cast<unsigned>(XMLDocument::Repair::Kind::Utf16); ++kind) {
    if (checks.on(checkOf(static_cast<XMLDocument::Repair::Kind>(kind)))) kinds |= 1u << kind;
  }
  return kinds;
}

Failure reportRepairs(Findings& findings, const XMLDocument& document, const std::string& path,
                      const std::vector<SourceLocation>& chain) {
  for (const XMLDocument::Repair& repair : document.repairs) {
    std::vector<SourceLocation> locations{
        {SourceLocation::Role::At, path, document.lineAt(repair.at), document.columnAt(repair.at)}};
    locations.insert(locations.end(), chain.begin(), chain.end());
    if (Failure failure =
            findings.report(checkOf(repair.kind), repairMessage(repair, document.utf8References),
                            std::move(locations))) {
      return failure;
    }
  }
  return std::nullopt;
}
