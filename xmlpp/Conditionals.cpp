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

bool Walk::doIf(std::size_t f, XMLElement* element, bool negated) {
  if (element->attributeCount() != 1) return fail("one condition required for <if[not]>");
  const XMLAttribute& condition = element->attributes()[0];
  std::string_view list = condition.value();
  // The inserting lookup: an undefined name becomes defined, empty, in this scope.
  const std::string& current = macros_.findOrInsert(condition.name());
  bool holds = listContains(list, current) != negated;
  if (holds) return replaceByChildren(f, element, element);
  return remove(f, element);
}

bool Walk::doIfex(std::size_t f, XMLElement* element) {
  std::string_view expression = attributeText(element, "expression");
  if (expression.empty()) return keep(f, element);  // not a directive without an expression
  const std::optional<bool> holds =
      expression.find('$') == std::string_view::npos
          ? evaluator_.truthValue(expression)  // expansion would return it as it is
          : evaluator_.truthValue(expand(expression));
  if (holds.value_or(false)) return replaceByChildren(f, element, element);
  return remove(f, element);
}

bool Walk::doIfdef(std::size_t f, XMLElement* element, bool negated) {
  bool defined = macros_.find(attributeText(element, "name")) != nullptr;
  if (defined != negated) return replaceByChildren(f, element, element);
  return remove(f, element);
}

bool Walk::doSwitch(std::size_t f, XMLElement* element) {
  const std::string current = macros_.findOrInsert(attributeText(element, "name"));
  XMLElement* chosen = nullptr;
  XMLElement* fallback = nullptr;
  for (XMLNode* child = element->firstChild; child && !chosen; child = child->next) {
    XMLElement* branch = asElement(child);
    if (!branch) continue;
    // "case" and "default" are not walked, but a loop's copy would have expanded them.
    if (current_) applyLoopMaps(branch, *current_);
    if (branch->name() == "case") {
      // Case values are compared as written: "case" elements are never walked themselves.
      if (listContains(attributeText(branch, "value"), current)) chosen = branch;
    } else if (branch->name() == "default") {
      fallback = branch;
    }
  }
  if (!chosen) chosen = fallback;
  if (chosen) return replaceByChildren(f, chosen, element);
  return remove(f, element);
}
