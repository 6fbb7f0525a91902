#include "Walk.h"

SourceLocation Walk::at(SourceLocation::Role role, const std::string& file,
                        const XMLElement* element) const {
  return SourceLocation{role, file, scope_.doc.lineOf(element), scope_.doc.columnOf(element)};
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

Failure Walk::run(const std::string& fileName, const MacroMap& macros,
                  const MacroSources* sources) {
  scope_.macros = MacroTable(macros, sources);
  const std::string* file = includes_.keptPath(fileName);
  frames_.push_back(
      Frame{nullptr, scope_.doc.root, nullptr, WalkContext{file, file, {}, 0, 0}, Finish{}, {}});
  return scope_.listener ? walk<true>() : walk<false>();
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
      scope_.macros.leaveScope();
      if (Failure failure = finishFrame(frames_.back(), finish, last)) return failure;
      continue;
    }
    if (!frame.node->isElement()) {
      frame.prev = frame.node;
      frame.node = frame.node->next;
      continue;
    }
    Step step{static_cast<XMLElement*>(frame.node), top, &frame.context, nullptr, {}};
    if (loops_.goesOn(step.element)) {
      Decision decision = resumeFor(step);
      if (!decision) return std::move(decision.error());
      if (Failure failure = carryOut(step, *decision)) return failure;
      continue;
    }
    if (Failure failure = begin<kListened>(step)) return failure;
    if constexpr (kListened) {
      scope_.listener->reached(*step.element, *frames_[top].context.sourceFile, scope_.macros);
    }
    if (scope_.findings.any()) {
      if (Failure failure = checks_.checkStep(step)) return failure;
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
    if (const XMLAttribute* a = scope_.applyLoopMapsAs<kListened>(step.element, *step.loopMaps,
                                                                  frame.context.sourceFile)) {
      return scope_.tooLong(*step.element, a->name(), step.element, step.frame);
    }
  }
  if (step.element->valuesFinal()) return std::nullopt;  // a loop's copy, complete as made
  return scope_.expandAttributesAs<kListened>(step.element, step.frame, frame.context.sourceFile,
                                              step.unresolved);
}

namespace {

// The schema's directives that the walk carries out where it meets them.
constexpr std::size_t kWalkedCount = [] {
  std::size_t count = 0;
  while (count < kDirectiveCount && kDirectives[count].walked())
    ++count;
  return count;
}();

// The walked directives' names' lengths and first letters: most elements are no directive, and
// these two tests tell so without comparing names.
struct DirectiveFilter {
  std::size_t shortest = SIZE_MAX;
  std::size_t longest = 0;
  bool firstLetter[256] = {};
  constexpr DirectiveFilter() {
    for (std::size_t i = 0; i < kWalkedCount; ++i) {
      const std::string_view name = kDirectives[i].name;
      shortest = name.size() < shortest ? name.size() : shortest;
      longest = name.size() > longest ? name.size() : longest;
      firstLetter[static_cast<unsigned char>(name[0])] = true;
    }
  }
  bool mayBeDirective(std::string_view name) const {
    return name.size() >= shortest && name.size() <= longest &&
           firstLetter[static_cast<unsigned char>(name[0])];
  }
};
constexpr DirectiveFilter kFilter;

}  // namespace

const Directive* Walk::walkedDirective(std::string_view name) {
  if (!kFilter.mayBeDirective(name)) return nullptr;
  for (std::size_t i = 0; i < kWalkedCount; ++i) {
    if (kDirectives[i].name == name) return &kDirectives[i];
  }
  return nullptr;
}

[[gnu::always_inline]] inline Decision Walk::decide(Step& step) {
  const Directive* directive = walkedDirective(step.element->name());
  if (!directive) return Outcome{Outcome::Kind::Keep};
  if (!frames_[step.frame].owner && directive->id != DirectiveId::Include) return atRoot(step);
  if (textOf(step.element)) return decideWithText(step, *directive);
  return dispatch(*directive, step);
}

[[gnu::always_inline]] inline Decision Walk::dispatch(const Directive& directive, Step& step) {
  switch (directive.group) {
    case DirectiveGroup::Conditionals:
      return conditionals_.decide(directive.id, step);
    case DirectiveGroup::IncludeDefinitions:
      return includes_.decide(directive.id, step);
    case DirectiveGroup::Loops:
    case DirectiveGroup::Branches:
      break;
  }
  return loops_.decide(directive.id, step);
}

Decision Walk::atRoot(const Step& step) {
  if (scope_.findings.any()) {
    if (Failure failure = checks_.checkUncarried(step)) return std::move(*failure);
  }
  // A directive must have a parent to splice into or to be removed from.
  return scope_.fail(step,
                     "<" + std::string(step.element->name()) + "> cannot be the root element");
}

Decision Walk::decideWithText(Step& step, const Directive& directive) {
  // The directive decides on its element without the text; one it keeps as an ordinary element
  // keeps its text too.
  XMLElement* element = step.element;
  XMLNode* text = element->firstChild;
  element->firstChild = nullptr;
  Decision decision = dispatch(directive, step);
  if (!decision) return decision;
  if (decision->kind == Outcome::Kind::Keep) {
    element->firstChild = text;
  } else if (Failure failure = scope_.dropText(element, step.frame, WalkScope::kDirectiveContent)) {
    return std::move(*failure);
  }
  return decision;
}

Decision Walk::resumeFor(Step& step) {
  Frame& frame = frames_[step.frame];
  // The copies of the last iteration left nothing in the chain, or what they left went to the
  // output with the rest of the chain before the loop.
  const bool leftNothing = frame.prev == loops_.copiesBefore() || outputFinished(frame, step.frame);
  return loops_.resume(step, leftNothing, frame.prev);
}

[[gnu::always_inline]] inline Failure Walk::carryOut(Step& step, Outcome& outcome) {
  switch (outcome.kind) {
    case Outcome::Kind::Keep:
      return keep(step);
    case Outcome::Kind::Include:
      return enterInclude(step, outcome.source, outcome.file);
    case Outcome::Kind::Remove:
      if (!outcome.handedOver.empty()) listHandedOver(frames_[step.frame], outcome.handedOver);
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

void Walk::listHandedOver(Frame& frame, std::vector<HandedOver>& handedOver) {
  frame.handedOver.insert(frame.handedOver.end(), std::make_move_iterator(handedOver.rbegin()),
                          std::make_move_iterator(handedOver.rend()));
}

Failure Walk::finishFrame(Frame& parent, const Finish& finish, XMLNode* last) {
  // A frame finishes a kept element, an include, or a replacement (Replace, Put).
  if (finish.kind == Outcome::Kind::Include) {
    Expected<bool> unwrap = includes_.finished(finish.source, finish.directive,
                                               parent.owner != nullptr, frames_.size() - 1);
    if (!unwrap) return std::move(unwrap.error());
    if (*unwrap) {
      spliceChildren(parent, finish.source, finish.source, last);
    } else {
      parent.prev = finish.source;
      parent.node = finish.source->next;
    }
    return std::nullopt;
  }
  if (finish.kind == Outcome::Kind::Keep) {
    parent.prev = finish.source;
    parent.node = finish.source->next;
  } else {
    spliceChildren(parent, finish.source, finish.directive, last);
  }
  return std::nullopt;
}

void Walk::pushChildFrame(XMLNode* first, WalkContext context, const Finish& finish) {
  scope_.macros.enterScope();
  frames_.push_back(Frame{finish.source, first, nullptr, std::move(context), finish, {}});
}

Failure Walk::keep(const Step& step) {
  XMLElement* element = step.element;
  // A kept element is written out as its values stand now (a check looks at them).
  if (!step.unresolved.empty()) {
    if (Failure failure = scope_.unresolvedFindings(step)) return failure;
  }
  Frame& frame = frames_[step.frame];
  if (!element->firstChild || element->firstChild->isText()) {
    if (element->firstChild) {
      if (Failure failure = scope_.expandText(element, step.frame)) return failure;
    }
    frame.prev = element;
    frame.node = element->next;
    return std::nullopt;
  }
  WalkContext context = frame.context;
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

void Walk::enterChildren(Step& step, const Finish& finish, const std::string* file) {
  Frame& frame = frames_[step.frame];
  if (!finish.source->firstChild) {
    return spliceChildren(frame, finish.source, finish.directive, nullptr);
  }
  WalkContext context = frame.context;
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
    scope_.defineMacrosAttribute(step.element, frames_[step.frame].context.sourceFile);
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

Failure Walk::enterInclude(Step& step, XMLElement* root, const std::string* file) {
  XMLElement* directive = step.element;
  Frame& frame = frames_[step.frame];
  if (frame.owner) {
    // The included root takes the include element's place in the chain.
    root->next = directive->next;
    if (frame.prev) {
      frame.prev->next = root;
    } else {
      frame.owner->firstChild = root;
    }
  } else {
    scope_.doc.root = root;
  }
  frame.node = root;
  // The content is walked in a scope of its own, which a childless root leaves at once; the
  // root's own attributes (and kept text) are expanded in it too. Included files are new
  // content: no loop maps apply to them.
  WalkContext context = frame.context;
  context.fileName = file;
  context.sourceFile = file;
  context.loopMaps = nullptr;
  ++context.includeDepth;
  pushChildFrame(textOf(root) ? nullptr : root->firstChild, std::move(context),
                 Finish{Outcome::Kind::Include, root, directive});
  step.context = &frames_[step.frame].context;  // the frames may have moved
  return includes_.entered(step, root, frames_.size() - 1, file);
}

bool Walk::outputFinished(Frame& frame, std::size_t index) {
  // The root element's own chain is frame 0; frame 1 walks its children.
  XMLDocument& doc = scope_.doc;
  if (!output_ || index != 1 || frame.owner != doc.root || !frame.prev) return false;
  for (XMLNode* node = frame.owner->firstChild; node != frame.node; node = node->next) {
    // The first can be refused (the output cannot be opened); a later one is not.
    if (!output_->takeFinished(*doc.root, *node)) return false;
  }
  frame.owner->firstChild = frame.node;
  frame.prev = nullptr;
  return true;
}

void Walk::repeatAfter(Frame& frame, XMLElement* loop, XMLNode* lastCopy) {
  if (!lastCopy) return;  // no copies: the walk meets the loop again at once
  XMLNode* first = loop->next;
  loop->next = lastCopy->next;
  lastCopy->next = loop;
  if (frame.prev) {
    frame.prev->next = first;
  } else {
    frame.owner->firstChild = first;
  }
  frame.node = first;
}
