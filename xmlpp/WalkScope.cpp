// The scope's services to the directive handlers: failures located in the walk's chain, the
// expansion of values with the scope, kept text, and the macros of a "macros" attribute.

#include "WalkScope.h"

#include "macros/MacroList.h"
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

namespace {

// The start tag whose name begins `rest` (a view into a text the document read), up to its ">"
// (the first outside a quoted value); none when it does not end.
std::optional<std::string_view> startTagAt(std::string_view rest) {
  char quote = 0;
  for (std::size_t end = 0; end < rest.size(); ++end) {
    const char c = rest[end];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return rest.substr(0, end);
    }
  }
  return std::nullopt;
}

// The value of `attribute` as written in a start tag (without its quotes), or none.
std::optional<std::string_view> writtenValue(std::string_view tag, std::string_view attribute) {
  constexpr std::string_view kBlanks = " \t\r\n";
  std::size_t at = tag.find_first_of(kBlanks);
  while (at != std::string_view::npos) {
    const std::size_t name = tag.find_first_not_of(kBlanks, at);
    if (name == std::string_view::npos) return std::nullopt;
    const std::size_t equals = tag.find('=', name);
    if (equals == std::string_view::npos) return std::nullopt;
    const std::size_t quote = tag.find_first_not_of(kBlanks, equals + 1);
    if (quote == std::string_view::npos || (tag[quote] != '"' && tag[quote] != '\'')) {
      return std::nullopt;
    }
    const std::size_t close = tag.find(tag[quote], quote + 1);
    if (close == std::string_view::npos) return std::nullopt;
    std::string_view written = tag.substr(name, equals - name);
    written = written.substr(0, written.find_last_not_of(kBlanks) + 1);
    if (written == attribute) return tag.substr(quote + 1, close - quote - 1);
    at = close + 1;
  }
  return std::nullopt;
}

}  // namespace

std::vector<FixIt> WalkScope::renamingReference(const XMLElement& element,
                                                std::string_view attribute,
                                                std::string_view reference,
                                                std::string_view near) const {
  const std::optional<XMLDocument::TextPlace> place = doc.placeAt(element.name().data());
  if (!place || !place->rest.starts_with(element.name())) return {};
  const std::optional<std::string_view> tag = startTagAt(place->rest);
  const std::optional<std::string_view> value = tag ? writtenValue(*tag, attribute) : std::nullopt;
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
  const std::string_view rest = doc.placeAt(name.data())->rest;
  const std::optional<std::string_view> tag = startTagAt(rest);
  if (!tag) return {};
  const std::size_t end = tag->size();
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
