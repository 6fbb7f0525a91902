#include "Loops.h"

#include <algorithm>
#include <charconv>

namespace {

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

// A loop goes one iteration at a time (Loops::iterateFor) when it has at most this many.
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

Failure Loops::insertBody(const Step& step, MacroTable& iteration, bool last, bool tell,
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
    const bool chainHasMaps = step.context->loopMaps != nullptr;
    prepared.next = 0;
    for (XMLNode* child = loop->firstChild; child; child = child->next) {
      const XMLElement* body = asElement(child);
      if (!body) continue;  // only elements are copied
      Expected<XMLElement*> copy =
          copyWithMacros(step, body, iteration, step.loopMaps ? nullptr : &prepared, tell);
      if (!copy) return std::move(copy.error());
      link(*copy);
      if (chainHasMaps) handedOver.push_back({*copy, nullptr});
    }
    return std::nullopt;
  }
  const auto maps =
      std::make_shared<const LoopMaps>(step.loopMaps, std::move(iteration), scope_.definers);
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

Decision Loops::decide(DirectiveId directive, Step& step) {
  return directive == DirectiveId::For ? decideFor(step) : decideForeach(step);
}

Decision Loops::decideFor(Step& step) {
  const XMLElement* loop = step.element;
  bool complete = loop->hasAttribute(attr::kIndex) && loop->hasAttribute(attr::kStart) &&
                  loop->hasAttribute(attr::kEnd) && loop->hasAttribute(attr::kIncr) &&
                  loop->firstChild;
  if (!complete) {
    return scope_.fail(step, "<for index=\"i\" start=\"0\" end=\"32\" incr=\"1\">");
  }
  // Every value is used as its low 32 bits; a text that fails to evaluate counts as 0. The
  // offset and factor are expanded once more before they are evaluated.
  Failure failure;
  auto evaluateSigned = [&](std::string_view name) -> std::uint32_t {
    const std::optional<std::string_view> text = scope_.expand(attributeText(loop, name));
    if (!text) {
      if (!failure) failure = scope_.tooLong(*loop, name, loop, step.frame);
      return 0;
    }
    return static_cast<std::uint32_t>(scope_.evaluator.signedValue(*text).value_or(0));
  };
  auto evaluateUnsigned = [&](std::string_view name) {
    return static_cast<std::uint32_t>(
        scope_.evaluator.unsignedValue(attributeText(loop, name)).value_or(0));
  };
  std::uint32_t offset = 0;
  if (loop->hasAttribute(attr::kAdd)) {
    offset = evaluateSigned(attr::kAdd);
  } else if (loop->hasAttribute(attr::kSub)) {
    offset = 0u - evaluateSigned(attr::kSub);
  }
  std::uint32_t factor = loop->hasAttribute(attr::kMul) ? evaluateSigned(attr::kMul) : 1;
  if (failure) return std::move(*failure);
  std::string index(attributeText(loop, attr::kIndex));
  std::uint32_t start = evaluateUnsigned(attr::kStart);
  std::uint32_t end = evaluateUnsigned(attr::kEnd);
  std::uint32_t increment = evaluateUnsigned(attr::kIncr);
  if (!(start < end)) {
    if (scope_.listener) scope_.listener->loop(LoopEvent{WalkScope::placeOf(step), false, 0});
    return Outcome{Outcome::Kind::Remove};
  }
  if (neverEnds(start, end, increment)) {
    return scope_.fail(step, "<for index=\"" + index + "\"> never ends");
  }
  auto state = std::make_unique<ForLoop>();
  ForLoop& forLoop = *state;
  forLoop.element = step.element;
  const MacroOrigin origin = scope_.originOf(step, MacroOrigin::Kind::Loop);
  // The variables, named by the index and the suffixes of the schema, in its order.
  std::string** variables[] = {&forLoop.value, &forLoop.alpha, &forLoop.hex, &forLoop.ap,
                               &forLoop.apHex};
  const auto& suffixes = directive(DirectiveId::For).loopSuffixes;
  static_assert(std::size(variables) == std::tuple_size_v<std::decay_t<decltype(suffixes)>>);
  for (std::size_t k = 0; k < suffixes.size(); ++k)
    *variables[k] = &forLoop.iteration.define(index + std::string(suffixes[k]), origin);
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

bool Loops::advance(ForLoop& loop) {
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
  loop.apCounter += loop.apIncrement;
  return !(loop.counter < loop.end);
}

Failure Loops::rehearse(const Step& step, ForLoop& loop) {
  Arena& arena = scope_.doc.arena();
  const Arena::Mark start = arena.mark();
  const std::uint32_t counter = loop.counter;
  const std::uint32_t apCounter = loop.apCounter;
  bool last = false;
  while (!last) {
    last = advance(loop);
    scope_.listener->iteration(
        IterationEvent{WalkScope::placeOf(step), loop.iterations++, loop.iteration});
    if (last) break;  // the last iteration hands the body over: its references are told later
    loop.prepared.next = 0;
    for (XMLNode* child = step.element->firstChild; child; child = child->next) {
      const XMLElement* body = asElement(child);
      if (!body) continue;
      Expected<XMLElement*> copy = copyWithMacros(step, body, loop.iteration, &loop.prepared, true);
      if (!copy) return std::move(copy.error());
    }
    arena.rewind(start);
  }
  scope_.listener->loop(LoopEvent{WalkScope::placeOf(step), false, loop.iterations});
  loop.counter = counter;
  loop.apCounter = apCounter;
  loop.counted = false;
  return std::nullopt;
}

Decision Loops::iterateFor(Step& step, ForLoop& loop) {
  // Copies made one iteration at a time are walked before the next are made, which changes
  // nothing when they are complete as made. A loop of more than 2^24 iterations makes them all
  // at once: such a loop is almost always a mistake (an end of -1, or a start of -3 counting
  // down, gives over four billion), and its copies' memory then ends the run, where one
  // iteration at a time would write for hours.
  const bool oneAtATime =
      !step.loopMaps && !step.context->loopMaps && loop.planned <= kOneAtATimeIterations;
  // A listener hears of a loop as if its copies were all made at once, before the first is
  // walked: each iteration, the references its copies expand, then the loop's line. A loop
  // that goes one iteration at a time tells it all that first, and then makes its copies
  // without telling.
  if (oneAtATime && scope_.listener && !loop.rehearsed) {
    loop.rehearsed = true;
    if (Failure failure = rehearse(step, loop)) return std::move(*failure);
  }
  WalkListener* const listener = loop.rehearsed ? nullptr : scope_.listener;
  std::vector<HandedOver> handedOver;
  XMLNode* insertionPoint = step.element;
  bool last = false;
  while (!last) {
    last = advance(loop);
    if (listener) {
      listener->iteration(
          IterationEvent{WalkScope::placeOf(step), loop.iterations++, loop.iteration});
    }
    if (Failure failure = insertBody(step, loop.iteration, last, listener != nullptr,
                                     &insertionPoint, handedOver, loop.prepared)) {
      return std::move(*failure);
    }
    if (!loop.narrowed && !scope_.listener && !step.loopMaps) {
      loop.narrowed = true;
      loop.setValue = loop.prepared.write(loop.value);
      loop.setAlpha = loop.prepared.write(loop.alpha);
      loop.setHex = loop.prepared.write(loop.hex);
      loop.setAp = loop.prepared.write(loop.ap);
      loop.setApHex = loop.prepared.write(loop.apHex);
    }
    if (!last && oneAtATime && !loop.prepared.wholeTable) {
      return Outcome{Outcome::Kind::Repeat, insertionPoint == step.element
                                                ? nullptr
                                                : static_cast<XMLElement*>(insertionPoint)};
    }
  }
  if (listener) listener->loop(LoopEvent{WalkScope::placeOf(step), false, loop.iterations});
  forLoops_.pop_back();
  return Outcome{Outcome::Kind::Remove, nullptr, nullptr, std::move(handedOver)};
}

Decision Loops::resume(Step& step, bool leftNothing, const XMLNode* before) {
  ForLoop& loop = *forLoops_.back();
  Arena& arena = scope_.doc.arena();
  if (loop.copiesMarked && leftNothing && scope_.lastingEffects == loop.effects) {
    arena.rewind(loop.copiesStart);
  }
  loop.copiesMarked = true;
  loop.copiesStart = arena.mark();
  loop.before = before;
  loop.effects = scope_.lastingEffects;
  return iterateFor(step, loop);
}

Decision Loops::decideForeach(Step& step) {
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
  const MacroOrigin origin = scope_.originOf(step, MacroOrigin::Kind::Loop);
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
  if (scope_.listener) {
    combineValueLists(lists, [&](const std::vector<std::size_t>& chosen, bool) {
      for (std::size_t k = 0; k < lists.size(); ++k)
        *slots[k] = lists[k][chosen[k]];
      scope_.listener->iteration(IterationEvent{WalkScope::placeOf(step), iterations++, iteration});
      return true;
    });
  }
  combineValueLists(lists, [&](const std::vector<std::size_t>& chosen, bool last) {
    for (std::size_t k = 0; k < lists.size(); ++k)
      *slots[k] = lists[k][chosen[k]];
    failure = insertBody(step, iteration, last, true, &insertionPoint, handedOver, prepared);
    return !failure;
  });
  if (failure) return std::move(*failure);
  if (scope_.listener) {
    scope_.listener->loop(LoopEvent{WalkScope::placeOf(step), true, iterations});
  }
  return Outcome{Outcome::Kind::Remove, nullptr, nullptr, std::move(handedOver)};
}

std::optional<std::string_view> Loops::expandPrepared(PreparedValues& prepared,
                                                      std::string_view value,
                                                      const MacroTable& iteration, bool& final) {
  // The first copy looks at each value once; the later ones meet the same values in the same
  // order.
  if (prepared.next == prepared.entries.size()) {
    const bool hasReferences = MacroEnvironment::hasReferences(value);
    std::optional<PreparedExpansion> expansion =
        hasReferences ? scope_.env.prepare(iteration, value) : std::nullopt;
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
    return scope_.expandWithLoopMaps<false>(value, nullptr, &iteration);
  }
  const std::optional<std::size_t> size = expansion->size();
  if (!size) return std::nullopt;
  // Stored as duplicateString stores a copy: followed by a NUL byte.
  char* bytes = scope_.doc.arena().allocateArray<char>(*size + 1);
  expansion->writeTo(bytes);
  bytes[*size] = '\0';
  return std::string_view(bytes, *size);
}

Expected<XMLElement*> Loops::copyWithMacros(const Step& step, const XMLElement* body,
                                            const MacroTable& iteration, PreparedValues* prepared,
                                            bool tell) {
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
                     : scope_.expandWithLoopMaps<false>(value, step.loopMaps.get(), &iteration)) {
      return XMLAttribute{a.name(), *result};
    }
    if (!tooLongIn) {
      tooLongIn = element;
      tooLongAttribute = a.name();
    }
    return XMLAttribute{a.name(), std::string_view("")};
  };
  XMLDocument& doc = scope_.doc;
  auto* copy = static_cast<XMLElement*>(doc.copyTree(body, [&](const XMLNode* node) -> XMLNode* {
    if (node->isText()) {
      if (prepared) prepared->wholeTable = true;
      // The text of `element`, the element copied last.
      const std::string_view text = static_cast<const XMLText*>(node)->text();
      if (const auto result =
              scope_.expandWithLoopMaps<false>(text, step.loopMaps.get(), &iteration)) {
        return doc.make<XMLText>(*result);
      }
      if (!tooLongIn) {
        tooLongIn = element;
        tooLongAttribute = {};
      }
      return doc.make<XMLText>(std::string_view());
    }
    if (!node->isElement()) return nullptr;  // loops copy elements and kept text only
    element = static_cast<const XMLElement*>(node);
    final = prepared != nullptr;
    XMLElement* copied = doc.copyAttributes(element, expanded);
    if (final) copied->markValuesFinal();
    return copied;
  }));
  if (tooLongIn) return scope_.tooLong(*tooLongIn, tooLongAttribute, step.element, step.frame);
  if (tell && scope_.listener) tellCopyReferences(step, body, iteration);
  return copy;
}

void Loops::tellCopyReferences(const Step& step, const XMLElement* body,
                               const MacroTable& iteration) {
  // The copy's values are expanded once more, told to the listener, and dropped: the copy above
  // stays the same code with or without a listener.
  std::vector<const XMLElement*> stack{body};
  while (!stack.empty()) {
    const XMLElement* element = stack.back();
    stack.pop_back();
    for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
      const XMLAttribute& a = element->attributes()[i];
      scope_.relayAt(element, step.context->sourceFile, a.name(), true);
      scope_.expandWithLoopMaps<true>(a.isNull() ? std::string_view("") : a.value(),
                                      step.loopMaps.get(), &iteration);
    }
    // Children in reverse, so that they are told in document order.
    std::vector<const XMLElement*> children;
    for (const XMLNode* child = element->firstChild; child; child = child->next) {
      if (child->isElement()) children.push_back(static_cast<const XMLElement*>(child));
    }
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
}
