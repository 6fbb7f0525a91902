// Kept text (--keep-text) in the walk: an element's text is expanded when the element is kept,
// and the text of a directive, whose content takes its place among elements, is dropped.

#include "Walk.h"

Failure Walk::expandText(XMLElement* element, std::size_t frame) {
  bool empty = true;
  for (XMLNode* node = element->firstChild; node; node = node->next) {
    auto* piece = static_cast<XMLText*>(node);
    if (MacroEnvironment::hasReferences(piece->text())) {
      const std::optional<std::string_view> value = env_.expand(
          macros_, piece->text(), false, buffer_, collectUnresolved_ ? &reference_ : nullptr);
      if (!value) return tooLong(*element, {}, element, frame);
      if (value->data() != piece->text().data()) piece->setText(doc_.duplicateString(*value));
      if (!reference_.empty()) {
        if (Failure failure = findings_.report(Check::UnresolvedMacro,
                                               "unresolved " + reference_ + " in the text of <" +
                                                   std::string(element->name()) + ">",
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

Failure Walk::dropText(XMLElement* holder, std::size_t frame, std::string_view why) {
  holder->firstChild = nullptr;
  return findings_.report(Check::MixedText,
                          "the text directly inside <" + std::string(holder->name()) +
                              "> is dropped: " + std::string(why),
                          locate(holder, frame));
}

Walk::Decision Walk::decideWithText(Step& step, Decision (Walk::*handler)(Step&)) {
  // The directive decides on its element without the text; one it keeps as an ordinary element
  // keeps its text too.
  XMLElement* element = step.element;
  XMLNode* text = element->firstChild;
  element->firstChild = nullptr;
  Decision decision = (this->*handler)(step);
  if (!decision) return decision;
  if (decision->kind == Outcome::Kind::Keep) {
    element->firstChild = text;
  } else if (Failure failure = dropText(element, step.frame, kDirectiveContent)) {
    return std::move(*failure);
  }
  return decision;
}
