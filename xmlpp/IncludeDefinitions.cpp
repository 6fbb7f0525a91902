#include "IncludeDefinitions.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ReaderChecks.h"
#include "files/FilePath.h"
#include "files/InputFile.h"

Decision IncludeDefinitions::decide(DirectiveId directive, Step& step) {
  switch (directive) {
    case DirectiveId::Include:
      return include(step);
    case DirectiveId::Define:
      return define(step);
    case DirectiveId::Xmldef:
      return xmldef(step);
    default:
      return xmlput(step);
  }
}

const std::string* IncludeDefinitions::keptPath(const std::string& path) {
  const auto [kept, added] = paths_.insert(path);
  if (added) loadedFiles_.push_back(path);
  return &*kept;
}

bool IncludeDefinitions::readable(const std::string& path) const {
  // A text the document's file source has (an editor's unsaved buffer) counts as a file; a file
  // the source refuses counts when it exists, so that loading it reports why.
  const XMLDocument& doc = scope_.doc;
  if (doc.fileSource) {
    if (std::optional<Expected<std::string_view>> given = doc.fileSource->text(path)) {
      if (*given) return true;
    }
  }
  return inputIdentity(path).has_value();
}

const std::string* IncludeDefinitions::searchIncludeDirs(const std::string& name,
                                                         std::string& lookedAt) const {
  for (const std::string& dir : includeDirs_) {
    std::string candidate = dir + "/" + name;
    if (readable(candidate)) return &dir;
    if (!lookedAt.empty()) lookedAt.append(", ");
    lookedAt.append(candidate);
  }
  return nullptr;
}

IncludeDefinitions::Found IncludeDefinitions::find(const std::string& name,
                                                   const WalkContext& context) const {
  // Relative names are joined to the including file's directory by plain prefixing, never
  // normalised, so messages show the path exactly as it was opened.
  Found found{
      name.starts_with('/') ? name : directoryOf(*context.fileName) + "/" + name, nullptr, {}};
  if (!name.starts_with('/') && !includeDirs_.empty() && !readable(found.path)) {
    found.includeDir = searchIncludeDirs(name, found.lookedAt);
    if (found.includeDir) found.path = *found.includeDir + "/" + name;
  }
  return found;
}

Decision IncludeDefinitions::include(Step& step) {
  ++scope_.lastingEffects;
  XMLDocument& doc = scope_.doc;
  const XMLElement* directive = step.element;
  if (!directive->hasAttribute(attr::kFilename)) {
    return scope_.fail(step, "missing filename in <include>");
  }
  const std::optional<std::string> expanded =
      scope_.env.expandWithSystemMacros(attributeText(directive, attr::kFilename));
  if (!expanded) return scope_.tooLong(*directive, attr::kFilename, directive, step.frame);
  const Found found = find(*expanded, *step.context);
  if (scope_.listener) {
    scope_.listener->include(
        IncludeEvent{WalkScope::placeOf(step), *expanded, found.path, found.includeDir});
  }
  if (step.context->includeDepth >= kMaxNesting) {
    return scope_.fail(
        step, "include nesting deeper than " + std::to_string(kMaxNesting) + " at " + found.path);
  }
  if (written_) {
    if (Failure clash = written_->checkRead("an included file", found.path)) {
      clash->locations = scope_.locate(directive, step.frame);
      return std::move(*clash);
    }
  }
  XMLElement* previousRoot = doc.root;
  Failure loadFailure = doc.load(found.path, LoadRole::Include);
  if (Failure failure = loadChecks(step, found, std::move(loadFailure))) {
    return std::move(*failure);
  }
  XMLElement* root = doc.root;
  doc.root = previousRoot;
  return Outcome{Outcome::Kind::Include, root, keptPath(found.path)};
}

Failure IncludeDefinitions::loadChecks(const Step& step, const Found& found, Failure loadFailure) {
  const XMLDocument& doc = scope_.doc;
  const XMLElement* directive = step.element;
  const std::string& path = found.path;
  // Where something went wrong inside the file, then where the include is.
  // A failure without a place in the file (one that could not be read) is located at the include.
  auto inside = [&](Diagnostic failure) {
    if (failure.check.empty()) {
      if (failure.cause.empty()) failure.cause = failure.message;
      failure.message.insert(0, "XmlPP::processConditionals(): ");
    }
    if (!found.lookedAt.empty()) {
      const std::string lookedAt = " (also looked for " + found.lookedAt + ")";
      failure.message.append(lookedAt);
      if (!failure.cause.empty()) failure.cause.append(lookedAt);
    }
    std::vector<SourceLocation> chain = scope_.locate(directive, step.frame);
    if (!failure.locations.empty()) chain.front().role = SourceLocation::Role::IncludedFrom;
    failure.locations.insert(failure.locations.end(), chain.begin(), chain.end());
    return failure;
  };
  Findings& findings = scope_.findings;
  if (!doc.repairs.empty()) {
    std::vector<SourceLocation> chain = scope_.locate(directive, step.frame);
    chain.front().role = SourceLocation::Role::IncludedFrom;
    if (Failure failure = reportRepairs(findings, doc, path, chain)) return failure;
  }
  // A file read to its end should close what it opens. Without a root, the failure below says so,
  // and a warning would only repeat it.
  if (findings.on(Check::UnclosedElement) && !loadFailure && doc.unclosed &&
      (doc.root || findings.asErrors())) {
    Diagnostic unclosed = inside(
        Diagnostic::found(checkName(Check::UnclosedElement), endsInsideMessage(path, *doc.unclosed),
                          {{SourceLocation::Role::At, path, doc.unclosed->line, 0}}));
    if (Failure failure = findings.report(Check::UnclosedElement, std::move(unclosed.message),
                                          std::move(unclosed.locations))) {
      return failure;
    }
  }
  // A failed load reports its own error only when it completed a root element before it.
  if (loadFailure) return inside(std::move(*loadFailure));
  if (!doc.root) {
    // A file read to its end that holds no element: located at the element left open, if any.
    Diagnostic empty = Diagnostic::failure("error: include file '" + path + "' is empty");
    empty.cause = path + " holds no element";
    if (const std::optional<XMLDocument::OpenElement>& open = doc.unclosed) {
      empty.locations.push_back({SourceLocation::Role::At, path, open->line, open->column});
      empty.cause = XMLDocument::openedAt(*open) + " is not closed";
    }
    return inside(std::move(empty));
  }
  return std::nullopt;
}

Failure IncludeDefinitions::entered(const Step& step, XMLElement* root, std::size_t frame,
                                    const std::string* file) {
  const XMLElement* directive = step.element;
  scope_.defineMacrosAttribute(directive, step.context->sourceFile);
  std::vector<Unresolved> own;
  if (Failure failure = scope_.expandAttributes(root, frame, file, own)) return failure;
  // The root's values are expanded here rather than by the walk, which starts at its children.
  if (scope_.listener && file) scope_.listener->reached(*root, *file, scope_.macros);
  // The root is written out unless it is unwrapped.
  const bool written = root->name() != kEnvelope && !directive->hasAttribute(attr::kNoRoot);
  if (textOf(root)) {
    Failure failure = written ? scope_.expandText(root, frame)
                              : scope_.dropText(root, frame,
                                                "the root is unwrapped, and only elements take "
                                                "the include's place");
    if (failure) return failure;
  }
  if (written && (scope_.findings.on(Check::UnresolvedMacro) ||
                  scope_.findings.on(Check::MisspelledMacro))) {
    return checkWrittenRoot(step, root, frame, own);
  }
  return std::nullopt;
}

Failure IncludeDefinitions::checkWrittenRoot(const Step& step, const XMLElement* root,
                                             std::size_t frame,
                                             const std::vector<Unresolved>& own) const {
  const XMLElement* directive = step.element;
  const std::vector<Unresolved>& given = step.unresolved;
  if (own.empty() && given.empty()) return std::nullopt;
  // Inherited attributes replace the root's own of the same name.
  std::unordered_set<std::string_view> inherited;
  forEachItem(attributeText(directive, attr::kInheritAttributes), ';',
              [&](std::string_view name) { inherited.insert(name); });
  for (const Unresolved& u : own) {
    if (inherited.contains(u.attribute)) continue;
    if (Failure failure = scope_.unresolvedFinding(u, root, frame)) return failure;
  }
  // A reference that comes with an inherited value is reported where it is written.
  for (const Unresolved& u : given) {
    if (!inherited.contains(u.attribute)) continue;
    if (Failure failure = scope_.unresolvedFinding(u, directive, step.frame)) return failure;
  }
  return std::nullopt;
}

void IncludeDefinitions::inheritAttributes(XMLElement* root, const XMLElement* directive) {
  const std::string_view list = attributeText(directive, attr::kInheritAttributes);
  if (list.empty()) return;
  // Names are looked up through hash tables, so a long list costs no more than its length.
  std::unordered_map<std::string_view, const XMLAttribute*> given;
  for (std::uint32_t i = 0; i < directive->attributeCount(); ++i)
    given.emplace(directive->attributes()[i].name(), &directive->attributes()[i]);
  std::vector<XMLAttribute> merged(root->attributes(), root->attributes() + root->attributeCount());
  std::unordered_map<std::string_view, std::size_t> position;
  for (std::size_t k = 0; k < merged.size(); ++k)
    position.emplace(merged[k].name(), k);
  forEachItem(list, ';', [&](std::string_view name) {
    // A name the include element lacks gives an attribute without a value.
    const auto it = given.find(name);
    const std::string_view value =
        it != given.end() && !it->second->isNull() ? it->second->value() : std::string_view();
    const auto [at, added] = position.emplace(name, merged.size());
    if (added) {
      merged.emplace_back(name, value);
    } else {
      merged[at->second] = XMLAttribute(merged[at->second].name(), value);
    }
  });
  const auto count = static_cast<std::uint32_t>(merged.size());
  XMLAttribute* records = scope_.doc.arena().allocateArray<XMLAttribute>(count);
  std::copy(merged.begin(), merged.end(), records);
  root->adoptAttributes(records, count);
}

Expected<bool> IncludeDefinitions::finished(XMLElement* root, const XMLElement* directive,
                                            bool hasParent, std::size_t frame) {
  inheritAttributes(root, directive);
  const bool unwrap = root->name() == kEnvelope || directive->hasAttribute(attr::kNoRoot);
  if (unwrap && !hasParent) {
    // The walk has been through the root's content since the include was carried out.
    return scope_.failAt(directive, frame,
                         "<" + std::string(root->name()) + "> cannot be the root element");
  }
  return unwrap;
}

Decision IncludeDefinitions::define(Step& step) {
  const XMLElement* directive = step.element;
  if (!directive->hasAttribute(attr::kName)) return scope_.fail(step, "missing name in <define>");
  std::string_view name = attributeText(directive, attr::kName);
  const MacroOrigin origin = scope_.originOf(step, MacroOrigin::Kind::Define);
  if (directive->hasAttribute(attr::kValue)) {
    scope_.macros.set(name, attributeText(directive, attr::kValue), origin);
    if (scope_.listener) tellDefine(step, name, attr::kValue, true, origin);
  } else if (directive->hasAttribute(attr::kExpression) ||
             directive->hasAttribute(attr::kHexExpression)) {
    bool hex = !directive->hasAttribute(attr::kExpression);
    const std::string_view attribute = hex ? attr::kHexExpression : attr::kExpression;
    const std::optional<std::string_view> text = scope_.expand(attributeText(directive, attribute));
    if (!text) return scope_.tooLong(*directive, attribute, directive, step.frame);
    // The low 32 bits of the value, in decimal or as "0x" and upper-case hexadecimal.
    if (const std::optional<std::uint64_t> value = scope_.evaluator.unsignedValue(*text)) {
      const auto low = static_cast<std::uint32_t>(*value);
      char digits[10];
      scope_.macros.set(name, hex ? formatUpperHex(low, digits) : std::to_string(low), origin);
      if (scope_.listener) tellDefine(step, name, attribute, true, origin);
    } else if (scope_.listener) {
      tellDefine(step, name, attribute, false, origin);
    }
  } else {
    return scope_.fail(step, "missing value or expression in <define>");
  }
  return Outcome{Outcome::Kind::Remove};
}

Decision IncludeDefinitions::xmldef(Step& step) {
  ++scope_.lastingEffects;
  if (!step.element->hasAttribute(attr::kName)) return Outcome{Outcome::Kind::Keep};
  // The registry has no scopes: a later definition of the name replaces an earlier one. The
  // fragment is registered as a loop's copy would have held it.
  if (Failure failure = scope_.childrenAsCopied(step)) return std::move(*failure);
  fragments_.insert_or_assign(std::string(attributeText(step.element, attr::kName)),
                              Fragment{step.element, step.context->sourceFile});
  return Outcome{Outcome::Kind::Remove};
}

Decision IncludeDefinitions::xmlput(Step& step) {
  ++scope_.lastingEffects;
  const XMLElement* directive = step.element;
  if (!directive->hasAttribute(attr::kName)) return Outcome{Outcome::Kind::Keep};
  std::string_view name = attributeText(directive, attr::kName);
  auto it = fragments_.find(name);
  if (it == fragments_.end()) {
    return scope_.fail(step, "xmlput cannot fine xmldef named " + std::string(name));
  }
  if (step.context->xmlputDepth >= kMaxNesting) {
    return scope_.fail(step, "xmlput nesting deeper than " + std::to_string(kMaxNesting) + " at " +
                                 std::string(name));
  }
  // Every use starts from a fresh copy of the registered fragment.
  const Fragment& fragment = it->second;
  if (scope_.listener) {
    scope_.listener->put(PutEvent{WalkScope::placeOf(step), name, fragment.element, fragment.file});
  }
  return Outcome{Outcome::Kind::Put, scope_.doc.copyElement(fragment.element), fragment.file};
}

void IncludeDefinitions::tellDefine(const Step& step, std::string_view name,
                                    std::string_view attribute, bool set,
                                    const MacroOrigin& origin) {
  const std::string* value = set ? scope_.macros.find(name) : nullptr;
  scope_.listener->define(DefineEvent{WalkScope::placeOf(step), name,
                                      value ? std::string_view(*value) : "", attribute, set,
                                      origin});
}
