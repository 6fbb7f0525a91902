// The include and definition directives: "include", "define", "xmldef" and "xmlput".

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ReaderChecks.h"
#include "Walk.h"
#include "files/FilePath.h"
#include "files/InputFile.h"
#include "macros/MacroList.h"

void Walk::defineMacrosAttribute(const XMLElement* directive, const std::string* file) {
  if (!directive->hasAttribute("macros")) return;
  const MacroOrigin origin{MacroOrigin::Kind::MacrosAttribute, file, directive->name().data()};
  for (const auto& [name, value] :
       parseMacroList(withoutLineFeeds(attributeText(directive, "macros")))) {
    macros_.set(name, value, origin);
    if (listener_) {
      listener_->define(DefineEvent{{directive, file}, name, value, "macros", true, origin});
    }
  }
}

const std::string* Walk::keptPath(const std::string& path) {
  const auto [kept, added] = paths_.insert(path);
  if (added) loadedFiles_.push_back(path);
  return &*kept;
}

bool Walk::readable(const std::string& path) const {
  // A text the document's file source has (an editor's unsaved buffer) counts as a file.
  return (doc_.fileSource && doc_.fileSource->text(path)) || inputIdentity(path);
}

const std::string* Walk::searchIncludeDirs(const std::string& name, std::string& lookedAt) const {
  for (const std::string& dir : includeDirs_) {
    std::string candidate = dir + "/" + name;
    if (readable(candidate)) return &dir;
    if (!lookedAt.empty()) lookedAt.append(", ");
    lookedAt.append(candidate);
  }
  return nullptr;
}

Walk::Decision Walk::doInclude(Step& step) {
  ++lastingEffects_;
  const XMLElement* directive = step.element;
  if (!directive->hasAttribute("filename")) return fail(step, "missing filename in <include>");
  const std::optional<std::string> expanded =
      env_.expandWithSystemMacros(attributeText(directive, "filename"));
  if (!expanded) return tooLong(*directive, "filename", directive, step.frame);
  const std::string& name = *expanded;
  // Relative names are joined to the including file's directory by plain prefixing, never
  // normalised, so messages show the path exactly as it was opened.
  const Context& context = frames_[step.frame].context;
  std::string path = name.starts_with('/') ? name : directoryOf(*context.fileName) + "/" + name;
  std::string elsewhere;  // the include folders looked in, for the message when none has it
  const std::string* includeDir = nullptr;
  if (!name.starts_with('/') && !includeDirs_.empty() && !readable(path)) {
    includeDir = searchIncludeDirs(name, elsewhere);
    if (includeDir) path = *includeDir + "/" + name;
  }
  if (listener_) listener_->include(IncludeEvent{placeOf(step), name, path, includeDir});
  if (context.includeDepth >= kMaxNesting) {
    return fail(step, "include nesting deeper than " + std::to_string(kMaxNesting) + " at " + path);
  }
  XMLElement* previousRoot = doc_.root;
  Failure loadFailure = doc_.load(path, LoadRole::Include);
  // Where something went wrong inside the file, then where the include is.
  // A failure without a place in the file (one that could not be read) is located at the include.
  auto inside = [&](Diagnostic failure) {
    if (failure.check.empty()) failure.message.insert(0, "XmlPP::processConditionals(): ");
    if (!elsewhere.empty()) failure.message.append(" (also looked for " + elsewhere + ")");
    std::vector<SourceLocation> chain = locate(directive, step.frame);
    if (!failure.locations.empty()) chain.front().role = SourceLocation::Role::IncludedFrom;
    failure.locations.insert(failure.locations.end(), chain.begin(), chain.end());
    return failure;
  };
  if (!doc_.repairs.empty()) {
    std::vector<SourceLocation> chain = locate(directive, step.frame);
    chain.front().role = SourceLocation::Role::IncludedFrom;
    if (Failure failure = reportRepairs(findings_, doc_, path, chain)) return std::move(*failure);
  }
  // A file read to its end should close what it opens (its root, when it has none).
  if (findings_.on(Check::UnclosedElement) && !loadFailure && doc_.unclosed) {
    Diagnostic unclosed = inside(Diagnostic::found(
        checkName(Check::UnclosedElement), endsInsideMessage(path, *doc_.unclosed),
        {{SourceLocation::Role::At, path, doc_.unclosed->line, 0}}));
    if (Failure failure = findings_.report(Check::UnclosedElement, std::move(unclosed.message),
                                           std::move(unclosed.locations))) {
      return std::move(*failure);
    }
  }
  // A failed load reports its own error only when it completed a root element before it.
  if (loadFailure) return inside(std::move(*loadFailure));
  if (!doc_.root) {
    // A file read to its end that holds no element: located at the element left open, if any.
    Diagnostic empty = Diagnostic::failure("error: include file '" + path + "' is empty");
    if (doc_.unclosed) {
      empty.locations.push_back({SourceLocation::Role::At, path, doc_.unclosed->line, 0});
    }
    return inside(std::move(empty));
  }
  XMLElement* root = doc_.root;
  doc_.root = previousRoot;
  return Outcome{Outcome::Kind::Include, root, keptPath(path)};
}

Failure Walk::enterInclude(Step& step, XMLElement* root, const std::string* file) {
  XMLElement* directive = step.element;
  Frame& frame = frames_[step.frame];
  const std::string* directiveFile = frame.context.sourceFile;
  if (frame.owner) {
    // The included root takes the include element's place in the chain.
    root->next = directive->next;
    if (frame.prev) {
      frame.prev->next = root;
    } else {
      frame.owner->firstChild = root;
    }
  } else {
    doc_.root = root;
  }
  frame.node = root;
  // The content is walked in a scope of its own, which a childless root leaves at once; the
  // root's own attributes (and kept text) are expanded in it too. Included files are new
  // content: no loop maps apply to them.
  Context context = frame.context;
  context.fileName = file;
  context.sourceFile = file;
  context.loopMaps = nullptr;
  ++context.includeDepth;
  XMLNode* text = textOf(root);
  pushChildFrame(text ? nullptr : root->firstChild, std::move(context),
                 Finish{Outcome::Kind::Include, root, directive});
  defineMacrosAttribute(directive, directiveFile);
  std::vector<Unresolved> own;
  if (Failure failure = expandAttributes(root, frames_.size() - 1, own)) return failure;
  // The root is written out unless it is unwrapped.
  const bool written = root->name() != "envelope" && !directive->hasAttribute("no_root");
  if (text) {
    Failure failure = written ? expandText(root, frames_.size() - 1)
                              : dropText(root, frames_.size() - 1,
                                         "the root is unwrapped, and only elements take the "
                                         "include's place");
    if (failure) return failure;
  }
  if (written && findings_.on(Check::UnresolvedMacro)) return checkWrittenRoot(step, root, own);
  return std::nullopt;
}

Failure Walk::checkWrittenRoot(const Step& step, const XMLElement* root,
                               const std::vector<Unresolved>& own) const {
  const XMLElement* directive = step.element;
  const std::vector<Unresolved>& given = step.unresolved;
  if (own.empty() && given.empty()) return std::nullopt;
  // Inherited attributes replace the root's own of the same name.
  std::unordered_set<std::string_view> inherited;
  forEachItem(attributeText(directive, "inherit_attributes"), ';',
              [&](std::string_view name) { inherited.insert(name); });
  for (const Unresolved& u : own) {
    if (inherited.contains(u.attribute)) continue;
    if (Failure failure = unresolvedFinding(u, root, frames_.size() - 1)) return failure;
  }
  // A reference that comes with an inherited value is reported where it is written.
  for (const Unresolved& u : given) {
    if (!inherited.contains(u.attribute)) continue;
    if (Failure failure = unresolvedFinding(u, directive, step.frame)) return failure;
  }
  return std::nullopt;
}

void Walk::inheritAttributes(XMLElement* root, const XMLElement* directive) {
  const std::string_view list = attributeText(directive, "inherit_attributes");
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
  XMLAttribute* records = doc_.arena().allocateArray<XMLAttribute>(count);
  std::copy(merged.begin(), merged.end(), records);
  root->adoptAttributes(records, count);
}

Failure Walk::finishInclude(Frame& frame, const Finish& finish, XMLNode* last) {
  XMLElement* root = finish.source;
  const XMLElement* directive = finish.directive;
  inheritAttributes(root, directive);
  const bool unwrap = root->name() == "envelope" || directive->hasAttribute("no_root");
  if (unwrap && !frame.owner) {
    // The walk has been through the root's content since the include was carried out.
    return failAt(directive, frames_.size() - 1,
                  "<" + std::string(root->name()) + "> cannot be the root element");
  }
  if (unwrap) {
    spliceChildren(frame, root, root, last);
    return std::nullopt;
  }
  frame.prev = root;
  frame.node = root->next;
  return std::nullopt;
}

Walk::Decision Walk::doDefine(Step& step) {
  const XMLElement* directive = step.element;
  if (!directive->hasAttribute("name")) return fail(step, "missing name in <define>");
  std::string_view name = attributeText(directive, "name");
  const MacroOrigin origin = originOf(step, MacroOrigin::Kind::Define);
  if (directive->hasAttribute("value")) {
    macros_.set(name, attributeText(directive, "value"), origin);
    if (listener_) tellDefine(step, name, "value", true, origin);
  } else if (directive->hasAttribute("expression") || directive->hasAttribute("hex_expression")) {
    bool hex = !directive->hasAttribute("expression");
    const std::string_view attribute = hex ? "hex_expression" : "expression";
    const std::optional<std::string_view> text = expand(attributeText(directive, attribute));
    if (!text) return tooLong(*directive, attribute, directive, step.frame);
    // The low 32 bits of the value, in decimal or as "0x" and upper-case hexadecimal.
    if (const std::optional<std::uint64_t> value = evaluator_.unsignedValue(*text)) {
      const auto low = static_cast<std::uint32_t>(*value);
      char digits[10];
      macros_.set(name, hex ? formatUpperHex(low, digits) : std::to_string(low), origin);
      if (listener_) tellDefine(step, name, attribute, true, origin);
    } else if (listener_) {
      tellDefine(step, name, attribute, false, origin);
    }
  } else {
    return fail(step, "missing value or expression in <define>");
  }
  return Outcome{Outcome::Kind::Remove};
}

Walk::Decision Walk::doXmldef(Step& step) {
  ++lastingEffects_;
  if (!step.element->hasAttribute("name")) return Outcome{Outcome::Kind::Keep};
  // The registry has no scopes: a later definition of the name replaces an earlier one. The
  // fragment is registered as a loop's copy would have held it.
  if (Failure failure = childrenAsCopied(step)) return std::move(*failure);
  fragments_.insert_or_assign(std::string(attributeText(step.element, "name")),
                              Fragment{step.element, frames_[step.frame].context.sourceFile});
  return Outcome{Outcome::Kind::Remove};
}

Walk::Decision Walk::doXmlput(Step& step) {
  ++lastingEffects_;
  const XMLElement* directive = step.element;
  if (!directive->hasAttribute("name")) return Outcome{Outcome::Kind::Keep};
  std::string_view name = attributeText(directive, "name");
  auto it = fragments_.find(name);
  if (it == fragments_.end()) {
    return fail(step, "xmlput cannot fine xmldef named " + std::string(name));
  }
  if (frames_[step.frame].context.xmlputDepth >= kMaxNesting) {
    return fail(step, "xmlput nesting deeper than " + std::to_string(kMaxNesting) + " at " +
                          std::string(name));
  }
  // Every use starts from a fresh copy of the registered fragment.
  const Fragment& fragment = it->second;
  if (listener_) {
    listener_->put(PutEvent{placeOf(step), name, fragment.element, fragment.file});
  }
  return Outcome{Outcome::Kind::Put, doc_.copyElement(fragment.element), fragment.file};
}

void Walk::tellDefine(const Step& step, std::string_view name, std::string_view attribute, bool set,
                      const MacroOrigin& origin) {
  const std::string* value = set ? macros_.find(name) : nullptr;
  listener_->define(DefineEvent{placeOf(step), name, value ? std::string_view(*value) : "",
                                attribute, set, origin});
}
