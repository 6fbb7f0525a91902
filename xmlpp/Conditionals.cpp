// The conditional directives: "if", "ifnot", "ifex", "ifdef", "ifndef" and "switch". A condition
// that holds replaces the directive by its processed children; one that fails removes it.

#include "Walk.h"

namespace {

// A tested name that nothing defined: none was found, or only an earlier test's insertion.
bool undefinedBefore(const MacroOrigin* found) {
  return !found || found->kind == MacroOrigin::Kind::Condition;
}

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
  const MacroOrigin* found = nullptr;
  const std::string& current = macros_.findOrInsert(
      condition.name(), [&] { return originOf(step, MacroOrigin::Kind::Condition); }, found);
  if (undefinedBefore(found) && findings_.on(Check::UndefinedCondition)) {
    if (Failure failure = checkCondition(step, condition.name())) return std::move(*failure);
  }
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
  const std::optional<bool> truth = evaluator_.truthValue(*expanded);
  if (findings_.on(Check::NotEvaluated) && (!truth || evaluator_.endOfLast() != expanded->size())) {
    if (Failure failure = checkIfex(step, *expanded, truth)) return std::move(*failure);
  }
  if (truth.value_or(false)) return Outcome{Outcome::Kind::Replace, element};
  return Outcome{Outcome::Kind::Remove};
}

Walk::Decision Walk::decideIfdef(const Step& step, bool negated) {
  const bool defined = macros_.find(attributeText(step.element, "name")) != nullptr;
  if (defined != negated) return Outcome{Outcome::Kind::Replace, step.element};
  return Outcome{Outcome::Kind::Remove};
}

Walk::Decision Walk::doSwitch(Step& step) {
  const MacroOrigin* found = nullptr;
  const std::string current = macros_.findOrInsert(
      attributeText(step.element, "name"),
      [&] { return originOf(step, MacroOrigin::Kind::Condition); }, found);
  if (undefinedBefore(found) && findings_.on(Check::UndefinedCondition) &&
      step.element->hasAttribute("name")) {
    if (Failure failure = checkCondition(step, attributeText(step.element, "name"))) {
      return std::move(*failure);
    }
  }
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
  if (chosen && textOf(chosen)) {
    // The branch's content takes the switch's place: kept text cannot stand there.
    if (Failure failure = dropText(chosen, step.frame, kDirectiveContent)) {
      return std::move(*failure);
    }
  }
  if (chosen) return Outcome{Outcome::Kind::Replace, chosen};
  if (findings_.on(Check::NoSwitchBranch)) {
    if (Failure failure = checkSwitchBranch(step, current)) return std::move(*failure);
  }
  return Outcome{Outcome::Kind::Remove};
}
