#include "Conditionals.h"

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

Decision Conditionals::decide(DirectiveId directive, Step& step) {
  switch (directive) {
    case DirectiveId::If:
    case DirectiveId::Ifnot: {
      const bool negated = directive == DirectiveId::Ifnot;
      return scope_.listener ? decideIf<true>(step, negated) : decideIf<false>(step, negated);
    }
    case DirectiveId::Ifex:
      return decideIfex(step);
    case DirectiveId::Ifdef:
    case DirectiveId::Ifndef:
      return decideIfdef(step, directive == DirectiveId::Ifndef);
    default:
      return decideSwitch(step);
  }
}

template <bool kListened>
Decision Conditionals::decideIf(const Step& step, bool negated) {
  XMLElement* element = step.element;
  if (element->attributeCount() != 1) {
    return scope_.fail(step, "one condition required for <if[not]>");
  }
  const XMLAttribute& condition = element->attributes()[0];
  // The inserting lookup: an undefined name becomes defined, empty, in this scope.
  const MacroOrigin* found = nullptr;
  const std::string& current = scope_.macros.findOrInsert(
      condition.name(), [&] { return scope_.originOf(step, MacroOrigin::Kind::Condition); }, found);
  if (undefinedBefore(found) && (scope_.findings.on(Check::UndefinedCondition) ||
                                 scope_.findings.on(Check::MisspelledCondition))) {
    if (Failure failure = checks_.checkCondition(step, condition.name())) {
      return std::move(*failure);
    }
  }
  if (listContains(condition.value(), current) != negated) {
    if constexpr (kListened) tellIf(step, negated, true);
    return Outcome{Outcome::Kind::Replace, element};
  }
  if constexpr (kListened) tellIf(step, negated, false);
  return Outcome{Outcome::Kind::Remove};
}

Decision Conditionals::decideIfex(const Step& step) {
  XMLElement* element = step.element;
  std::string_view expression = attributeText(element, attr::kExpression);
  if (expression.empty()) return Outcome{Outcome::Kind::Keep};  // not a directive without one
  const std::optional<std::string_view> expanded =
      element->valuesFinal() ? expression : scope_.expand(expression);
  if (!expanded) return scope_.tooLong(*element, attr::kExpression, element, step.frame);
  const std::optional<bool> truth = scope_.evaluator.truthValue(*expanded);
  if (scope_.listener) {
    scope_.listener->condition(ConditionEvent{WalkScope::placeOf(step),
                                              DirectiveId::Ifex,
                                              truth.value_or(false),
                                              writtenName(step.element, attr::kExpression),
                                              {},
                                              {},
                                              false,
                                              *expanded,
                                              nullptr,
                                              truth,
                                              nullptr,
                                              false});
  }
  if (scope_.findings.on(Check::NotEvaluated) &&
      (!truth || scope_.evaluator.endOfLast() != expanded->size())) {
    if (Failure failure = checks_.checkIfex(step, *expanded, truth)) return std::move(*failure);
  }
  if (truth.value_or(false)) return Outcome{Outcome::Kind::Replace, element};
  return Outcome{Outcome::Kind::Remove};
}

Decision Conditionals::decideIfdef(const Step& step, bool negated) {
  const std::string_view name = attributeText(step.element, attr::kName);
  const bool defined = scope_.macros.find(name) != nullptr;
  if (scope_.listener) {
    tellCondition(step, negated ? DirectiveId::Ifndef : DirectiveId::Ifdef, defined != negated,
                  attr::kName, name);
  }
  if (defined != negated) return Outcome{Outcome::Kind::Replace, step.element};
  return Outcome{Outcome::Kind::Remove};
}

Decision Conditionals::decideSwitch(Step& step) {
  const std::string_view name = attributeText(step.element, attr::kName);
  const MacroOrigin* found = nullptr;
  const std::string current = scope_.macros.findOrInsert(
      name, [&] { return scope_.originOf(step, MacroOrigin::Kind::Condition); }, found);
  if (undefinedBefore(found) &&
      (scope_.findings.on(Check::UndefinedCondition) ||
       scope_.findings.on(Check::MisspelledCondition)) &&
      step.element->hasAttribute(attr::kName)) {
    if (Failure failure = checks_.checkCondition(step, name)) return std::move(*failure);
  }
  XMLElement* chosen = nullptr;
  XMLElement* fallback = nullptr;
  if (Failure failure = scope_.childrenAsCopied(step)) return std::move(*failure);
  const std::string_view caseName = directiveName(DirectiveId::Case);
  const std::string_view defaultName = directiveName(DirectiveId::Default);
  for (XMLNode* child = step.element->firstChild; child && !chosen; child = child->next) {
    XMLElement* branch = asElement(child);
    if (!branch) continue;
    if (branch->name() == caseName) {
      // Case values are compared as written: case elements are never walked themselves.
      if (listContains(attributeText(branch, attr::kValue), current)) chosen = branch;
    } else if (branch->name() == defaultName) {
      fallback = branch;
    }
  }
  if (!chosen) chosen = fallback;
  if (scope_.listener) tellSwitch(step, name, chosen, chosen && chosen == fallback);
  if (chosen && textOf(chosen)) {
    // The branch's content takes the switch's place: kept text cannot stand there.
    if (Failure failure = scope_.dropText(chosen, step.frame, WalkScope::kDirectiveContent)) {
      return std::move(*failure);
    }
  }
  if (chosen) return Outcome{Outcome::Kind::Replace, chosen};
  if (scope_.findings.on(Check::NoSwitchBranch)) {
    if (Failure failure = checks_.checkSwitchBranch(step, current)) return std::move(*failure);
  }
  return Outcome{Outcome::Kind::Remove};
}

void Conditionals::tellCondition(const Step& step, DirectiveId directive, bool taken,
                                 std::string_view attribute, std::string_view name) {
  const std::string* value = scope_.macros.find(name);
  const MacroOrigin* origin = scope_.macros.originOf(name);
  // An if, ifnot or switch defines a name it finds undefined, with its own element as origin.
  const bool defined = value && !(origin->kind == MacroOrigin::Kind::Condition &&
                                  origin->position == step.element->name().data());
  const bool ifdef = directive == DirectiveId::Ifdef || directive == DirectiveId::Ifndef;
  const std::string_view tested =
      ifdef ? std::string_view() : attributeText(step.element, attribute);
  scope_.listener->condition(ConditionEvent{
      WalkScope::placeOf(step), directive, taken, writtenName(step.element, attribute), tested,
      name, defined, value ? std::string_view(*value) : "", origin, std::nullopt, nullptr, false});
}

void Conditionals::tellSwitch(const Step& step, std::string_view name, const XMLElement* chosen,
                              bool chosenDefault) {
  const std::string* value = scope_.macros.find(name);
  const MacroOrigin* origin = scope_.macros.originOf(name);
  const bool defined = !(origin->kind == MacroOrigin::Kind::Condition &&
                         origin->position == step.element->name().data());
  scope_.listener->condition(ConditionEvent{WalkScope::placeOf(step),
                                            DirectiveId::Switch,
                                            chosen != nullptr,
                                            writtenName(step.element, attr::kName),
                                            {},
                                            name,
                                            defined,
                                            *value,
                                            origin,
                                            std::nullopt,
                                            chosen,
                                            chosenDefault});
}

void Conditionals::tellIf(const Step& step, bool negated, bool taken) {
  const std::string_view name = step.element->attributes()[0].name();
  tellCondition(step, negated ? DirectiveId::Ifnot : DirectiveId::If, taken, name, name);
}
