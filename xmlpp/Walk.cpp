#include "Walk.h"

#include "ReaderChecks.h"
#include "macros/MacroList.h"

namespace {

// The names' lengths and first letters, worked out from the directive table: most elements are
// no directive, and these two tests tell so without comparing names.
struct DirectiveFilter {
  std::size_t shortest = SIZE_MAX;
  std::size_t longest = 0;
  bool firstLetter[256] = {};
  template <class Entry, std::size_t N>
  constexpr explicit DirectiveFilter(const Entry (&table)[N]) {
    for (const Entry& entry : table) {
      shortest = entry.name.size() < shortest ? entry.name.size() : shortest;
      longest = entry.name.size() > longest ? entry.name.size() : longest;
      firstLetter[static_cast<unsigned char>(entry.name[0])] = true;
    }
  }
  bool mayBeDirective(std::string_view name) const {
    return name.size() >= shortest && name.size() <= longest &&
           firstLetter[static_cast<unsigned char>(name[0])];
  }
};

SourceLocation at(SourceLocation::Role role, const std::string& file, std::int32_t line) {
  return SourceLocation{role, file, line, 0};
}

// The checks of a file just loaded into `document`: it should hold an element and close every
// element it opens.
Failure loadChecks(Findings& findings, const XMLDocument& document, const std::string& path) {
  if (document.unclosed) {
    if (Failure failure =
            findings.report(Check::UnclosedElement, endsInsideMessage(path, *document.unclosed),
                            {at(SourceLocation::Role::At, path, document.unclosed->line)})) {
      return failure;
    }
  }
  if (!document.root) return findings.report(Check::NoElement, path + " holds no element", {});
  return std::nullopt;
}

}  // namespace

std::string endsInsideMessage(const std::string& path, const XMLDocument::OpenElement& open) {
  return path + " ends inside <" + std::string(open.name) + ">, opened on line " +
         std::to_string(open.line + 1);
}

std::string withoutLineFeeds(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    if (c != '\n') result.push_back(c);
  }
  return result;
}

std::string_view formatUpperHex(std::uint32_t value, char (&buffer)[10]) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char* p = buffer + sizeof buffer;
  do {
    *--p = kDigits[value & 15];
    value >>= 4;
  } while (value);
  *--p = 'x';
  *--p = '0';
  return std::string_view(p, static_cast<std::size_t>(buffer + sizeof buffer - p));
}

Failure Preprocessor::run(const std::string& fileName, std::string_view macroList,
                          WalkListener* listener) {
  return run(fileName, parseMacroList(macroList), listener);
}

Failure Preprocessor::run(const std::string& fileName, const MacroMap& macros,
                          WalkListener* listener, RunOutput* output) {
  document_.recordRepairs = checks_.any();
  if (listener || checks_.any() || document_.keepText) output = nullptr;  // they need the tree
  if (Failure failure = document_.load(fileName, LoadRole::Input, output)) return failure;
  Findings findings(checks_, warnings_);
  if (findings.any()) {
    if (Failure failure = reportRepairs(findings, document_, fileName, {})) return failure;
    if (Failure failure = loadChecks(findings, document_, fileName)) return failure;
  }
  Walk walk(document_, environment_, loadedFiles_, includeDirs_, findings, listener, output);
  return walk.run(fileName, macros);
}

template <bool kListened>
Failure Walk::expandAttributesAs(XMLElement* element, std::size_t frame,
                                 std::vector<Unresolved>& unresolved) {
  XMLAttribute* attributes = element->attributes();
  for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
    XMLAttribute& a = attributes[i];
    if (a.isNull() || !MacroEnvironment::hasReferences(a.value())) continue;
    if constexpr (kListened) relayAt(element, frames_[frame].context.sourceFile, a.name(), false);
    const std::optional<std::string_view> value =
        expandInScope<kListened>(a.value(), collectUnresolved_ ? &reference_ : nullptr);
    if (!value) return tooLong(*element, a.name(), element, frame);
    if (value->data() != a.value().data() && *value != a.value()) {
      a.setValue(doc_.duplicateString(*value));
    }
    if (!reference_.empty()) unresolved.push_back(Unresolved{reference_, a.name()});
  }
  return std::nullopt;
}

Diagnostic Walk::tooLong(const XMLElement& element, std::string_view attribute,
                         const XMLElement* at, std::size_t frame) const {
  std::string message =
      (attribute.empty() ? "the text" : "the value of attribute " + std::string(attribute)) +
      " of <" + std::string(element.name()) + "> would be longer than 16 MiB";
  // A definition's value is named by its macro.
  if (element.name() == "define" && element.hasAttribute("name")) {
    message += " (macro " + std::string(attributeText(&element, "name")) + ")";
  }
  return failAt(at, frame, std::move(message));
}

Diagnostic Walk::fail(const Step& step, std::string message) const {
  return failAt(step.element, step.frame, std::move(message));
}

Diagnostic Walk::failAt(const XMLElement* element, std::size_t frame, std::string message) const {
  return Diagnostic::failure("XmlPP::processConditionals(): " + std::move(message),
                             locate(element, frame));
}

SourceLocation Walk::at(SourceLocation::Role role, const std::string& file,
                        const XMLElement* element) const {
  return SourceLocation{role, file, doc_.lineOf(element), doc_.columnOf(element)};
}

std::vector<SourceLocation> Walk::locate(const XMLElement* element, std::size_t frame) const {
  std::vector<SourceLocation> chain{
      at(SourceLocation::Role::At, *frames_[frame].context.sourceFile, element)};
  // A frame for the content of an include or xmlput was pushed by the directive, an element of
  // the chain of the frame below it.
  for (std::size_t i = frame; i > 0; --i) {
    const Finish& finish = frames_[i].finish;
    if (finish.kind != Outcome::Kind::Include && finish.kind != Outcome::Kind::Put) continue;
    chain.push_back(at(finish.kind == Outcome::Kind::Put ? SourceLocation::Role::PutFrom
                                                         : SourceLocation::Role::IncludedFrom,
                       *frames_[i - 1].context.sourceFile, finish.directive));
  }
  return chain;
}

Failure Walk::run(const std::string& fileName, const MacroMap& macros) {
  macros_ = MacroTable(macros);
  const std::string* file = keptPath(fileName);
  frames_.push_back(
      Frame{nullptr, doc_.root, nullptr, Context{file, file, {}, 0, 0}, Finish{}, {}});
  return listener_ ? walk<true>() : walk<false>();
}

template <bool kListened>
Failure Walk::walk() {
  while (true) {
    const std::size_t top = frames_.size() - 1;
    Frame& frame = frames_[top];
    if (!frame.node) {
      if (top == 0) break;
      const Finish finish = frame.finish;
      XMLNode* last = frame.prev;
      frames_.pop_back();
      macros_.leaveScope();
      if (Failure failure = finishFrame(frames_.back(), finish, last)) return failure;
      continue;
    }
    if (!frame.node->isElement()) {
      frame.prev = frame.node;
      frame.node = frame.node->next;
      continue;
    }
    Step step{static_cast<XMLElement*>(frame.node), top, nullptr, {}};
    if (!forLoops_.empty() && forLoops_.back()->element == step.element) {
      Decision decision = continueFor(step);
      if (!decision) return std::move(decision.error());
      if (Failure failure = carryOut(step, *decision)) return failure;
      continue;
    }
    if (Failure failure = begin<kListened>(step)) return failure;
    if constexpr (kListened) {
      listener_->reached(*step.element, *frames_[top].context.sourceFile, macros_);
    }
    if (findings_.any()) {
      if (Failure failure = checkStep(step)) return failure;
    }
    Decision decision = decide(step);
    if (!decision) return std::move(decision.error());
    if (Failure failure = carryOut(step, *decision)) return failure;
  }
  return std::nullopt;
}

template <bool kListened>
[[gnu::always_inline]] inline Failure Walk::begin(Step& step) {
  Frame& frame = frames_[step.frame];
  if (!frame.handedOver.empty() && frame.handedOver.back().element == step.element) {
    step.loopMaps = std::move(frame.handedOver.back().maps);
    frame.handedOver.pop_back();
  } else {
    step.loopMaps = frame.context.loopMaps;
  }
  if (step.loopMaps) {
    if (const XMLAttribute* a =
            applyLoopMapsAs<kListened>(step.element, *step.loopMaps, frame.context.sourceFile)) {
      return tooLong(*step.element, a->name(), step.element, step.frame);
    }
  }
  if (step.element->valuesFinal()) return std::nullopt;  // a loop's copy, complete as made
  return expandAttributesAs<kListened>(step.element, step.frame, step.unresolved);
}

// The directives by name: the one list of what the walk carries out, and how.
constexpr Walk::DirectiveEntry Walk::kDirectives[] = {
    {"if", &Walk::doIf},           {"ifnot", &Walk::doIfnot},   {"ifex", &Walk::doIfex},
    {"ifdef", &Walk::doIfdef},     {"ifndef", &Walk::doIfndef}, {"switch", &Walk::doSwitch},
    {"include", &Walk::doInclude}, {"define", &Walk::doDefine}, {"for", &Walk::doFor},
    {"xmldef", &Walk::doXmldef},   {"xmlput", &Walk::doXmlput}, {"foreach", &Walk::doForeach}};

bool Walk::mayBeDirective(std::string_view name) {
  static constexpr DirectiveFilter kFilter(kDirectives);
  return kFilter.mayBeDirective(name);
}

bool Walk::isDirective(std::string_view name) {
  if (!mayBeDirective(name)) return false;
  for (const auto& entry : kDirectives) {
    if (entry.name == name) return true;
  }
  return false;
}

bool Preprocessor::keepsAsRead(const XMLElement& element) {
  if (Walk::isDirective(element.name())) return false;
  for (std::uint32_t i = 0; i < element.attributeCount(); ++i) {
    const XMLAttribute& a = element.attributes()[i];
    if (!a.isNull() && MacroEnvironment::hasReferences(a.value())) return false;
  }
  return true;
}

[[gnu::always_inline]] inline Walk::Decision Walk::decide(Step& step) {
  const std::string_view name = step.element->name();
  if (!mayBeDirective(name)) return Outcome{Outcome::Kind::Keep};
  for (const auto& [text, handler] : kDirectives) {
    if (name != text) continue;
    if (!frames_[step.frame].owner && handler != &Walk::doInclude) return atRoot(step);
    if (textOf(step.element)) return decideWithText(step, handler);
    return (this->*handler)(step);
  }
  return Outcome{Outcome::Kind::Keep};
}

Walk::Decision Walk::atRoot(const Step& step) {
  if (findings_.any()) {
    if (Failure failure = checkUncarried(step)) return std::move(*failure);
  }
  // A directive must have a parent to splice into or to be removed from.
  return fail(step, "<" + std::string(step.element->name()) + "> cannot be the root element");
}

[[gnu::always_inline]] inline Failure Walk::carryOut(Step& step, const Outcome& outcome) {
  switch (outcome.kind) {
    case Outcome::Kind::Keep:
      return keep(step);
    case Outcome::Kind::Include:
      return enterInclude(step, outcome.source, outcome.file);
    case Outcome::Kind::Remove:
      remove(frames_[step.frame], step.element);
      return std::nullopt;
    case Outcome::Kind::Repeat:
      repeatAfter(frames_[step.frame], step.element, outcome.source);
      return std::nullopt;
    case Outcome::Kind::Replace:
    case Outcome::Kind::Put:
      break;
  }
  enterChildren(step, Finish{outcome.kind, outcome.source, step.element}, outcome.file);
  return std::nullopt;
}

Failure Walk::finishFrame(Frame& parent, const Finish& finish, XMLNode* last) {
  // A frame finishes a kept element, an include, or a replacement (Replace, Put).
  if (finish.kind == Outcome::Kind::Include) return finishInclude(parent, finish, last);
  if (finish.kind == Outcome::Kind::Keep) {
    parent.prev = finish.source;
    parent.node = finish.source->next;
  } else {
    spliceChildren(parent, finish.source, finish.directive, last);
  }
  return std::nullopt;
}

void Walk::pushChildFrame(XMLNode* first, Context context, const Finish& finish) {
  macros_.enterScope();
  frames_.push_back(Frame{finish.source, first, nullptr, std::move(context), finish, {}});
}

Failure Walk::keep(const Step& step) {
  XMLElement* element = step.element;
  // A kept element is written out as its values stand now (a check looks at them).
  if (!step.unresolved.empty()) {
    if (Failure failure = unresolvedFindings(step)) return failure;
  }
  Frame& frame = frames_[step.frame];
  if (!element->firstChild || element->firstChild->isText()) {
    if (element->firstChild) {
      if (Failure failure = expandText(element, step.frame)) return failure;
    }
    frame.prev = element;
    frame.node = element->next;
    return std::nullopt;
  }
  Context context = frame.context;
  context.loopMaps = step.loopMaps;
  pushChildFrame(element->firstChild, std::move(context),
                 Finish{Outcome::Kind::Keep, element, nullptr});
  return std::nullopt;
}

void Walk::remove(Frame& frame, XMLElement* element) {
  XMLNode* next = element->next;
  if (frame.prev) {
    frame.prev->next = next;
  } else if (frame.owner) {
    frame.owner->firstChild = next;
  }
  element->next = nullptr;
  frame.node = next;
}

void Walk::enterChildren(const Step& step, const Finish& finish, const std::string* file) {
  Frame& frame = frames_[step.frame];
  if (!finish.source->firstChild) {
    return spliceChildren(frame, finish.source, finish.directive, nullptr);
  }
  Context context = frame.context;
  context.loopMaps = step.loopMaps;
  if (finish.kind == Outcome::Kind::Put) {
    // Includes in the fragment still resolve against the file of the xmlput; its elements were
    // written in the fragment's file, and they are new content: no loop maps apply to them.
    context.sourceFile = file;
    context.loopMaps = nullptr;
    ++context.xmlputDepth;
  }
  pushChildFrame(finish.source->firstChild, std::move(context), finish);
  if (finish.kind == Outcome::Kind::Put) {
    defineMacrosAttribute(step.element, frames_[step.frame].context.sourceFile);
  }
}

void Walk::spliceChildren(Frame& frame, XMLElement* source, XMLElement* directive, XMLNode* last) {
  XMLNode* next = directive->next;
  if (XMLNode* first = source->firstChild) {
    last->next = directive->next;
    directive->next = first;
    source->firstChild = nullptr;
  }
  // The directive leaves the chain; what stood after it (the moved children, then `next`) stays.
  XMLNode* after = directive->next;
  if (frame.prev) {
    frame.prev->next = after;
  } else if (frame.owner) {
    frame.owner->firstChild = after;
  }
  directive->next = nullptr;
  frame.node = next;
  if (last) frame.prev = last;
}

// Both instances of the expansions, for the directive groups that call them.
template Failure Walk::expandAttributesAs<false>(XMLElement*, std::size_t,
                                                 std::vector<Unresolved>&);
template Failure Walk::expandAttributesAs<true>(XMLElement*, std::size_t, std::vector<Unresolved>&);
