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

// The element's own view of an attribute's name, which locates it in the text; `name` itself
// when the element has no such attribute.
std::string_view writtenName(const XMLElement* element, std::string_view name) {
  for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
    if (element->attributes()[i].name() == name) return element->attributes()[i].name();
  }
  return name;
}

}  // namespace

template <bool kListened>
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
    if constexpr (kListened) tellIf(step, negated, true);
    return Outcome{Outcome::Kind::Replace, element};
  }
  if constexpr (kListened) tellIf(step, negated, false);
  return Outcome{Outcome::Kind::Remove};
}

Walk::Decision Walk::doIfex(Step& step) {
  XMLElement* element = step.element;
  std::string_view expression = attributeText(element, "expression");
  if (expression.empty()) return Outcome{Outcome::Kind::Keep};  // not a directive without one
  const std::optional<std::string_view> expanded =
      element->valuesFinal() ? expression : expand(expression);
  if (!expanded) return tooLong(*element, "expression", element, step.frame);
  const std::optional<bool> truth = evaluator_.truthValue(*expanded);
  if (listener_) {
    listener_->condition(ConditionEvent{placeOf(step),
                                        ConditionEvent::Directive::Ifex,
                                        truth.value_or(false),
                                        writtenName(step.element, "expression"),
                                        {},
                                        {},
                                        false,
                                        *expanded,
                                        nullptr,
                                        truth,
                                        nullptr,
                                        false});
  }
  if (findings_.on(Check::NotEvaluated) && (!truth || evaluator_.endOfLast() != expanded->size())) {
    if (Failure failure = checkIfex(step, *expanded, truth)) return std::move(*failure);
  }
  if (truth.value_or(false)) return Outcome{Outcome::Kind::Replace, element};
  return Outcome{Outcome::Kind::Remove};
}

Walk::Decision Walk::decideIfdef(const Step& step, bool negated) {
  const std::string_view name = attributeText(step.element, "name");
  const bool defined = macros_.find(name) != nullptr;
  if (listener_) {
    tellCondition(step,
                  negated ? ConditionEvent::Directive::Ifndef : ConditionEvent::Directive::Ifdef,
                  defined != negated, "name", name);
  }
  if (defined != negated) return Outcome{Outcome::Kind::Replace, step.element};
  return Outcome{Outcome::Kind::Remove};
}

Walk::Decision Walk::doSwitch(Step& step) {
  const std::string_view name = attributeText(step.element, "name");
  const MacroOrigin* found = nullptr;
  const std::string current = macros_.findOrInsert(
      name, [&] { return originOf(step, MacroOrigin::Kind::Condition); }, found);
  if (undefinedBefore(found) && findings_.on(Check::UndefinedCondition) &&
      step.element->hasAttribute("name")) {
    if (Failure failure = checkCondition(step, name)) return std::move(*failure);
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
  if (listener_) tellSwitch(step, name, chosen, chosen && chosen == fallback);
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

void Walk::tellCondition(const Step& step, ConditionEvent::Directive directive, bool taken,
                         std::string_view attribute, std::string_view name) {
  const std::string* value = macros_.find(name);
  const MacroOrigin* origin = macros_.originOf(name);
  // An if, ifnot or switch defines a name it finds undefined, with its own element as origin.
  const bool defined = value && !(origin->kind == MacroOrigin::Kind::Condition &&
                                  origin->position == step.element->name().data());
  const bool ifdef = directive == ConditionEvent::Directive::Ifdef ||
                     directive == ConditionEvent::Directive::Ifndef;
  const std::string_view tested =
      ifdef ? std::string_view() : attributeText(step.element, attribute);
  listener_->condition(ConditionEvent{
      placeOf(step), directive, taken, writtenName(step.element, attribute), tested, name, defined,
      value ? std::string_view(*value) : "", origin, std::nullopt, nullptr, false});
}

void Walk::tellSwitch(const Step& step, std::string_view name, const XMLElement* chosen,
                      bool chosenDefault) {
  const std::string* value = macros_.find(name);
  const MacroOrigin* origin = macros_.originOf(name);
  const bool defined = !(origin->kind == MacroOrigin::Kind::Condition &&
                         origin->position == step.element->name().data());
  listener_->condition(ConditionEvent{placeOf(step),
                                      ConditionEvent::Directive::Switch,
                                      chosen != nullptr,
                                      writtenName(step.element, "name"),
                                      {},
                                      name,
                                      defined,
                                      *value,
                                      origin,
                                      std::nullopt,
                                      chosen,
                                      chosenDefault});
}

void Walk::tellIf(const Step& step, bool negated, bool taken) {
  const std::string_view name = step.element->attributes()[0].name();
  tellCondition(step, negated ? ConditionEvent::Directive::Ifnot : ConditionEvent::Directive::If,
                taken, name, name);
}

template Walk::Decision Walk::decideIf<false>(const Step&, bool);
template Walk::Decision Walk::decideIf<true>(const Step&, bool);
