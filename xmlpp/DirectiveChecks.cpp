#include "DirectiveChecks.h"

#include <array>

namespace {

std::vector<std::string_view> known(const Directive& directive) {
  std::vector<std::string_view> names;
  for (const DirectiveAttribute& a : directive.attributes) {
    if (!a.name.empty()) names.push_back(a.name);
  }
  return names;
}

// The suggestion for an attribute a directive does not read: a name it reads that differs but
// for case or one letter (short attribute names too: "nam" for "name"), else the attribute it
// needs and lacks.
// The first of `names` that `name` equals but for case or is one edit from; empty for none.
std::string_view nearAttribute(std::string_view name, const std::vector<std::string_view>& names) {
  for (const std::string_view candidate : names) {
    if (equalButForCase(candidate, name) || oneEditApart(candidate, name)) return candidate;
  }
  return {};
}

// What a message about an attribute the directive does not read suggests: the near attribute,
// else the required one when the element lacks it.
std::string attributeSuggestion(std::string_view near, const Directive& what,
                                const XMLElement* element) {
  if (!near.empty()) return "; did you mean " + std::string(near) + "?";
  const std::string_view required = what.required();
  if (!required.empty() && !element->hasAttribute(required)) {
    return "; did you mean " + std::string(required) + "?";
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

// The directives of the schema a name may be mistyped from: bit i for the one at index i that
// the name equals but for case, bit 16 + i for one a single edit away (names of four letters or
// more, lengths within one). One edit leaves the first or the last letter in place (names of
// three letters or more), and a name equal but for case has both: two tests of letters rule out
// most directives before the names are compared.
static_assert(kDirectiveCount <= 16);
std::uint32_t nearDirectives(std::string_view name) {
  const std::size_t length = name.size();
  if (length < 2) return 0;
  const auto first = static_cast<unsigned char>(name.front());
  const auto last = static_cast<unsigned char>(name.back());
  std::uint32_t near = 0;
  for (std::size_t i = 0; i < kDirectiveCount; ++i) {
    const std::string_view directive = kDirectives[i].name;
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

Failure DirectiveChecks::checkNames(const Step& step) {
  if (!scope_.findings.on(Check::IllFormedName)) return std::nullopt;
  const XMLElement* element = step.element;
  bool wellFormed = wellFormedName(element->name());
  for (std::uint32_t i = 0; i < element->attributeCount(); ++i)
    wellFormed = wellFormed && wellFormedName(element->attributes()[i].name());
  if (wellFormed) return std::nullopt;
  return illFormedNames(step);
}

Failure DirectiveChecks::illFormedNames(const Step& step) {
  const XMLElement* element = step.element;
  constexpr std::string_view why =
      " is no XML name (one starts with a letter, \"_\" or \":\"): the "
      "output is not well-formed XML";
  if (!wellFormedName(element->name())) {
    if (Failure failure = scope_.found(
            step, Check::IllFormedName,
            "the element name \"" + std::string(element->name()) + "\"" + std::string(why))) {
      return failure;
    }
  }
  for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
    const std::string_view name = element->attributes()[i].name();
    if (wellFormedName(name)) continue;
    if (Failure failure = scope_.found(step, Check::IllFormedName,
                                       "the attribute name " + std::string(name) + " of " +
                                           tag(element->name()) + std::string(why))) {
      return failure;
    }
  }
  return std::nullopt;
}

bool DirectiveChecks::findsNothingIn(const XMLElement& element, const CheckSettings& checks) {
  if (checks.on(Check::IllFormedName)) {
    if (!wellFormedName(element.name())) return false;
    for (std::uint32_t i = 0; i < element.attributeCount(); ++i) {
      if (!wellFormedName(element.attributes()[i].name())) return false;
    }
  }
  return !checks.on(Check::MisspelledDirective) || nearDirectives(element.name()) == 0;
}

Failure DirectiveChecks::checkStep(const Step& step) {
  if (Failure failure = checkNames(step)) return failure;
  // A case or default is read only inside a switch, never walked as a directive.
  const Directive* directive = directiveNamed(step.element->name());
  if (directive && directive->walked()) {
    // if, ifnot and foreach read every attribute and need none: only references left
    // unresolved in them are to check.
    if (directive->anyAttribute && step.unresolved.empty()) return std::nullopt;
    return checkDirective(step, *directive);
  }
  if (!scope_.findings.on(Check::MisspelledDirective)) return std::nullopt;
  return checkMisspelled(step);
}

Failure DirectiveChecks::checkDirective(const Step& step, const Directive& directive) {
  for (const Unresolved& u : step.unresolved) {
    // An attribute the directive does not read (one an include passes on) is checked where it
    // is written out.
    if (!directive.reads(u.attribute)) continue;
    if (directive.id == DirectiveId::Include && u.attribute == attr::kFilename) {
      // An include's file name is expanded once more, with the system macros.
      const auto name =
          scope_.env.expandWithSystemMacros(attributeText(step.element, attr::kFilename));
      if (name && name->find(u.reference) == std::string::npos) continue;
    }
    auto [check, suggestion, near] =
        scope_.unresolvedCheck(u.reference, Check::UnresolvedInDirective);
    std::vector<FixIt> fixes;
    if (!near.empty()) {
      fixes = scope_.renamingReference(*step.element, u.attribute, u.reference, near);
    }
    if (Failure failure = scope_.found(step, check,
                                       "unresolved " + u.reference + " in attribute " +
                                           std::string(u.attribute) + " of " + tag(directive.name) +
                                           ": the directive reads it as written" + suggestion,
                                       std::move(fixes))) {
      return failure;
    }
  }
  if (Failure failure = checkAttributes(step.element, step.frame, directive)) return failure;
  // The name an if, ifnot or switch tests is checked as the directive looks it up
  // (checkCondition).
  if (directive.id == DirectiveId::Switch) {
    const Directive& branches = ::directive(DirectiveId::Case);
    for (XMLNode* child = step.element->firstChild; child; child = child->next) {
      const XMLElement* branch = asElement(child);
      if (branch && branch->name() == branches.name) {
        if (Failure failure = checkAttributes(branch, step.frame, branches)) return failure;
      }
    }
    return std::nullopt;
  }
  return checkEvaluation(step, directive);
}

Failure DirectiveChecks::checkAttributes(const XMLElement* element, std::size_t frame,
                                         const Directive& directive) {
  const std::string_view required = directive.required();
  // if, ifnot and foreach read every attribute and need none.
  if (directive.anyAttribute && required.empty()) return std::nullopt;
  // An include copies the attributes its inherit_attributes names onto the included root.
  const std::string_view inherited = directive.id == DirectiveId::Include
                                         ? attributeText(element, attr::kInheritAttributes)
                                         : std::string_view();
  for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
    const std::string_view name = element->attributes()[i].name();
    if (directive.accepts(name)) continue;
    bool isInherited = false;
    forEachItem(inherited, ';', [&](std::string_view item) { isInherited |= item == name; });
    if (isInherited) continue;
    // An attribute near one the directive reads is most likely that one, misspelled.
    const std::vector<std::string_view> names = known(directive);
    const std::string_view near = nearAttribute(name, names);
    std::vector<FixIt> fixes;
    if (!near.empty()) {
      if (std::optional<FixIt> fix = scope_.renaming(name, near)) fixes.push_back(std::move(*fix));
    }
    if (Failure failure = scope_.findings.report(
            near.empty() ? Check::UnreadAttribute : Check::MisspelledAttribute,
            tag(directive.name) + " does not read attribute " + std::string(name) +
                attributeSuggestion(near, directive, element),
            scope_.locate(element, frame), std::move(fixes))) {
      return failure;
    }
  }
  // An ifex with an empty expression is no directive either.
  const bool given = directive.id == DirectiveId::Ifex ? !attributeText(element, required).empty()
                                                       : element->hasAttribute(required);
  if (required.empty() || given) return std::nullopt;
  return scope_.findings.report(Check::MissingAttribute,
                                tag(directive.name) + " without attribute " +
                                    std::string(required) + ": " + std::string(directive.without),
                                scope_.locate(element, frame));
}

std::uint32_t DirectiveChecks::nearDirectivesOf(std::string_view name) {
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

Failure DirectiveChecks::checkMisspelled(const Step& step) {
  const XMLElement* element = step.element;
  const std::string_view name = element->name();
  const std::uint32_t near = nearDirectivesOf(name);
  if (near == 0) return std::nullopt;
  // One letter away only for names of four letters or more, and only an element with
  // attributes: short or bare names are too often ordinary elements.
  const bool editable = name.size() >= 4 && element->attributeCount() > 0;
  for (std::size_t i = 0; i < kDirectiveCount; ++i) {
    const Directive& what = kDirectives[i];
    if (!what.walked()) continue;  // read only inside a switch
    const bool sameButCase = (near >> i & 1) != 0;
    const bool oneEdit = editable && (near >> (16 + i) & 1) != 0;
    if (!sameButCase && !oneEdit) continue;
    bool allRead = true;
    for (std::uint32_t k = 0; k < element->attributeCount(); ++k)
      allRead = allRead && what.accepts(element->attributes()[k].name());
    if (!allRead) continue;
    return scope_.found(step, Check::MisspelledDirective,
                        tag(name) +
                            " is no directive and is written out as an ordinary element; did "
                            "you mean " +
                            tag(what.name) + "?",
                        scope_.renamingElement(*element, what.name));
  }
  return std::nullopt;
}

Failure DirectiveChecks::checkCondition(const Step& step, std::string_view tested) {
  const MacroOrigin* origin = scope_.macros.originOf(tested);
  // A name an earlier condition tested while undefined is still one nobody defined.
  if (origin && origin->kind != MacroOrigin::Kind::Condition) return std::nullopt;
  const std::string_view near = nearestName(tested, scope_.macros.nearNames());
  // A name near a defined one is most likely that one, misspelled. An if or ifnot tests the
  // name of its attribute, which the fix renames; a switch's is a value, left as it is.
  std::vector<FixIt> fixes;
  if (!near.empty() && directiveNamed(step.element->name())->id != DirectiveId::Switch) {
    if (std::optional<FixIt> fix = scope_.renaming(tested, near)) fixes.push_back(std::move(*fix));
  }
  return scope_.found(step, near.empty() ? Check::UndefinedCondition : Check::MisspelledCondition,
                      tag(step.element->name()) + " tests " + std::string(tested) +
                          ", which is not defined here: it is taken as empty" +
                          (near.empty() ? "" : "; did you mean " + std::string(near) + "?"),
                      std::move(fixes));
}

Failure DirectiveChecks::notEvaluated(const Step& step, std::string_view directive,
                                      std::string_view attribute, std::string_view what,
                                      std::string_view then) const {
  return scope_.found(step, Check::NotEvaluated,
                      "attribute " + std::string(attribute) + " of " + tag(directive) + " (\"" +
                          std::string(attributeText(step.element, attribute)) + "\") " +
                          std::string(what) + ": " + std::string(then));
}

Failure DirectiveChecks::checkIfex(const Step& step, std::string_view text,
                                   std::optional<bool> truth) {
  const std::string_view ifex = directiveName(DirectiveId::Ifex);
  if (!truth) {
    // A number is a value, but no condition.
    return scope_.evaluator.unsignedValue(text)
               ? notEvaluated(step, ifex, attr::kExpression,
                              "is not a condition (a comparison, !, && or ||)",
                              "the condition is false")
               : notEvaluated(step, ifex, attr::kExpression, "is not an expression",
                              "the condition is false");
  }
  if (scope_.evaluator.endOfLast() == text.size()) return std::nullopt;
  return notEvaluated(step, ifex, attr::kExpression, ignoredRest(text),
                      *truth ? "the condition is true" : "the condition is false");
}

Failure DirectiveChecks::checkUncarried(const Step& step) {
  const XMLElement* element = step.element;
  const Directive* directive = directiveNamed(element->name());
  if (!directive) return std::nullopt;
  auto undefined = [&](std::string_view tested) {
    const MacroOrigin* origin = scope_.macros.originOf(tested);
    return !origin || origin->kind == MacroOrigin::Kind::Condition;
  };
  const DirectiveId id = directive->id;
  if ((id == DirectiveId::If || id == DirectiveId::Ifnot) && element->attributeCount() == 1) {
    const std::string_view tested = element->attributes()[0].name();
    if (undefined(tested)) return checkCondition(step, tested);
  } else if (id == DirectiveId::Switch && element->hasAttribute(attr::kName)) {
    const std::string_view tested = attributeText(element, attr::kName);
    if (undefined(tested)) return checkCondition(step, tested);
  } else if (id == DirectiveId::Ifex && !attributeText(element, attr::kExpression).empty()) {
    const auto text = scope_.expand(attributeText(element, attr::kExpression));
    if (!text) return std::nullopt;
    const std::optional<bool> truth = scope_.evaluator.truthValue(*text);
    if (!truth || scope_.evaluator.endOfLast() != text->size()) {
      return checkIfex(step, *text, truth);
    }
  }
  return std::nullopt;
}

std::string DirectiveChecks::ignoredRest(std::string_view text) const {
  return "is read up to \"" + std::string(text.substr(scope_.evaluator.endOfLast())) +
         "\", which is ignored";
}

Failure DirectiveChecks::checkBound(const Step& step, std::string_view attribute) {
  const std::string_view loop = directiveName(DirectiveId::For);
  const std::string_view text = attributeText(step.element, attribute);
  const std::optional<Value> value = scope_.evaluator.value(text);
  if (!value || (value->kind != ValueKind::Signed && value->kind != ValueKind::Floating)) {
    return notEvaluated(
        step, loop, attribute, "is not a number",
        attribute == attr::kEnd ? "it counts as 0, so the loop runs no times" : "it counts as 0");
  }
  // The loop counts with the low 32 bits of the value's 64.
  const std::uint64_t bits = value->toUnsignedBits();
  const std::string counts = "it counts as " + std::to_string(static_cast<std::uint32_t>(bits));
  if (scope_.evaluator.endOfLast() != text.size()) {
    return notEvaluated(step, loop, attribute, ignoredRest(text), counts);
  }
  if (value->kind == ValueKind::Floating) {
    return notEvaluated(step, loop, attribute, "is a floating-point number",
                        counts + " (the low 32 bits of its bit pattern)");
  }
  if (static_cast<std::int64_t>(bits) < 0) {
    return notEvaluated(step, loop, attribute, "is negative",
                        counts + " (the loop counts in 32 bits without a sign)");
  }
  if (bits > 0xFFFFFFFFu) {
    return notEvaluated(step, loop, attribute, "does not fit in 32 bits",
                        counts + " (its low 32 bits)");
  }
  return std::nullopt;
}

Failure DirectiveChecks::checkEvaluation(const Step& step, const Directive& directive) {
  const XMLElement* element = step.element;
  // Each text is evaluated as the directive will: the same expansions, the same evaluation. An
  // ifex's expression is checked as the directive evaluates it (checkIfex).
  if (directive.id == DirectiveId::Define && !element->hasAttribute(attr::kValue)) {
    for (const std::string_view attribute : {attr::kExpression, attr::kHexExpression}) {
      if (!element->hasAttribute(attribute)) continue;
      const auto text = scope_.expand(attributeText(element, attribute));
      if (!text) break;
      const std::optional<Value> value = scope_.evaluator.value(*text);
      if (!value || (value->kind != ValueKind::Signed && value->kind != ValueKind::Floating)) {
        return notEvaluated(step, directive.name, attribute, "is not an expression",
                            "the macro is not defined");
      }
      // The macro's value as the directive writes it.
      const auto low = static_cast<std::uint32_t>(value->toUnsignedBits());
      char digits[10];
      const std::string defined = "the macro is " + (attribute == attr::kHexExpression
                                                         ? std::string(formatUpperHex(low, digits))
                                                         : std::to_string(low));
      if (scope_.evaluator.endOfLast() != text->size()) {
        return notEvaluated(step, directive.name, attribute, ignoredRest(*text), defined);
      }
      if (value->kind == ValueKind::Floating) {
        return notEvaluated(step, directive.name, attribute, "is a floating-point number",
                            defined + " (the low 32 bits of its bit pattern)");
      }
      break;
    }
  } else if (directive.id == DirectiveId::For) {
    for (const std::string_view attribute : {attr::kStart, attr::kEnd, attr::kIncr}) {
      if (!element->hasAttribute(attribute)) continue;
      if (Failure failure = checkBound(step, attribute)) return failure;
    }
    for (const std::string_view attribute : {attr::kAdd, attr::kSub, attr::kMul}) {
      if (!element->hasAttribute(attribute)) continue;
      const auto text = scope_.expand(attributeText(element, attribute));
      if (!text) continue;
      const std::optional<std::int64_t> value = scope_.evaluator.signedValue(*text);
      if (!value) {
        return notEvaluated(step, directive.name, attribute, "is not a number", "it counts as 0");
      }
      if (scope_.evaluator.endOfLast() != text->size()) {
        return notEvaluated(step, directive.name, attribute, ignoredRest(*text),
                            "it counts as " + std::to_string(*value));
      }
    }
  }
  return std::nullopt;
}

Failure DirectiveChecks::checkSwitchBranch(const Step& step, std::string_view value) {
  return scope_.found(step, Check::NoSwitchBranch,
                      tag(directiveName(DirectiveId::Switch)) + " on " +
                          std::string(attributeText(step.element, attr::kName)) + ": value \"" +
                          std::string(value) + "\" matches no " +
                          tag(directiveName(DirectiveId::Case)) + " and there is no " +
                          tag(directiveName(DirectiveId::Default)) + ": nothing of it is written");
}
