// The directive checks: mistakes that make a directive do something other than what its writer
// meant while the run still succeeds. They run only when a check is enabled, most before the
// directive is carried out, re-evaluating what they need rather than slowing the handlers down;
// what a handler looks up or evaluates anyway (the name an if tests, an ifex's expression) is
// checked where the handler does it (checkCondition, checkIfex), so nothing is done twice.

#include <array>

#include "Walk.h"

// What a directive reads: the attributes it knows (any attribute for one that takes the names
// of its attributes as data), and the one without which it does something else than meant, and
// what it then does.
struct DirectiveReads {
  std::string_view directive;
  bool anyAttribute;
  std::array<std::string_view, 7> attributes;
  std::string_view required;  // empty: none, or one whose absence fails the run anyway
  std::string_view without;   // what the directive does without it
};

namespace {

using Reads = DirectiveReads;

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
    // The first letter before the whole name: most names that get here are no directive.
    if (reads.directive.size() == directive.size() && reads.directive[0] == directive[0] &&
        reads.directive == directive) {
      return &reads;
    }
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

// The bytes an XML name starts with: a letter, "_" or ":".
struct NameStartTable {
  bool starts[256] = {};
  constexpr NameStartTable() {
    for (int c = 'a'; c <= 'z'; ++c)
      starts[c] = starts[c - 'a' + 'A'] = true;
    starts[static_cast<unsigned char>('_')] = starts[static_cast<unsigned char>(':')] = true;
  }
};
constexpr NameStartTable kNameStart;

// True for a name XML allows: one that starts with a letter, "_" or ":" (the reader takes the
// rest of a name from letters, digits, "_", ":" and "-" only).
bool wellFormedName(std::string_view name) {
  return !name.empty() && kNameStart.starts[static_cast<unsigned char>(name[0])];
}

// The directive names kReads may be mistyped from: bit i for the one at index i that the name
// equals but for case, bit 16 + i for one a single edit away (names of four letters or more,
// lengths within one). One edit leaves the first or the last letter in place (names of three
// letters or more), and a name equal but for case has both: two tests of letters rule out
// most directives before the names are compared.
constexpr std::size_t kReadsCount = sizeof kReads / sizeof kReads[0];
static_assert(kReadsCount <= 16);
std::uint32_t nearDirectives(std::string_view name) {
  const std::size_t length = name.size();
  if (length < 2) return 0;
  const auto first = static_cast<unsigned char>(name.front());
  const auto last = static_cast<unsigned char>(name.back());
  std::uint32_t near = 0;
  for (std::size_t i = 0; i < kReadsCount; ++i) {
    const std::string_view directive = kReads[i].directive;
    const std::size_t size = directive.size();
    if (length + 1 < size || length > size + 1) continue;
    // Directive names are lower-case letters: setting bit 5 lowers a letter's case.
    const bool ends = (first | 0x20) == directive.front() && (last | 0x20) == directive.back();
    if (length == size && ends && equalButForCase(name, directive)) {
      near |= 1u << i;
    } else if (length >= 4 && size >= 4 &&
               (first == directive.front() || last == directive.back()) &&
               oneEditApart(name, directive)) {
      near |= 1u << (16 + i);
    }
  }
  return near;
}

}  // namespace

Failure Walk::checkNames(const Step& step) {
  const XMLElement* element = step.element;
  bool wellFormed = wellFormedName(element->name());
  for (std::uint32_t i = 0; i < element->attributeCount(); ++i)
    wellFormed = wellFormed && wellFormedName(element->attributes()[i].name());
  if (wellFormed) return std::nullopt;
  return illFormedNames(step);
}

Failure Walk::illFormedNames(const Step& step) {
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
  if (mayBeDirective(name)) {
    // "case" is read only inside a switch, never walked as a directive.
    const Reads* what = readsOf(name);
    // if, ifnot and foreach read every attribute and need none: only references left
    // unresolved in them are to check.
    if (what && what->anyAttribute && step.unresolved.empty()) return std::nullopt;
    if (what && what->directive != "case") return checkDirective(step, *what);
  }
  return checkMisspelled(step);
}

Failure Walk::checkDirective(const Step& step, const DirectiveReads& what) {
  const std::string_view directive = what.directive;
  for (const Unresolved& u : step.unresolved) {
    // An attribute the directive does not read (one an include passes on) is checked where it
    // is written out.
    if (!reads(what, u.attribute)) continue;
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
  if (Failure failure = checkAttributes(step.element, step.frame, what)) return failure;
  // The name an if, ifnot or switch tests is checked as the directive looks it up
  // (checkCondition).
  if (directive == "switch") {
    const Reads& caseReads = *readsOf("case");
    for (XMLNode* child = step.element->firstChild; child; child = child->next) {
      const XMLElement* branch = asElement(child);
      if (branch && branch->name() == "case") {
        if (Failure failure = checkAttributes(branch, step.frame, caseReads)) return failure;
      }
    }
    return std::nullopt;
  }
  return checkEvaluation(step, directive);
}

Failure Walk::checkAttributes(const XMLElement* element, std::size_t frame,
                              const DirectiveReads& directiveReads) {
  const Reads* what = &directiveReads;
  // if, ifnot and foreach read every attribute and need none.
  if (what->anyAttribute && what->required.empty()) return std::nullopt;
  const std::string_view directive = what->directive;
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
                                 attributeSuggestion(name, known(*what), *what, element),
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

std::uint32_t Walk::nearDirectivesOf(std::string_view name) {
  if (name.size() < 2) return 0;
  // Names repeat: the last one seen at each slot, picked by length and three of its letters,
  // is remembered with what it is near.
  auto letter = [&](std::size_t i) { return std::size_t{static_cast<unsigned char>(name[i])}; };
  const std::size_t slot =
      (letter(0) + 37 * name.size() + 131 * letter(name.size() - 1) + 613 * letter(1)) %
      kNearCacheSize;
  if (nearCache_.empty()) nearCache_.resize(kNearCacheSize);
  NearEntry& entry = nearCache_[slot];
  if (entry.name != name) {
    entry.name.assign(name);
    entry.near = nearDirectives(name);
  }
  return entry.near;
}

Failure Walk::checkMisspelled(const Step& step) {
  const XMLElement* element = step.element;
  const std::string_view name = element->name();
  const std::uint32_t near = nearDirectivesOf(name);
  if (near == 0) return std::nullopt;
  // One letter away only for names of four letters or more, and only an element with
  // attributes: short or bare names are too often ordinary elements.
  const bool editable = name.size() >= 4 && element->attributeCount() > 0;
  for (std::size_t i = 0; i < kReadsCount; ++i) {
    const Reads& what = kReads[i];
    if (what.directive == "case") continue;  // read only inside a switch, never walked
    const bool sameButCase = (near >> i & 1) != 0;
    const bool oneEdit = editable && (near >> (16 + i) & 1) != 0;
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

Failure Walk::notEvaluated(const Step& step, std::string_view directive, std::string_view attribute,
                           std::string_view what, std::string_view then) const {
  return found(step, Check::NotEvaluated,
               "attribute " + std::string(attribute) + " of " + tag(directive) + " (\"" +
                   std::string(attributeText(step.element, attribute)) + "\") " +
                   std::string(what) + ": " + std::string(then));
}

Failure Walk::checkIfex(const Step& step, std::string_view text, std::optional<bool> truth) {
  if (!truth) {
    // A number is a value, but no condition.
    return evaluator_.unsignedValue(text)
               ? notEvaluated(step, "ifex", "expression",
                              "is not a condition (a comparison, !, && or ||)",
                              "the condition is false")
               : notEvaluated(step, "ifex", "expression", "is not an expression",
                              "the condition is false");
  }
  if (evaluator_.endOfLast() == text.size()) return std::nullopt;
  return notEvaluated(step, "ifex", "expression", ignoredRest(text),
                      *truth ? "the condition is true" : "the condition is false");
}

Failure Walk::checkUncarried(const Step& step) {
  const XMLElement* element = step.element;
  const std::string_view name = element->name();
  auto undefined = [&](std::string_view tested) {
    const MacroOrigin* origin = macros_.originOf(tested);
    return !origin || origin->kind == MacroOrigin::Kind::Condition;
  };
  if ((name == "if" || name == "ifnot") && element->attributeCount() == 1) {
    const std::string_view tested = element->attributes()[0].name();
    if (undefined(tested)) return checkCondition(step, tested);
  } else if (name == "switch" && element->hasAttribute("name")) {
    const std::string_view tested = attributeText(element, "name");
    if (undefined(tested)) return checkCondition(step, tested);
  } else if (name == "ifex" && !attributeText(element, "expression").empty()) {
    const auto text = expand(attributeText(element, "expression"));
    if (!text) return std::nullopt;
    const std::optional<bool> truth = evaluator_.truthValue(*text);
    if (!truth || evaluator_.endOfLast() != text->size()) return checkIfex(step, *text, truth);
  }
  return std::nullopt;
}

std::string Walk::ignoredRest(std::string_view text) const {
  return "is read up to \"" + std::string(text.substr(evaluator_.endOfLast())) +
         "\", which is ignored";
}

Failure Walk::checkBound(const Step& step, std::string_view attribute) {
  const std::string_view text = attributeText(step.element, attribute);
  const std::optional<Value> value = evaluator_.value(text);
  if (!value || (value->kind != ValueKind::Signed && value->kind != ValueKind::Floating)) {
    return notEvaluated(
        step, "for", attribute, "is not a number",
        attribute == "end" ? "it counts as 0, so the loop runs no times" : "it counts as 0");
  }
  // The loop counts with the low 32 bits of the value's 64.
  const std::uint64_t bits = value->toUnsignedBits();
  const std::string counts = "it counts as " + std::to_string(static_cast<std::uint32_t>(bits));
  if (evaluator_.endOfLast() != text.size()) {
    return notEvaluated(step, "for", attribute, ignoredRest(text), counts);
  }
  if (value->kind == ValueKind::Floating) {
    return notEvaluated(step, "for", attribute, "is a floating-point number",
                        counts + " (the low 32 bits of its bit pattern)");
  }
  if (static_cast<std::int64_t>(bits) < 0) {
    return notEvaluated(step, "for", attribute, "is negative",
                        counts + " (the loop counts in 32 bits without a sign)");
  }
  if (bits > 0xFFFFFFFFu) {
    return notEvaluated(step, "for", attribute, "does not fit in 32 bits",
                        counts + " (its low 32 bits)");
  }
  return std::nullopt;
}

Failure Walk::checkEvaluation(const Step& step, std::string_view directive) {
  const XMLElement* element = step.element;
  // Each text is evaluated as the directive will: the same expansions, the same evaluation. An
  // ifex's expression is checked as the directive evaluates it (checkIfex).
  if (directive == "define" && !element->hasAttribute("value")) {
    for (const std::string_view attribute : {"expression", "hex_expression"}) {
      if (!element->hasAttribute(attribute)) continue;
      const auto text = expand(attributeText(element, attribute));
      if (!text) break;
      const std::optional<Value> value = evaluator_.value(*text);
      if (!value || (value->kind != ValueKind::Signed && value->kind != ValueKind::Floating)) {
        return notEvaluated(step, directive, attribute, "is not an expression",
                            "the macro is not defined");
      }
      // The macro's value as the directive writes it.
      const auto low = static_cast<std::uint32_t>(value->toUnsignedBits());
      char digits[10];
      const std::string defined = "the macro is " + (attribute == std::string_view("hex_expression")
                                                         ? std::string(formatUpperHex(low, digits))
                                                         : std::to_string(low));
      if (evaluator_.endOfLast() != text->size()) {
        return notEvaluated(step, directive, attribute, ignoredRest(*text), defined);
      }
      if (value->kind == ValueKind::Floating) {
        return notEvaluated(step, directive, attribute, "is a floating-point number",
                            defined + " (the low 32 bits of its bit pattern)");
      }
      break;
    }
  } else if (directive == "for") {
    for (const std::string_view attribute : {"start", "end", "incr"}) {
      if (!element->hasAttribute(attribute)) continue;
      if (Failure failure = checkBound(step, attribute)) return failure;
    }
    for (const std::string_view attribute : {"add", "sub", "mul"}) {
      if (!element->hasAttribute(attribute)) continue;
      const auto text = expand(attributeText(element, attribute));
      if (!text) continue;
      const std::optional<std::int64_t> value = evaluator_.signedValue(*text);
      if (!value)
        return notEvaluated(step, directive, attribute, "is not a number", "it counts as 0");
      if (evaluator_.endOfLast() != text->size()) {
        return notEvaluated(step, directive, attribute, ignoredRest(*text),
                            "it counts as " + std::to_string(*value));
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
