// The directive checks: mistakes that make a directive do something other than what its writer
// meant while the run still succeeds. They run only when a check is enabled, before the
// directive is carried out, and re-evaluate what they need rather than slow the handlers down.

#include <array>

#include "Walk.h"

namespace {

// What a directive reads: the attributes it knows (any attribute for one that takes the names
// of its attributes as data), and the one without which it does something else than meant, and
// what it then does.
struct Reads {
  std::string_view directive;
  bool anyAttribute;
  std::array<std::string_view, 7> attributes;
  std::string_view required;  // empty: none, or one whose absence fails the run anyway
  std::string_view without;   // what the directive does without it
};

constexpr Reads kReads[] = {
    {"if", true, {}, {}, {}},
    {"ifnot", true, {}, {}, {}},
    {"foreach", true, {}, {}, {}},
    {"ifex", false, {"expression"}, "expression", "it is written out as an ordinary element"},
    {"ifdef", false, {"name"}, "name", "its condition is always false"},
    {"ifndef", false, {"name"}, "name", "its condition is always true"},
    {"switch", false, {"name"}, "name", "it tests the empty name"},
    {"case", false, {"value"}, "value", "it never matches"},
    {"include", false, {"filename", "macros", "inherit_attributes", "no_root"}, {}, {}},
    {"define", false, {"name", "value", "expression", "hex_expression"}, {}, {}},
    {"xmldef", false, {"name"}, "name", "it is written out as an ordinary element"},
    {"xmlput", false, {"name", "macros"}, "name", "it is written out as an ordinary element"},
    {"for", false, {"index", "start", "end", "incr", "add", "sub", "mul"}, {}, {}},
};

const Reads* readsOf(std::string_view directive) {
  for (const Reads& reads : kReads) {
    if (reads.directive == directive) return &reads;
  }
  return nullptr;
}

std::vector<std::string_view> known(const Reads& reads) {
  std::vector<std::string_view> names;
  for (const std::string_view name : reads.attributes) {
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

bool reads(const Reads& reads, std::string_view attribute) {
  if (reads.anyAttribute) return true;
  for (const std::string_view name : reads.attributes) {
    if (!name.empty() && name == attribute) return true;
  }
  return false;
}

// "; did you mean NAME?" when there is a near name, else nothing.
std::string suggestion(std::string_view name, const std::vector<std::string_view>& candidates) {
  const std::string_view near = nearestName(name, candidates);
  return near.empty() ? std::string() : "; did you mean " + std::string(near) + "?";
}

// The suggestion for an attribute a directive does not read: a name it reads that differs but
// for case or one letter (short attribute names too: "nam" for "name"), else the attribute it
// needs and lacks.
std::string attributeSuggestion(std::string_view name, const std::vector<std::string_view>& names,
                                const Reads& what, const XMLElement* element) {
  for (const std::string_view candidate : names) {
    if (equalButForCase(candidate, name) || oneEditApart(candidate, name)) {
      return "; did you mean " + std::string(candidate) + "?";
    }
  }
  if (!what.required.empty() && !element->hasAttribute(what.required)) {
    return "; did you mean " + std::string(what.required) + "?";
  }
  return {};
}

std::string tag(std::string_view name) {
  return "<" + std::string(name) + ">";
}

// True for a name XML allows: one that starts with a letter, "_" or ":" (the reader takes the
// rest of a name from letters, digits, "_", ":" and "-" only).
bool wellFormedName(std::string_view name) {
  if (name.empty()) return false;
  const unsigned char c = static_cast<unsigned char>(name[0]);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
}

}  // namespace

Failure Walk::checkNames(const Step& step) {
  const XMLElement* element = step.element;
  constexpr std::string_view why =
      " is no XML name (one starts with a letter, \"_\" or \":\"): the "
      "output is not well-formed XML";
  if (!wellFormedName(element->name())) {
    if (Failure failure =
            found(step, Check::IllFormedName,
                  "the element name \"" + std::string(element->name()) + "\"" + std::string(why))) {
      return failure;
    }
  }
  for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
    const std::string_view name = element->attributes()[i].name();
    if (wellFormedName(name)) continue;
    if (Failure failure = found(step, Check::IllFormedName,
                                "the attribute name " + std::string(name) + " of " +
                                    tag(element->name()) + std::string(why))) {
      return failure;
    }
  }
  return std::nullopt;
}

Failure Walk::checkStep(const Step& step) {
  if (Failure failure = checkNames(step)) return failure;
  const std::string_view name = step.element->name();
  for (const DirectiveEntry& entry : kDirectives) {
    if (entry.name == name) return checkDirective(step, name);
  }
  return checkMisspelled(step);
}

Failure Walk::checkDirective(const Step& step, std::string_view directive) {
  const Reads* what = readsOf(directive);
  for (const Unresolved& u : step.unresolved) {
    // An attribute the directive does not read (one an include passes on) is checked where it
    // is written out.
    if (!what || !reads(*what, u.attribute)) continue;
    if (directive == "include" && u.attribute == "filename") {
      // An include's file name is expanded once more, with the system macros.
      const auto name = env_.expandWithSystemMacros(attributeText(step.element, "filename"));
      if (name && name->find(u.reference) == std::string::npos) continue;
    }
    if (Failure failure =
            found(step, Check::UnresolvedInDirective,
                  "unresolved " + u.reference + " in attribute " + std::string(u.attribute) +
                      " of " + tag(directive) + ": the directive reads it as written")) {
      return failure;
    }
  }
  if (Failure failure = checkAttributes(step.element, step.frame, directive)) return failure;
  if (directive == "if" || directive == "ifnot") {
    if (step.element->attributeCount() != 1) return std::nullopt;  // the directive fails
    return checkCondition(step, step.element->attributes()[0].name());
  }
  if (directive == "switch") {
    for (XMLNode* child = step.element->firstChild; child; child = child->next) {
      const XMLElement* branch = asElement(child);
      if (branch && branch->name() == "case") {
        if (Failure failure = checkAttributes(branch, step.frame, "case")) return failure;
      }
    }
    if (!step.element->hasAttribute("name")) return std::nullopt;
    return checkCondition(step, attributeText(step.element, "name"));
  }
  return checkEvaluation(step, directive);
}

Failure Walk::checkAttributes(const XMLElement* element, std::size_t frame,
                              std::string_view directive) {
  const Reads* what = readsOf(directive);
  if (!what) return std::nullopt;
  const std::vector<std::string_view> names = known(*what);
  // An include copies the attributes its inherit_attributes names onto the included root.
  const std::string_view inherited =
      directive == "include" ? attributeText(element, "inherit_attributes") : std::string_view();
  for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
    const std::string_view name = element->attributes()[i].name();
    if (reads(*what, name)) continue;
    bool isInherited = false;
    forEachItem(inherited, ';', [&](std::string_view item) { isInherited |= item == name; });
    if (isInherited) continue;
    if (Failure failure =
            findings_.report(Check::UnreadAttribute,
                             tag(directive) + " does not read attribute " + std::string(name) +
                                 attributeSuggestion(name, names, *what, element),
                             locate(element, frame))) {
      return failure;
    }
  }
  // An ifex with an empty expression is no directive either.
  const bool given = directive == "ifex" ? !attributeText(element, what->required).empty()
                                         : element->hasAttribute(what->required);
  if (what->required.empty() || given) return std::nullopt;
  return findings_.report(Check::MissingAttribute,
                          tag(directive) + " without attribute " + std::string(what->required) +
                              ": " + std::string(what->without),
                          locate(element, frame));
}

Failure Walk::checkMisspelled(const Step& step) {
  const XMLElement* element = step.element;
  const std::string_view name = element->name();
  // One letter away only for names of four letters or more, and only an element with
  // attributes: short or bare names are too often ordinary elements.
  const bool editable = name.size() >= 4 && element->attributeCount() > 0;
  for (const Reads& what : kReads) {
    if (what.directive == "case") continue;  // read only inside a switch, never walked
    const std::size_t size = what.directive.size();
    const bool sameButCase = name.size() == size && equalButForCase(name, what.directive);
    const bool oneEdit = !sameButCase && editable && size >= 4 && name.size() + 1 >= size &&
                         name.size() <= size + 1 && oneEditApart(name, what.directive);
    if (!sameButCase && !oneEdit) continue;
    bool allRead = true;
    for (std::uint32_t i = 0; i < element->attributeCount(); ++i)
      allRead = allRead && reads(what, element->attributes()[i].name());
    if (!allRead) continue;
    return found(step, Check::MisspelledDirective,
                 tag(name) +
                     " is no directive and is written out as an ordinary element; did "
                     "you mean " +
                     tag(what.directive) + "?");
  }
  return std::nullopt;
}

Failure Walk::checkCondition(const Step& step, std::string_view tested) {
  const MacroOrigin* origin = macros_.originOf(tested);
  // A name an earlier condition tested while undefined is still one nobody defined.
  if (origin && origin->kind != MacroOrigin::Kind::Condition) return std::nullopt;
  std::vector<std::string> defined;
  macros_.forEach([&](const std::string& name, const std::string&, const MacroOrigin& from) {
    if (from.kind != MacroOrigin::Kind::Condition) defined.push_back(name);
  });
  const std::vector<std::string_view> candidates(defined.begin(), defined.end());
  return found(step, Check::UndefinedCondition,
               tag(step.element->name()) + " tests " + std::string(tested) +
                   ", which is not defined here: it is taken as empty" +
                   suggestion(tested, candidates));
}

Failure Walk::checkEvaluation(const Step& step, std::string_view directive) {
  const XMLElement* element = step.element;
  // Each text is evaluated as the directive will: the same expansions, the same evaluation.
  auto fails = [&](std::string_view attribute, const char* what, const char* then) -> Failure {
    return found(step, Check::NotEvaluated,
                 "attribute " + std::string(attribute) + " of " + tag(directive) + " (\"" +
                     std::string(attributeText(element, attribute)) + "\") is not " + what + ": " +
                     then);
  };
  if (directive == "ifex" && !attributeText(element, "expression").empty()) {
    const auto text = expand(attributeText(element, "expression"));
    if (text && !evaluator_.truthValue(*text)) {
      // A number is a value, but no condition.
      return evaluator_.unsignedValue(*text)
                 ? fails("expression", "a condition (a comparison, !, && or ||)",
                         "the condition is false")
                 : fails("expression", "an expression", "the condition is false");
    }
  } else if (directive == "define" && !element->hasAttribute("value")) {
    for (const std::string_view attribute : {"expression", "hex_expression"}) {
      if (!element->hasAttribute(attribute)) continue;
      const auto text = expand(attributeText(element, attribute));
      if (text && !evaluator_.unsignedValue(*text)) {
        return fails(attribute, "an expression", "the macro is not defined");
      }
      break;
    }
  } else if (directive == "for") {
    for (const std::string_view attribute : {"start", "end", "incr"}) {
      if (element->hasAttribute(attribute) &&
          !evaluator_.unsignedValue(attributeText(element, attribute))) {
        return fails(
            attribute, "a number",
            attribute == "end" ? "it counts as 0, so the loop runs no times" : "it counts as 0");
      }
    }
    for (const std::string_view attribute : {"add", "sub", "mul"}) {
      if (!element->hasAttribute(attribute)) continue;
      const auto text = expand(attributeText(element, attribute));
      if (text && !evaluator_.signedValue(*text)) {
        return fails(attribute, "a number", "it counts as 0");
      }
    }
  }
  return std::nullopt;
}

Failure Walk::checkSwitchBranch(const Step& step, std::string_view value) {
  return found(step, Check::NoSwitchBranch,
               "<switch> on " + std::string(attributeText(step.element, "name")) + ": value \"" +
                   std::string(value) +
                   "\" matches no <case> and there is no <default>: " + "nothing of it is written");
}
