#pragma once

// What the walk's engine (Walk.h) and the directive handlers share: the step a handler decides
// on, the context of the chain it stands in, and the outcome it returns. A handler changes the
// tree and the scope; the frames change only as the engine carries its outcome out.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/Diagnostic.h"
#include "xml/XMLDocument.h"

// Include and xmlput nesting limits (each counted separately).
inline constexpr int kMaxNesting = 1000;

// The loop variables still to be applied to the elements of a loop body that the loop handed
// over instead of copying (its last iteration), LoopMaps.h.
struct LoopMaps;
using LoopMapsPtr = std::shared_ptr<const LoopMaps>;

// A macro reference an expansion left unresolved (when a check asks), and its attribute.
struct Unresolved {
  std::string reference;
  std::string_view attribute;
};

// What the elements of a chain share: where they were written and how the walk got there.
struct WalkContext {
  const std::string* fileName;    // relative includes resolve against it
  const std::string* sourceFile;  // the file the elements were written in
  LoopMapsPtr loopMaps;           // for the elements of the chain a loop did not hand over
  int includeDepth;
  int xmlputDepth;
};

// One element reached by the walk.
struct Step {
  XMLElement* element;
  std::size_t frame;                   // the frame of its chain
  const WalkContext* context;          // that frame's context
  LoopMapsPtr loopMaps;                // the loop variables it carried, applied to its values
  std::vector<Unresolved> unresolved;  // checks: left in its values, one per value
};

// An element of a chain whose loop maps differ from the chain's: an element a loop handed over
// (its maps), or a copy a loop inserted into a chain that has maps (none).
struct HandedOver {
  const XMLNode* element;
  LoopMapsPtr maps;
};

// What a directive decides for its element.
struct Outcome {
  enum class Kind : std::uint8_t {
    Keep,     // written out, its children walked
    Remove,   // leaves the tree with its children; a loop's copies after it are walked next
    Replace,  // replaced by the walked children of `source` (itself or a chosen branch)
    Put,      // replaced by the walked children of `source`, a copy of a fragment
    Include,  // replaced by `source`, the root of an included file, and its walked content
    Repeat,   // a for loop that goes on: the copies of an iteration, up to `source` (the last
              // of them, or null for none), are moved before it, and the walk meets it again
              // after them
  };
  Kind kind;
  XMLElement* source = nullptr;
  const std::string* file = nullptr;  // Put, Include: where `source`'s children were written
  // Remove, Repeat: what a loop inserted after its element that the chain's frame must list
  // (in insertion order).
  std::vector<HandedOver> handedOver = {};
};
using Decision = Expected<Outcome>;

// Text helpers shared by the directive groups.
// Calls `visit` for each item of `text` split at `separator`, empty items dropped.
template <class Visit>
void forEachItem(std::string_view text, char separator, Visit&& visit) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) visit(text.substr(start, end - start));
    start = end + 1;
  }
}

// Calls `visit` with each way of choosing one item from every list (indexes into the lists, and
// whether it is the last way), the first list changing slowest: none when a list is empty, one
// empty choice when there are no lists. Stops early when `visit` returns false.
template <class Visit>
void combineValueLists(const std::vector<std::vector<std::string>>& lists, Visit&& visit) {
  for (const auto& list : lists) {
    if (list.empty()) return;
  }
  // An odometer over the lists, the last one turning fastest; the combinations are produced one
  // at a time because their number is the product of the list lengths.
  std::vector<std::size_t> index(lists.size(), 0);
  while (true) {
    std::size_t k = lists.size();
    while (k > 0 && index[k - 1] + 1 == lists[k - 1].size())
      --k;
    if (!visit(static_cast<const std::vector<std::size_t>&>(index), k == 0) || k == 0) return;
    ++index[k - 1];
    for (std::size_t j = k; j < lists.size(); ++j)
      index[j] = 0;
  }
}

std::string withoutLineFeeds(std::string_view text);
// The unclosed-element check's message for a file whose text ends inside the element `open`.
std::string endsInsideMessage(const std::string& path, const XMLDocument::OpenElement& open);
// "0x" and the value in upper-case hexadecimal without leading zeros, written at the end of
// `buffer`.
std::string_view formatUpperHex(std::uint32_t value, char (&buffer)[10]);
// The value of an attribute, or empty when it is absent or null.
inline std::string_view attributeText(const XMLElement* element, std::string_view name) {
  return element->attribute(name).value_or(std::string_view());
}
