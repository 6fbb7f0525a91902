// The loop directives "for" and "foreach": copies of the body, expanded with the loop variables,
// are inserted after the loop element, which is then removed, so the walk goes on with the first
// copy in the enclosing scope. The last iteration needs no copy: the body itself is handed over,
// and its loop variables are applied as the walk reaches each of its elements (Walk::LoopMaps).
// So a loop costs its copies, and loops nested inside one another cost no more than the elements
// they hold.

#include <charconv>

#include "Walk.h"

namespace {

// Sets `text` to the decimal digits of `value`, reusing its storage.
void setDecimal(std::string& text, std::uint32_t value) {
  char digits[10];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  text.assign(digits, result.ptr);
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
  std::vector<HandedOver> handedOver;
  std::uint64_t iterations = 0;
  if (start < end) {
    if (neverEnds(start, end, increment)) {
      return fail(step, "<for index=\"" + index + "\"> never ends");
    }
    MacroTable iteration;
    const MacroOrigin origin = originOf(step, MacroOrigin::Kind::Loop);
    std::string& valueText = iteration.define(index, origin);
    std::string& alphaText = iteration.define(index + "_alpha", origin);
    std::string& hexText = iteration.define(index + "_hex", origin);
    std::string& apText = iteration.define(index + "_ap", origin);
    std::string& apHexText = iteration.define(index + "_ap_hex", origin);
    std::uint32_t i = start;
    std::uint32_t ap = factor * start + offset;
    XMLNode* insertionPoint = step.element;
    PreparedValues prepared;
    bool last = false;
    while (!last) {
      setDecimal(valueText, i);
      // The character with code 65 + i ("A" for 0); a code above 255 is no byte, and gives "?".
      alphaText.assign(1, i <= 255 - 65 ? static_cast<char>(65 + i) : '?');
      setUpperHex(hexText, i);
      setDecimal(apText, ap);
      setUpperHex(apHexText, ap);
      i += increment;
      last = !(i < end);
      if (listener_) {
        listener_->iteration(IterationEvent{placeOf(step), iterations++, iteration});
      }
      if (Failure failure =
              insertBody(step, iteration, last, &insertionPoint, handedOver, prepared)) {
        return std::move(*failure);
      }
      ap += increment * factor;
    }
  }
  finishLoop(step, handedOver);
  if (listener_) listener_->loop(LoopEvent{placeOf(step), false, iterations});
  return Outcome{Outcome::Kind::Remove};
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
