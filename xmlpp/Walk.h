#pragma once

// The preprocessor's walk over the tree. It is a loop over an explicit stack of frames rather
// than recursion, so documents and include trees of any depth never exhaust the call stack. A
// frame is one sibling chain being walked in a scope of its own; when a chain is done, the
// frame's `Finish` says how the element that owned the chain leaves the walk.
//
// The scopes live in one macro table: a frame opens a scope when it is pushed and leaves it when
// it is popped, so definitions made in a chain apply to the rest of the chain and below, and
// never outlive it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "expr/Evaluator.h"
#include "macros/MacroEnvironment.h"
#include "macros/MacroTable.h"
#include "xmlpp/Preprocessor.h"

// Include and xmlput nesting limits (each counted separately).
inline constexpr int kMaxNesting = 1000;

class Walk {
 public:
  Walk(XMLDocument& document, const MacroEnvironment& environment, FragmentRegistry& fragments,
       std::vector<std::string>& loadedFiles)
      : doc_(document), env_(environment), fragments_(fragments), loadedFiles_(loadedFiles) {}

  // Walks the document's root element, the content of `fileName`, with these macros in the
  // outermost scope.
  std::optional<Failure> run(const std::string& fileName, const MacroMap& macros);

 private:
  // The loop variables still to be applied to the elements of a loop body that the loop handed
  // over instead of copying (its last iteration): that iteration's table, after the tables of the
  // loops around it. They are applied when the walk reaches each element, as a copy would have
  // had them at once, so nested loops cost no more than the elements they hold.
  struct LoopMaps {
    mutable std::shared_ptr<const LoopMaps> outer;
    MacroTable table;
    ~LoopMaps();
  };
  using LoopMapsPtr = std::shared_ptr<const LoopMaps>;

  // How the element whose children a frame walks leaves the walk once they are done.
  struct Finish {
    enum class Kind : std::uint8_t { None, Keep, Replace, Include };
    Kind kind = Kind::None;
    XMLElement* source = nullptr;     // Replace: the element whose children move; Include: R
    XMLElement* directive = nullptr;  // Replace: the element that is removed; Include: D
    bool unwrap = false;              // Include: the included root is an "envelope"
  };

  // An element of a chain whose loop maps differ from the chain's: an element a loop handed over
  // (its maps), or a copy a loop inserted into a chain that has maps (none).
  struct HandedOver {
    const XMLNode* element;
    LoopMapsPtr maps;
  };

  struct Frame {
    XMLNode* node;  // the next node of the chain to visit
    XMLNode* prev;  // the node before it in the chain, or null at the front
    std::shared_ptr<const std::string> fileName;
    LoopMapsPtr loopMaps;  // for the elements of the chain not in `handedOver`
    bool expansion;
    int includeDepth;
    int xmlputDepth;
    Finish finish;
    // The walk reaches these in the reverse of their order here: a loop's insertions come right
    // after it, before those of any loop met earlier in the chain, so the next one is the last.
    std::vector<HandedOver> handedOver;
  };

  // Content of an include or xmlput: whether it is walked with expansion, and the macros of its
  // "macros" attribute when they take effect.
  struct ContentSetup {
    bool expansion;
    bool expandRoot;
    std::optional<MacroMap> macros;
  };

  // Each step returns false when the run fails; `failure_` then says why.
  bool step(std::size_t frameIndex);
  bool finishFrame(Frame& parent, const Finish& finish);
  bool fail(std::string message);

  // Outcomes. Each leaves the frame's `node` and `prev` on what the walk visits next.
  bool keep(std::size_t f, XMLElement* element);
  bool remove(std::size_t f, XMLElement* element);
  // Walks the children of `source` in a scope of their own, then moves them into the place of
  // `directive`, which leaves the tree.
  bool replaceByChildren(std::size_t f, XMLElement* source, XMLElement* directive);
  bool spliceChildren(Frame& frame, XMLElement* source, XMLElement* directive);
  // Pushes a frame for the chain starting at `first` (which may be null), in a new scope.
  void pushChildFrame(XMLNode* first, LoopMapsPtr loopMaps, bool expansion,
                      std::shared_ptr<const std::string> fileName, int includeDepth,
                      int xmlputDepth, const Finish& finish);

  // Conditional directives.
  bool doIf(std::size_t f, XMLElement* element, bool negated);
  bool doIfex(std::size_t f, XMLElement* element);
  bool doIfdef(std::size_t f, XMLElement* element, bool negated);
  bool doSwitch(std::size_t f, XMLElement* element);
  // Include and definition directives.
  bool doInclude(std::size_t f, XMLElement* element);
  bool finishInclude(Frame& parent, const Finish& finish);
  // Copies the include element's attributes named by its "inherit_attributes" onto the included
  // root, in list order; an attribute the root has keeps its place and takes the new value.
  void inheritAttributes(XMLElement* root, const XMLElement* directive);
  bool doDefine(std::size_t f, XMLElement* element);
  bool doXmldef(std::size_t f, XMLElement* element);
  bool doXmlput(std::size_t f, XMLElement* element);
  ContentSetup contentSetup(const XMLElement* directive, const Frame& frame) const;
  // Pushes the frame for the content of an include or xmlput, with its macros defined.
  void pushContentFrame(XMLNode* first, ContentSetup setup,
                        std::shared_ptr<const std::string> fileName, int includeDepth,
                        int xmlputDepth, const Finish& finish);
  // Loop directives.
  bool doFor(std::size_t f, XMLElement* element);
  bool doForeach(std::size_t f, XMLElement* element);
  // Inserts the loop body's elements after `*insertionPoint`, advancing it: copies expanded with
  // `iteration`, or for the last iteration the body itself, handed over with its loop maps.
  void insertBody(std::size_t f, XMLElement* loop, MacroTable& iteration, bool last,
                  XMLNode** insertionPoint);
  // Lists what the loop handed over with its chain's frame.
  void finishLoop(std::size_t f);

  // Expands the macro references in the element's attribute values in place.
  void expandAttributes(XMLElement* element);
  // Applies loop maps to an element as a loop's copy would have: every attribute value expanded
  // (a null one becomes empty), and its children other than elements dropped.
  void applyLoopMaps(XMLElement* element, const LoopMaps& maps);
  // The same for every element below `element`.
  void applyLoopMapsBelow(XMLElement* element, const LoopMaps& maps);
  // A value expanded with `maps`' tables, outermost first, then with `last` when given.
  std::string_view expandWithLoopMaps(std::string_view value, const LoopMaps* maps,
                                      const MacroTable* last);
  // A detached deep copy of the element and its element descendants, every attribute value
  // expanded with the current element's loop maps and then `macros`.
  XMLElement* copyWithMacros(const XMLElement* element, const MacroTable& macros);
  std::string expand(std::string_view text) const { return env_.expand(macros_, text); }

  XMLDocument& doc_;
  const MacroEnvironment& env_;
  FragmentRegistry& fragments_;
  std::vector<std::string>& loadedFiles_;
  ExpressionEvaluator evaluator_;
  MacroTable macros_;  // the scope maps of the frames on the stack, innermost last
  std::vector<Frame> frames_;
  std::vector<HandedOver> inserted_;         // scratch: what the loop being carried out hands over
  LoopMapsPtr current_;                      // the loop maps of the element being carried out
  std::vector<const MacroTable*> mapChain_;  // scratch: loop maps outermost first
  std::string buffer_;                       // scratch for expansions and copies
  std::optional<Failure> failure_;
};

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
// empty choice when there are no lists.
void combineValueLists(const std::vector<std::vector<std::string>>& lists,
                       const std::function<void(const std::vector<std::size_t>&, bool)>& visit);

std::string withoutLineFeeds(std::string_view text);
// "0x" and the value in upper-case hexadecimal without leading zeros, written at the end of
// `buffer`.
std::string_view formatUpperHex(std::uint32_t value, char (&buffer)[10]);
// The value of an attribute, or empty when it is absent or null.
std::string_view attributeText(const XMLElement* element, std::string_view name);
