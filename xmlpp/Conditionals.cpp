// The conditional directives: "if", "ifnot", "ifex", "ifdef", "ifndef" and "switch". A condition
// that holds replaces the directive by its processed children; one that fails removes it.

#include "Walk.h"

namespace {

bool listContains(std::string_view list, std::string_view value) {
  bool found = false;
  forEachItem(list, ',', [&](std::string_view item) { found = found || item == value; });
  return found;
}

}  // namespace

Walk::Decision Walk::decideIf(const Step& step, bool negated) {
  XMLElement* element = step.element;
  if (element->attributeCount() != 1) return fail(step, "one condition required for <if[not]>");
  const XMLAttribute& condition = element->attributes()[0];
  // The inserting lookup: an undefined name becomes defined, empty, in this scope.
  const std::string& current = macros_.findOrInsert(
      condition.name(), [&] { return originOf(step, MacroOrigin::Kind::Condition); });
  if (listContains(condition.value(), current) != negated) {
    return Outcome{Outcome::Kind::Replace, element};
  }
  return Outcome{Outcome::Kind::Remove};
}

Walk::Decision Walk::doIfex(Step& step) {
  XMLElement* element = step.element;
  std::string_view expression = attributeText(element, "expression");
  if (expression.empty()) return Outcome{Outcome::Kind::Keep};  // not a directive without one
  const std::optional<std::string_view> expanded = expand(expression);
  if (!expanded) return tooLong(*element, "expression", element, step.frame);
  if (evaluator_.truthValue(*expanded).value_or(false)) {
    return Outcome{Outcome::Kind::Replace, element};
  }
  return Outcome{Outcome::Kind::Remove};
}

Walk::Decision Walk::decideIfdef(const Step& step, bool negated) {
  const bool defined = macros_.find(attributeText(step.element, "name")) != nullptr;
  if (defined != negated) return Outcome{Outcome::Kind::Replace, step.element};
  return Outcome{Outcome::Kind::Remove};
}

Walk::Decision Walk::doSwitch(Step& step) {
  const std::string current = macros_.findOrInsert(attributeText(step.element, "name"), [&] {
    return originOf(step, MacroOrigin::Kind::Condition);
  });
  XMLElement* chosen = nullptr;
  XMLElement* fallback = nullptr;
  if (Failure failure = childrenAsCopied(step)) return std::move(*failure);
  for (XMLNode* child = step.element->firstChild; child && !chosen; child = child->next) {
    XMLElement* branch = asElement(child);
    if (!branch) continue;
    if (branch->name() == "case") {
      // Case values are compared as written: "case" elements are never walked themselves.
      if (listContains(attributeText(branch, "value"), current)) chosen = branch;
    } else if (branch->name() == "default") {
      fallback = branch;
    }
  }
  if (!chosen) chosen = fallback;
  if (chosen) return Outcome{Outcome::Kind::Replace, chosen};
  if (findings_.on(Check::NoSwitchBranch)) {
    if (Failure failure = checkSwitchBranch(step, current)) return std::move(*failure);
  }
  return Outcome{Outcome::Kind::Remove};
}
