// The loop maps a handed-over loop body carries, and the expansion of values through them: as a
// copy of the body would have had its values at once, but when the walk reaches each element.

#include "LoopMaps.h"

#include <algorithm>

#include "WalkScope.h"

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

}  // namespace

LoopMaps::LoopMaps(std::shared_ptr<const LoopMaps> outerMaps, MacroTable iteration,
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

LoopMaps::~LoopMaps() {
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

const LoopMaps* LoopMaps::ancestorAt(std::uint32_t target) const {
  const LoopMaps* maps = this;
  while (maps->depth > target)
    maps = maps->jump->depth >= target ? maps->jump : maps->outer.get();
  return maps;
}

template <bool kListened>
std::optional<std::string_view> WalkScope::expandThroughChain(std::string_view value,
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
  return text.data() == value.data() ? value : doc.duplicateString(text);
}

const LoopMaps* WalkScope::firstDefiner(const std::vector<std::string_view>& names,
                                        const LoopMaps& maps, std::uint32_t from) const {
  const LoopMaps* first = nullptr;
  for (const std::string_view name : names) {
    const auto it = definers.find(name);
    if (it == definers.end()) continue;
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
const XMLAttribute* WalkScope::applyLoopMapsAs(XMLElement* element, const LoopMaps& maps,
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

Failure WalkScope::childrenAsCopied(Step& step) {
  if (const LoopMapsPtr maps = std::move(step.loopMaps)) {
    std::vector<XMLElement*> stack{step.element};
    while (!stack.empty()) {
      XMLElement* next = stack.back();
      stack.pop_back();
      if (next != step.element) {
        if (const XMLAttribute* a = applyLoopMaps(next, *maps, step.context->sourceFile)) {
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

// The instances the engine and the loops call.
template const XMLAttribute* WalkScope::applyLoopMapsAs<false>(XMLElement*, const LoopMaps&,
                                                               const std::string*);
template const XMLAttribute* WalkScope::applyLoopMapsAs<true>(XMLElement*, const LoopMaps&,
                                                              const std::string*);
template std::optional<std::string_view> WalkScope::expandThroughChain<false>(std::string_view,
                                                                              const LoopMaps&,
                                                                              const MacroTable*);
template std::optional<std::string_view> WalkScope::expandThroughChain<true>(std::string_view,
                                                                             const LoopMaps&,
                                                                             const MacroTable*);
