#include "Walk.h"

#include <algorithm>

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

// Collects the names a text refers to when every "$" in it starts a reference "$(NAME)" whose
// NAME holds no "$", "(", ")" or ":": expanding such a text with a table changes it exactly where
// the table defines one of the names. False for any other text.
bool plainReferences(std::string_view text, std::vector<std::string_view>& names) {
  names.clear();
  for (std::size_t at = text.find('$'); at != std::string_view::npos; at = text.find('$', at)) {
    if (at + 1 == text.size() || text[at + 1] != '(') return false;
    const std::size_t close = text.find_first_of("$():", at + 2);
    if (close == std::string_view::npos || text[close] != ')') return false;
    names.push_back(text.substr(at + 2, close - at - 2));
    at = close + 1;
  }
  return true;
}

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

std::string_view attributeText(const XMLElement* element, std::string_view name) {
  return element->attribute(name).value_or(std::string_view());
}

Failure Preprocessor::run(const std::string& fileName, std::string_view macroList,
                          WalkListener* listener) {
  return run(fileName, parseMacroList(macroList), listener);
}

Failure Preprocessor::run(const std::string& fileName, const MacroMap& macros,
                          WalkListener* listener) {
  document_.recordRepairs = checks_.any();
  if (Failure failure = document_.load(fileName)) return failure;
  Findings findings(checks_, warnings_);
  if (findings.any()) {
    if (Failure failure = reportRepairs(findings, document_, fileName, {})) return failure;
    if (Failure failure = loadChecks(findings, document_, fileName)) return failure;
  }
  Walk walk(document_, environment_, loadedFiles_, includeDirs_, findings, listener);
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

Walk::LoopMaps::LoopMaps(std::shared_ptr<const LoopMaps> outerMaps, MacroTable iteration,
                         Definers& registry)
    : outer(std::move(outerMaps)),
      table(std::move(iteration)),
      depth(outer ? outer->depth + 1 : 0),
      jump(this),
      definers(registry) {
  // Jump pointers as in a skew-binary list: each leads back 1, 3, 7, ... levels, so that the
  // maps at any depth of the chain are reached in a logarithmic number of steps.
  if (const LoopMaps* up = outer.get()) {
    const LoopMaps* far = up->jump;
    jump = up->depth - far->depth == far->depth - far->jump->depth ? far->jump : up;
  }
  table.forEach([&](const std::string& name, const std::string&, const MacroOrigin&) {
    definers[name].push_back(this);
  });
}

Walk::LoopMaps::~LoopMaps() {
  table.forEach([&](const std::string& name, const std::string&, const MacroOrigin&) {
    const auto it = definers.find(name);
    std::vector<const LoopMaps*>& list = it->second;
    // The newest maps usually go first: look from the back.
    list.erase(std::find(list.rbegin(), list.rend(), this).base() - 1);
    if (list.empty()) definers.erase(it);
  });
  // A chain of maps as long as loops are nested is released link by link, not by destructors
  // calling one another.
  LoopMapsPtr next = std::move(outer);
  while (next && next.use_count() == 1) {
    LoopMapsPtr after = std::move(next->outer);
    next = std::move(after);
  }
}

const Walk::LoopMaps* Walk::LoopMaps::ancestorAt(std::uint32_t target) const {
  const LoopMaps* maps = this;
  while (maps->depth > target)
    maps = maps->jump->depth >= target ? maps->jump : maps->outer.get();
  return maps;
}

Failure Walk::unresolvedFinding(const Unresolved& unresolved, const XMLElement* element,
                                std::size_t frame) const {
  return findings_.report(Check::UnresolvedMacro,
                          "unresolved " + unresolved.reference + " in attribute " +
                              std::string(unresolved.attribute) + " of <" +
                              std::string(element->name()) + ">",
                          locate(element, frame));
}

Failure Walk::unresolvedFindings(const Step& step) const {
  for (const Unresolved& unresolved : step.unresolved) {
    if (Failure failure = unresolvedFinding(unresolved, step.element, step.frame)) return failure;
  }
  return std::nullopt;
}

template <bool kListened>
[[gnu::always_inline]] inline std::optional<std::string_view> Walk::expandWithLoopMaps(
    std::string_view value, const LoopMaps* maps, const MacroTable* last) {
  // A value without references is shared, not copied.
  if (!MacroEnvironment::hasReferences(value)) return value;
  if (maps) return expandThroughChain<kListened>(value, *maps, last);
  // A copy of a body whose loop has no loop around it: its own iteration only.
  const std::optional<std::string_view> expanded = expandWithTable<kListened>(*last, value);
  if (!expanded) return std::nullopt;
  return expanded->data() == value.data() ? value : doc_.duplicateString(*expanded);
}

template <bool kListened>
std::optional<std::string_view> Walk::expandThroughChain(std::string_view value,
                                                         const LoopMaps& maps,
                                                         const MacroTable* last) {
  std::string_view text = value;
  auto apply = [&](const MacroTable& table) {
    const std::optional<std::string_view> expanded = expandWithTable<kListened>(table, text);
    if (!expanded) return false;
    if (expanded->data() != text.data()) {
      passText_.swap(buffer_);  // the expansion's output becomes the text of the next one
      text = passText_;
    }
    return true;
  };
  // The chain's tables apply outermost first. Where the chain is short, each in turn; where it
  // is long, a plain value (see plainReferences) skips the tables that cannot change it: the
  // outermost table at depth `from` or deeper that defines one of its names applies next.
  constexpr std::uint32_t kIndexedFrom = 8;
  std::uint32_t from = 0;
  while (from <= maps.depth && MacroEnvironment::hasReferences(text)) {
    if (maps.depth < kIndexedFrom || !plainReferences(text, names_)) {
      mapChain_.clear();
      for (const LoopMaps* m = &maps; m && m->depth >= from; m = m->outer.get())
        mapChain_.push_back(&m->table);
      for (auto it = mapChain_.rbegin(); it != mapChain_.rend(); ++it) {
        if (!apply(**it)) return std::nullopt;
      }
      break;
    }
    const LoopMaps* next = firstDefiner(names_, maps, from);
    if (!next) break;
    if (!apply(next->table)) return std::nullopt;
    from = next->depth + 1;
  }
  if (last && !apply(*last)) return std::nullopt;
  return text.data() == value.data() ? value : doc_.duplicateString(text);
}

const Walk::LoopMaps* Walk::firstDefiner(const std::vector<std::string_view>& names,
                                         const LoopMaps& maps, std::uint32_t from) const {
  const LoopMaps* first = nullptr;
  for (const std::string_view name : names) {
    const auto it = definers_.find(name);
    if (it == definers_.end()) continue;
    // The maps of one chain are made outermost first, so the oldest that is on the chain is the
    // outermost.
    for (const LoopMaps* candidate : it->second) {
      if (candidate->depth < from || candidate->depth > maps.depth) continue;
      if (first && candidate->depth >= first->depth) continue;
      if (maps.ancestorAt(candidate->depth) == candidate) {
        first = candidate;
        break;
      }
    }
  }
  return first;
}

template <bool kListened>
const XMLAttribute* Walk::applyLoopMapsAs(XMLElement* element, const LoopMaps& maps,
                                          const std::string* file) {
  XMLAttribute* attributes = element->attributes();
  for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
    XMLAttribute& a = attributes[i];
    if constexpr (kListened) relayAt(element, file, a.name(), true);
    const std::optional<std::string_view> value = expandWithLoopMaps<kListened>(
        a.isNull() ? std::string_view("") : a.value(), &maps, nullptr);
    if (!value) return &a;
    a.setValue(*value);
  }
  // Loops copy elements and kept text only.
  XMLNode** link = &element->firstChild;
  while (*link) {
    XMLNode* node = *link;
    if (node->isText()) {
      // Kept text is expanded without the listener: the trace tells attribute values only.
      auto* piece = static_cast<XMLText*>(node);
      const std::optional<std::string_view> value =
          expandWithLoopMaps<false>(piece->text(), &maps, nullptr);
      if (!value) return &kText;
      piece->setText(*value);
    }
    if (node->isElement() || node->isText()) {
      link = &node->next;
    } else {
      *link = node->next;
    }
  }
  return nullptr;
}

Failure Walk::childrenAsCopied(Step& step) {
  if (const LoopMapsPtr maps = std::move(step.loopMaps)) {
    std::vector<XMLElement*> stack{step.element};
    while (!stack.empty()) {
      XMLElement* next = stack.back();
      stack.pop_back();
      if (next != step.element) {
        if (const XMLAttribute* a =
                applyLoopMaps(next, *maps, frames_[step.frame].context.sourceFile)) {
          return tooLong(*next, a->name(), step.element, step.frame);
        }
      }
      for (XMLNode* child = next->firstChild; child; child = child->next) {
        if (child->isElement()) stack.push_back(static_cast<XMLElement*>(child));
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string_view> Walk::expandPrepared(PreparedValues& prepared,
                                                     std::string_view value,
                                                     const MacroTable& iteration) {
  if (!MacroEnvironment::hasReferences(value)) return value;
  // The first copy prepares each value; the later ones meet the same values in the same order.
  if (prepared.next == prepared.entries.size()) {
    prepared.entries.push_back(env_.prepare(iteration, value));
  }
  const std::optional<PreparedExpansion>& expansion = prepared.entries[prepared.next++];
  if (!expansion) return expandWithLoopMaps<false>(value, nullptr, &iteration);
  const std::optional<std::size_t> size = expansion->size();
  if (!size) return std::nullopt;
  // Stored as duplicateString stores a copy: followed by a NUL byte.
  char* bytes = doc_.arena().allocateArray<char>(*size + 1);
  expansion->writeTo(bytes);
  bytes[*size] = '\0';
  return std::string_view(bytes, *size);
}

Expected<XMLElement*> Walk::copyWithMacros(const Step& step, const XMLElement* body,
                                           const MacroTable& iteration, PreparedValues* prepared) {
  // The copy goes on past a value that grows too long (with that value empty), and then fails
  // for the first such value.
  const XMLElement* tooLongIn = nullptr;
  std::string_view tooLongAttribute;
  const XMLElement* element = nullptr;
  auto expanded = [&](const XMLAttribute& a) {
    const std::string_view value = a.isNull() ? std::string_view("") : a.value();
    if (const auto result =
            prepared ? expandPrepared(*prepared, value, iteration)
                     : expandWithLoopMaps<false>(value, step.loopMaps.get(), &iteration)) {
      return XMLAttribute{a.name(), *result};
    }
    if (!tooLongIn) {
      tooLongIn = element;
      tooLongAttribute = a.name();
    }
    return XMLAttribute{a.name(), std::string_view("")};
  };
  auto* copy =
      static_cast<XMLElement*>(XMLDocument::copyTree(body, [&](const XMLNode* node) -> XMLNode* {
        if (node->isText()) {
          // The text of `element`, the element copied last.
          const std::string_view text = static_cast<const XMLText*>(node)->text();
          if (const auto result =
                  expandWithLoopMaps<false>(text, step.loopMaps.get(), &iteration)) {
            return doc_.make<XMLText>(*result);
          }
          if (!tooLongIn) {
            tooLongIn = element;
            tooLongAttribute = {};
          }
          return doc_.make<XMLText>(std::string_view());
        }
        if (!node->isElement()) return nullptr;  // loops copy elements and kept text only
        element = static_cast<const XMLElement*>(node);
        return doc_.copyAttributes(element, expanded);
      }));
  if (tooLongIn) return tooLong(*tooLongIn, tooLongAttribute, step.element, step.frame);
  if (listener_) tellCopyReferences(step, body, iteration);
  return copy;
}

void Walk::tellCopyReferences(const Step& step, const XMLElement* body,
                              const MacroTable& iteration) {
  // The copy's values are expanded once more, told to the listener, and dropped: the copy above
  // stays the same code with or without a listener.
  std::vector<const XMLElement*> stack{body};
  while (!stack.empty()) {
    const XMLElement* element = stack.back();
    stack.pop_back();
    for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
      const XMLAttribute& a = element->attributes()[i];
      relayAt(element, frames_[step.frame].context.sourceFile, a.name(), true);
      expandWithLoopMaps<true>(a.isNull() ? std::string_view("") : a.value(), step.loopMaps.get(),
                               &iteration);
    }
    // Children in reverse, so that they are told in document order.
    std::vector<const XMLElement*> children;
    for (const XMLNode* child = element->firstChild; child; child = child->next) {
      if (child->isElement()) children.push_back(static_cast<const XMLElement*>(child));
    }
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
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
template const XMLAttribute* Walk::applyLoopMapsAs<false>(XMLElement*, const LoopMaps&,
                                                          const std::string*);
template const XMLAttribute* Walk::applyLoopMapsAs<true>(XMLElement*, const LoopMaps&,
                                                         const std::string*);
