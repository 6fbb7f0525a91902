// The scope's services to the directive handlers: failures located in the walk's chain, the
// expansion of values with the scope, kept text, and the macros of a "macros" attribute.

#include "WalkScope.h"

#include "macros/MacroList.h"
#include "xml/TagText.h"
#include "xmlpp/Directives.h"

Diagnostic WalkScope::failAt(const XMLElement* element, std::size_t frame,
                             std::string message) const {
  Diagnostic failure =
      Diagnostic::failure("XmlPP::processConditionals(): " + message, locate(element, frame));
  failure.cause = std::move(message);
  return failure;
}

Diagnostic WalkScope::tooLong(const XMLElement& element, std::string_view attribute,
                              const XMLElement* at, std::size_t frame) const {
  std::string message =
      (attribute.empty() ? "the text" : "the value of attribute " + std::string(attribute)) +
      " of <" + std::string(element.name()) + "> would be longer than 16 MiB";
  // A definition's value is named by its macro.
  if (element.name() == directiveName(DirectiveId::Define) && element.hasAttribute(attr::kName)) {
    message += " (macro " + std::string(attributeText(&element, attr::kName)) + ")";
  }
  return failAt(at, frame, std::move(message));
}

WalkScope::UnresolvedCheck WalkScope::unresolvedCheck(std::string_view reference, Check plain) {
  if (!findings.on(Check::MisspelledMacro) || !reference.starts_with("$(") ||
      !reference.ends_with(")")) {
    return {plain, {}, {}};
  }
  const std::string_view name = reference.substr(2, reference.size() - 3);
  const std::string_view near = nearestName(name, macros.nearNames());
  if (near.empty()) return {plain, {}, {}};
  return {Check::MisspelledMacro, "; did you mean $(" + std::string(near) + ")?",
          std::string(near)};
}

std::vector<FixIt> WalkScope::renamingReference(const XMLElement& element,
                                                std::string_view attribute,
                                                std::string_view reference,
                                                std::string_view near) const {
  const std::optional<XMLDocument::TextPlace> place = doc.placeAt(element.name().data());
  if (!place || !place->rest.starts_with(element.name())) return {};
  std::optional<std::string_view> value;
  tagtext::forEachAttribute(
      tagtext::startTag(place->rest, 0),
      [&](std::string_view name, std::size_t, std::string_view written, std::size_t) {
        if (name == attribute) value = written;  // of several, the last is kept
      });
  std::vector<FixIt> fixes;
  if (!value) return fixes;
  for (std::size_t at = value->find(reference); at != std::string_view::npos;
       at = value->find(reference, at + reference.size())) {
    // The name between "$(" and ")".
    if (std::optional<FixIt> fix = renaming(value->substr(at + 2, reference.size() - 3), near)) {
      fix->certain = false;
      fixes.push_back(std::move(*fix));
    }
  }
  return fixes;
}

std::optional<FixIt> WalkScope::renaming(std::string_view name, std::string_view text) const {
  const std::optional<XMLDocument::TextPlace> place = doc.placeAt(name.data());
  if (!place || !place->rest.starts_with(name)) return std::nullopt;
  const std::int32_t column = doc.columnAt(name.data());
  return FixIt{*place->file, doc.lineAt(name.data()), column,
               column + static_cast<std::int32_t>(name.size()), std::string(text)};
}

std::vector<FixIt> WalkScope::renamingElement(const XMLElement& element,
                                              std::string_view text) const {
  const std::string_view name = element.name();
  std::optional<FixIt> start = renaming(name, text);
  if (!start) return {};
  // The start tag, up to its ">".
  const std::string_view rest = doc.placeAt(name.data())->rest;
  const std::size_t end = tagtext::startTag(rest, 0).size();
  if (end == rest.size() || rest[end] != '>') return {};
  if (rest[end - 1] == '/') return {*start};
  if (element.firstChild) return {};
  // "<NAME ...>" followed by blanks and "</NAME>".
  std::size_t close = rest.find_first_not_of(" \t\r\n", end + 1);
  if (close == std::string_view::npos || rest.substr(close, 2) != "</" ||
      rest.substr(close + 2, name.size()) != name ||
      rest.substr(close + 2 + name.size(), 1) != ">") {
    return {};
  }
  std::optional<FixIt> finish = renaming(rest.substr(close + 2, name.size()), text);
  if (!finish) return {};
  return {*start, *finish};
}

Failure WalkScope::unresolvedFinding(const Unresolved& unresolved, const XMLElement* element,
                                     std::size_t frame) {
  auto [check, suggestion, near] = unresolvedCheck(unresolved.reference, Check::UnresolvedMacro);
  std::vector<FixIt> fixes;
  if (!near.empty()) {
    fixes = renamingReference(*element, unresolved.attribute, unresolved.reference, near);
  }
  return findings.report(check,
                         "unresolved " + unresolved.reference + " in attribute " +
                             std::string(unresolved.attribute) + " of <" +
                             std::string(element->name()) + ">" + suggestion,
                         locate(element, frame), std::move(fixes));
}

Failure WalkScope::unresolvedFindings(const Step& step) {
  for (const Unresolved& unresolved : step.unresolved) {
    if (Failure failure = unresolvedFinding(unresolved, step.element, step.frame)) return failure;
  }
  return std::nullopt;
}

template <bool kListened>
Failure WalkScope::expandAttributesAs(XMLElement* element, std::size_t frame,
                                      const std::string* file,
                                      std::vector<Unresolved>& unresolved) {
  XMLAttribute* attributes = element->attributes();
  for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
    XMLAttribute& a = attributes[i];
    if (a.isNull() || !MacroEnvironment::hasReferences(a.value())) continue;
    if constexpr (kListened) relayAt(element, file, a.name(), false);
    const std::optional<std::string_view> value =
        expandInScope<kListened>(a.value(), collectUnresolved ? &reference_ : nullptr);
    if (!value) return tooLong(*element, a.name(), element, frame);
    if (value->data() != a.value().data() && *value != a.value()) {
      a.setValue(doc.duplicateString(*value));
    }
    if (!reference_.empty()) unresolved.push_back(Unresolved{reference_, a.name()});
  }
  return std::nullopt;
}

template Failure WalkScope::expandAttributesAs<false>(XMLElement*, std::size_t, const std::string*,
                                                      std::vector<Unresolved>&);
template Failure WalkScope::expandAttributesAs<true>(XMLElement*, std::size_t, const std::string*,
                                                     std::vector<Unresolved>&);

Failure WalkScope::expandText(XMLElement* element, std::size_t frame) {
  bool empty = true;
  for (XMLNode* node = element->firstChild; node; node = node->next) {
    auto* piece = static_cast<XMLText*>(node);
    if (MacroEnvironment::hasReferences(piece->text())) {
      const std::optional<std::string_view> value = env.expand(
          macros, piece->text(), false, buffer_, collectUnresolved ? &reference_ : nullptr);
      if (!value) return tooLong(*element, {}, element, frame);
      if (value->data() != piece->text().data()) piece->setText(doc.duplicateString(*value));
      if (!reference_.empty()) {
        auto [check, suggestion, near] = unresolvedCheck(reference_, Check::UnresolvedMacro);
        if (Failure failure = findings.report(check,
                                              "unresolved " + reference_ + " in the text of <" +
                                                  std::string(element->name()) + ">" + suggestion,
                                              locate(element, frame))) {
          return failure;
        }
      }
    }
    empty = empty && piece->text().empty();
  }
  // A text that expands to nothing leaves an element without content.
  if (empty) element->firstChild = nullptr;
  return std::nullopt;
}

Failure WalkScope::dropText(XMLElement* holder, std::size_t frame, std::string_view why) {
  holder->firstChild = nullptr;
  return findings.report(Check::MixedText,
                         "the text directly inside <" + std::string(holder->name()) +
                             "> is dropped: " + std::string(why),
                         locate(holder, frame));
}

void WalkScope::defineMacrosAttribute(const XMLElement* directive, const std::string* file) {
  if (!directive->hasAttribute(attr::kMacros)) return;
  const MacroOrigin origin{MacroOrigin::Kind::MacrosAttribute, file, directive->name().data()};
  for (const auto& [name, value] :
       parseMacroList(withoutLineFeeds(attributeText(directive, attr::kMacros)))) {
    macros.set(name, value, origin);
    if (listener) {
      listener->define(DefineEvent{{directive, file}, name, value, attr::kMacros, true, origin});
    }
  }
}

std::string endsInsideMessage(const std::string& path, const XMLDocument::OpenElement& open) {
  return path + " ends inside <" + std::string(open.name) + ">, opened on line " +
         std::to_string(open.line + 1);
}

std::string withoutLineFeeds(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t lineFeed; (lineFeed = text.find('\n')) != std::string_view::npos;) {
    result.append(text.substr(0, lineFeed));
    text.remove_prefix(lineFeed + 1);
  }
  return result.append(text);
}

std::string_view formatUpperHex(std::uint32_t value, char (&buffer)[10]) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char* p = buffer + sizeof buffer;
  do {
    *--p = kDigits[value & 15];
    value >>= 4;
  } while (value);
  *--p = 'x';
  *--p = '0';
  return std::string_view(p, static_cast<std::size_t>(buffer + sizeof buffer - p));
}
