// The loop directives "for" and "foreach": copies of the body, expanded with the loop variables,
// are inserted after the loop element, which is then removed, so the walk goes on with the first
// copy in the enclosing scope. The last iteration needs no copy: the body itself is handed over,
// and its loop variables are applied as the walk reaches each of its elements (Walk::LoopMaps).
// So a loop costs its copies, and loops nested inside one another cost no more than the elements
// they hold. The loop maps (what a handed-over body still carries) and the copies are made here.
// A for loop whose copies are complete as made inserts one iteration's copies at a time before
// itself, and goes on when the walk meets it again (Walk::ForLoop): copies that left nothing
// behind give their memory to the next, so a loop of conditions that are mostly false does not
// keep every iteration in memory.

#include <algorithm>
#include <charconv>

#include "Walk.h"

namespace {

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

// Sets `text` to the decimal digits of `value`, reusing its storage.
void setDecimal(std::string& text, std::uint32_t value) {
  char digits[10];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  text.assign(digits, result.ptr);
}

// Adds one to the decimal number in `text`.
void incrementDecimal(std::string& text) {
  for (std::size_t i = text.size(); i-- > 0;) {
    if (text[i] != '9') {
      ++text[i];
      return;
    }
    text[i] = '0';
  }
  text.insert(text.begin(), '1');
}

void setUpperHex(std::string& text, std::uint32_t value) {
  char buffer[10];
  text.assign(formatUpperHex(value, buffer));
}

// True when counting from `start` by `increment` (modulo 2^32) never reaches `end`: the largest
// value the counter can take is 2^32 - g + (start mod g), g the largest power of two dividing the
// increment (2^32 for an increment of 0).
bool neverEnds(std::uint32_t start, std::uint32_t end, std::uint32_t increment) {
  std::uint64_t g = increment == 0 ? std::uint64_t{1} << 32 : (increment & (0u - increment));
  std::uint64_t largest = (std::uint64_t{1} << 32) - g + start % g;
  return largest < end;
}

// A loop goes one iteration at a time (Walk::iterateFor) when it has at most this many.
constexpr std::uint64_t kOneAtATimeIterations = std::uint64_t{1} << 24;

// The number of iterations of a loop that ends (start below end, neverEnds false), or any number
// above `limit` when it has more. Without a wrap the count is a division; a counter that wraps
// (a "negative" increment, or one that steps past 2^32) is followed step by step, at most
// `limit` + 1 steps.
std::uint64_t iterationCount(std::uint32_t start, std::uint32_t end, std::uint32_t increment,
                             std::uint64_t limit) {
  const std::uint64_t steps = (std::uint64_t{end - start} + increment - 1) / increment;
  if (start + steps * increment <= 0xFFFFFFFFu) return steps;
  std::uint32_t counter = start;
  std::uint64_t count = 0;
  do {
    ++count;
    counter += increment;
  } while (counter < end && count <= limit);
  return count;
}

}  // namespace

Failure Walk::insertBody(const Step& step, MacroTable& iteration, bool last,
                         XMLNode** insertionPoint, std::vector<HandedOver>& handedOver,
                         PreparedValues& prepared) {
  XMLElement* loop = step.element;
  auto link = [&](XMLElement* element) {
    element->next = (*insertionPoint)->next;
    (*insertionPoint)->next = element;
    *insertionPoint = element;
  };
  if (!last) {
    // Copies are complete: in a chain that has loop maps, they are listed as having none.
    const bool chainHasMaps = frames_[step.frame].context.loopMaps != nullptr;
    prepared.next = 0;
    for (XMLNode* child = loop->firstChild; child; child = child->next) {
      const XMLElement* body = asElement(child);
      if (!body) continue;  // only elements are copied
      Expected<XMLElement*> copy =
          copyWithMacros(step, body, iteration, step.loopMaps ? nullptr : &prepared);
      if (!copy) return std::move(copy.error());
      link(*copy);
      if (chainHasMaps) handedOver.push_back({*copy, nullptr});
    }
    return std::nullopt;
  }
  const auto maps =
      std::make_shared<const LoopMaps>(step.loopMaps, std::move(iteration), definers_);
  XMLNode* child = loop->firstChild;
  loop->firstChild = nullptr;
  while (child) {
    XMLNode* next = child->next;
    if (XMLElement* body = asElement(child)) {
      link(body);
      handedOver.push_back({body, maps});
    }
    child = next;
  }
  return std::nullopt;
}

void Walk::finishLoop(const Step& step, std::vector<HandedOver>& handedOver) {
  std::vector<HandedOver>& chain = frames_[step.frame].handedOver;
  chain.insert(chain.end(), handedOver.rbegin(), handedOver.rend());
}

Walk::Decision Walk::doFor(Step& step) {
  const XMLElement* loop = step.element;
  bool complete = loop->hasAttribute("index") && loop->hasAttribute("start") &&
                  loop->hasAttribute("end") && loop->hasAttribute("incr") && loop->firstChild;
  if (!complete) return fail(step, "<for index=\"i\" start=\"0\" end=\"32\" incr=\"1\">");
  // Every value is used as its low 32 bits; a text that fails to evaluate counts as 0. The
  // offset and factor are expanded once more before they are evaluated.
  Failure failure;
  auto evaluateSigned = [&](std::string_view name) -> std::uint32_t {
    const std::optional<std::string_view> text = expand(attributeText(loop, name));
    if (!text) {
      if (!failure) failure = tooLong(*loop, name, loop, step.frame);
      return 0;
    }
    return static_cast<std::uint32_t>(evaluator_.signedValue(*text).value_or(0));
  };
  auto evaluateUnsigned = [&](std::string_view name) {
    return static_cast<std::uint32_t>(
        evaluator_.unsignedValue(attributeText(loop, name)).value_or(0));
  };
  std::uint32_t offset = 0;
  if (loop->hasAttribute("add")) {
    offset = evaluateSigned("add");
  } else if (loop->hasAttribute("sub")) {
    offset = 0u - evaluateSigned("sub");
  }
  std::uint32_t factor = loop->hasAttribute("mul") ? evaluateSigned("mul") : 1;
  if (failure) return std::move(*failure);
  std::string index(attributeText(loop, "index"));
  std::uint32_t start = evaluateUnsigned("start");
  std::uint32_t end = evaluateUnsigned("end");
  std::uint32_t increment = evaluateUnsigned("incr");
  if (!(start < end)) {
    if (listener_) listener_->loop(LoopEvent{placeOf(step), false, 0});
    return Outcome{Outcome::Kind::Remove};
  }
  if (neverEnds(start, end, increment)) {
    return fail(step, "<for index=\"" + index + "\"> never ends");
  }
  auto state = std::make_unique<ForLoop>();
  ForLoop& forLoop = *state;
  forLoop.element = step.element;
  const MacroOrigin origin = originOf(step, MacroOrigin::Kind::Loop);
  forLoop.value = &forLoop.iteration.define(index, origin);
  forLoop.alpha = &forLoop.iteration.define(index + "_alpha", origin);
  forLoop.hex = &forLoop.iteration.define(index + "_hex", origin);
  forLoop.ap = &forLoop.iteration.define(index + "_ap", origin);
  forLoop.apHex = &forLoop.iteration.define(index + "_ap_hex", origin);
  forLoop.counter = start;
  forLoop.apCounter = factor * start + offset;
  forLoop.end = end;
  forLoop.increment = increment;
  forLoop.apIncrement = increment * factor;
  forLoop.planned = iterationCount(start, end, increment, kOneAtATimeIterations);
  forLoop.prepared.plainValues = true;
  forLoops_.push_back(std::move(state));
  return iterateFor(step, forLoop);
}

Walk::Decision Walk::iterateFor(Step& step, ForLoop& loop) {
  // Copies made one iteration at a time are walked before the next are made, which changes
  // nothing when they are complete as made. A loop of more than 2^24 iterations makes them all
  // at once: such a loop is almost always a mistake (an end of -1, or a start of -3 counting
  // down, gives over four billion), and its copies' memory then ends the run, where one
  // iteration at a time would write for hours.
  const bool oneAtATime = !listener_ && !findings_.any() && !step.loopMaps &&
                          !frames_[step.frame].context.loopMaps &&
                          loop.planned <= kOneAtATimeIterations;
  std::vector<HandedOver> handedOver;
  XMLNode* insertionPoint = step.element;
  bool last = false;
  while (!last) {
    if (loop.setValue) {
      // A counter that goes up by one goes on from the digits of the iteration before.
      if (loop.increment == 1 && loop.counted) {
        incrementDecimal(*loop.value);
      } else {
        setDecimal(*loop.value, loop.counter);
      }
      loop.counted = true;
    }
    // The character with code 65 + i ("A" for 0); a code above 255 is no byte, and gives "?".
    if (loop.setAlpha) {
      loop.alpha->assign(1, loop.counter <= 255 - 65 ? static_cast<char>(65 + loop.counter) : '?');
    }
    if (loop.setHex) setUpperHex(*loop.hex, loop.counter);
    if (loop.setAp) setDecimal(*loop.ap, loop.apCounter);
    if (loop.setApHex) setUpperHex(*loop.apHex, loop.apCounter);
    loop.counter += loop.increment;
    last = !(loop.counter < loop.end);
    if (listener_) {
      listener_->iteration(IterationEvent{placeOf(step), loop.iterations++, loop.iteration});
    }
    if (Failure failure =
            insertBody(step, loop.iteration, last, &insertionPoint, handedOver, loop.prepared)) {
      return std::move(*failure);
    }
    if (!loop.narrowed && !listener_ && !step.loopMaps) {
      loop.narrowed = true;
      loop.setValue = loop.prepared.write(loop.value);
      loop.setAlpha = loop.prepared.write(loop.alpha);
      loop.setHex = loop.prepared.write(loop.hex);
      loop.setAp = loop.prepared.write(loop.ap);
      loop.setApHex = loop.prepared.write(loop.apHex);
    }
    loop.apCounter += loop.apIncrement;
    if (!last && oneAtATime && !loop.prepared.wholeTable) {
      return Outcome{Outcome::Kind::Repeat, insertionPoint == step.element
                                                ? nullptr
                                                : static_cast<XMLElement*>(insertionPoint)};
    }
  }
  finishLoop(step, handedOver);
  if (listener_) listener_->loop(LoopEvent{placeOf(step), false, loop.iterations});
  forLoops_.pop_back();
  return Outcome{Outcome::Kind::Remove};
}

Walk::Decision Walk::continueFor(Step& step) {
  Frame& frame = frames_[step.frame];
  ForLoop& loop = *forLoops_.back();
  // The copies of the last iteration left nothing in the chain, or what they left went to the
  // output with the rest of the chain before the loop.
  const bool leftNothing = frame.prev == loop.before || outputFinished(frame, step.frame);
  if (loop.copiesMarked && leftNothing && lastingEffects_ == loop.effects) {
    doc_.arena().rewind(loop.copiesStart);
  }
  loop.copiesMarked = true;
  loop.copiesStart = doc_.arena().mark();
  loop.before = frame.prev;
  loop.effects = lastingEffects_;
  return iterateFor(step, loop);
}

bool Walk::outputFinished(Frame& frame, std::size_t index) {
  // The root element's own chain is frame 0; frame 1 walks its children.
  if (!output_ || index != 1 || frame.owner != doc_.root || !frame.prev) return false;
  for (XMLNode* node = frame.owner->firstChild; node != frame.node; node = node->next) {
    // The first can be refused (the output cannot be opened); a later one is not.
    if (!output_->takeFinished(*doc_.root, *node)) return false;
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

Walk::Decision Walk::doForeach(Step& step) {
  const XMLElement* loop = step.element;
  std::vector<std::string> names;
  std::vector<std::vector<std::string>> lists;
  for (std::uint32_t k = 0; k < loop->attributeCount(); ++k) {
    const XMLAttribute& a = loop->attributes()[k];
    names.emplace_back(a.name());
    auto& list = lists.emplace_back();
    std::string values = withoutLineFeeds(a.value());
    forEachItem(values, ',', [&](std::string_view item) { list.emplace_back(item); });
  }
  MacroTable iteration;
  const MacroOrigin origin = originOf(step, MacroOrigin::Kind::Loop);
  std::vector<std::string*> slots;
  for (const std::string& name : names)
    slots.push_back(&iteration.define(name, origin));
  XMLNode* insertionPoint = step.element;
  std::vector<HandedOver> handedOver;
  PreparedValues prepared;
  prepared.plainValues = std::none_of(lists.begin(), lists.end(), [](const auto& list) {
    return std::any_of(list.begin(), list.end(), [](const std::string& item) {
      return MacroEnvironment::hasReferences(item);
    });
  });
  Failure failure;
  // The listener is told of the iterations before the copies are made, so that the loop below
  // is the same with or without one.
  std::uint64_t iterations = 0;
  if (listener_) {
    combineValueLists(lists, [&](const std::vector<std::size_t>& chosen, bool) {
      for (std::size_t k = 0; k < lists.size(); ++k)
        *slots[k] = lists[k][chosen[k]];
      listener_->iteration(IterationEvent{placeOf(step), iterations++, iteration});
      return true;
    });
  }
  combineValueLists(lists, [&](const std::vector<std::size_t>& chosen, bool last) {
    for (std::size_t k = 0; k < lists.size(); ++k)
      *slots[k] = lists[k][chosen[k]];
    failure = insertBody(step, iteration, last, &insertionPoint, handedOver, prepared);
    return !failure;
  });
  if (failure) return std::move(*failure);
  finishLoop(step, handedOver);
  if (listener_) listener_->loop(LoopEvent{placeOf(step), true, iterations});
  return Outcome{Outcome::Kind::Remove};
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
                                                     const MacroTable& iteration, bool& final) {
  // The first copy looks at each value once; the later ones meet the same values in the same
  // order.
  if (prepared.next == prepared.entries.size()) {
    const bool hasReferences = MacroEnvironment::hasReferences(value);
    std::optional<PreparedExpansion> expansion =
        hasReferences ? env_.prepare(iteration, value) : std::nullopt;
    // What the expansion writes besides the table's values decides whether a "$" can come out.
    const bool plain =
        !hasReferences || (expansion && prepared.plainValues &&
                           !expansion->literalsHold(MacroEnvironment::kReferenceChar));
    prepared.entries.push_back({hasReferences, std::move(expansion), plain});
  }
  const PreparedValues::Entry& entry = prepared.entries[prepared.next++];
  final = final && entry.final;
  if (!entry.hasReferences) return value;
  const std::optional<PreparedExpansion>& expansion = entry.expansion;
  if (!expansion) {
    prepared.wholeTable = true;
    return expandWithLoopMaps<false>(value, nullptr, &iteration);
  }
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
  bool final = false;  // the values of the element being copied hold no "$"
  auto expanded = [&](const XMLAttribute& a) {
    const std::string_view value = a.isNull() ? std::string_view("") : a.value();
    if (const auto result =
            prepared ? expandPrepared(*prepared, value, iteration, final)
                     : expandWithLoopMaps<false>(value, step.loopMaps.get(), &iteration)) {
      return XMLAttribute{a.name(), *result};
    }
    if (!tooLongIn) {
      tooLongIn = element;
      tooLongAttribute = a.name();
    }
    return XMLAttribute{a.name(), std::string_view("")};
  };
  auto* copy = static_cast<XMLElement*>(doc_.copyTree(body, [&](const XMLNode* node) -> XMLNode* {
    if (node->isText()) {
      if (prepared) prepared->wholeTable = true;
      // The text of `element`, the element copied last.
      const std::string_view text = static_cast<const XMLText*>(node)->text();
      if (const auto result = expandWithLoopMaps<false>(text, step.loopMaps.get(), &iteration)) {
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
    final = prepared != nullptr;
    XMLElement* copied = doc_.copyAttributes(element, expanded);
    if (final) copied->markValuesFinal();
    return copied;
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

// Both instances of applying loop maps, for the walk that calls them.
template const XMLAttribute* Walk::applyLoopMapsAs<false>(XMLElement*, const LoopMaps&,
                                                          const std::string*);
template const XMLAttribute* Walk::applyLoopMapsAs<true>(XMLElement*, const LoopMaps&,
                                                         const std::string*);
