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
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "expr/Evaluator.h"
#include "macros/MacroEnvironment.h"
#include "macros/MacroTable.h"
#include "xmlpp/Preprocessor.h"

// Include and xmlput nesting limits (each counted separately).
inline constexpr int kMaxNesting = 1000;

class Walk {
 public:
  // A walk over `document`, which it changes in place; each file it reads is added to
  // `loadedFiles` the first time. In strict mode an unresolved reference in a value written out
  // fails, and so does an included file that ends inside an element.
  Walk(XMLDocument& document, const MacroEnvironment& environment,
       std::vector<std::string>& loadedFiles, bool strict)
      : doc_(document), env_(environment), loadedFiles_(loadedFiles), strict_(strict) {}

  // Walks the document's root element, the content of `fileName`, with these macros in the
  // outermost scope.
  std::optional<Failure> run(const std::string& fileName, const MacroMap& macros);

 private:
  // The loop variables still to be applied to the elements of a loop body that the loop handed
  // over instead of copying (its last iteration): that iteration's table, after the tables of the
  // loops around it. They are applied when the walk reaches each element, as a copy would have
  // had them at once, so nested loops cost no more than the elements they hold.
  // They are freed when no element that is still to be walked carries them.
  struct LoopMaps {
    mutable std::shared_ptr<const LoopMaps> outer;
    MacroTable table;
    ~LoopMaps();
  };
  using LoopMapsPtr = std::shared_ptr<const LoopMaps>;

  // A fragment registered by "xmldef": the element (detached from the tree, in the document's
  // arena) and the file it was written in. The registry has no scopes.
  struct Fragment {
    const XMLElement* element;
    const std::string* file;
  };

  // How the element whose children a frame walks leaves the walk once they are done.
  struct Finish {
    // Put: as Replace, for the content of an xmlput.
    enum class Kind : std::uint8_t { None, Keep, Replace, Put, Include };
    Kind kind = Kind::None;
    XMLElement* source = nullptr;     // the element whose children move (Include: the root)
    XMLElement* directive = nullptr;  // the element that is removed (Include: the include)
    bool unwrap = false;              // Include: the included root is an "envelope"
  };

  // An element of a chain whose loop maps differ from the chain's: an element a loop handed over
  // (its maps), or a copy a loop inserted into a chain that has maps (none).
  struct HandedOver {
    const XMLNode* element;
    LoopMapsPtr maps;
  };

  // What the elements of a chain share: where they were written and how the walk got there,
  // and how it treats them.
  struct Context {
    const std::string* fileName;    // relative includes resolve against it
    const std::string* sourceFile;  // the file the elements were written in
    LoopMapsPtr loopMaps;           // for the elements of the chain not in the frame's `handedOver`
    int includeDepth;
    int xmlputDepth;
  };

  struct Frame {
    XMLNode* node;  // the next node of the chain to visit
    XMLNode* prev;  // the node before it in the chain, or null at the front
    Context context;
    Finish finish;
    // The walk reaches these in the reverse of their order here: a loop's insertions come right
    // after it, before those of any loop met earlier in the chain, so the next one is the last.
    std::vector<HandedOver> handedOver;
  };

  // Each step returns false when the run fails; `failure_` then says why.
  bool step(std::size_t frameIndex);
  bool finishFrame(Frame& parent, const Finish& finish);
  // Fails at the element being carried out, at another element, or at the locations given.
  bool fail(std::string message);
  bool failAt(const XMLElement* element, std::size_t frame, std::string message);
  bool fail(std::string message, std::vector<std::string> locations, bool strict = false);
  // Where an element of the chain of frame `frame` stands, then the include and xmlput elements
  // through which the walk reached that chain: those of the frames below it.
  std::vector<std::string> locate(const XMLElement* element, std::size_t frame) const;

  // Outcomes. Each leaves the frame's `node` and `prev` on what the walk visits next.
  bool keep(std::size_t f, XMLElement* element);
  bool remove(std::size_t f, XMLElement* element);
  // Walks the children of `source` in a scope of their own, then moves them into the place of
  // `directive`, which leaves the tree.
  bool replaceByChildren(std::size_t f, XMLElement* source, XMLElement* directive);
  bool spliceChildren(Frame& frame, XMLElement* source, XMLElement* directive);
  // Pushes a frame for the chain starting at `first` (which may be null), in a new scope.
  void pushChildFrame(XMLNode* first, Context context, const Finish& finish);

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
  // Pushes the frame for the content of an include or xmlput, with the macros of the directive's
  // "macros" attribute defined in its scope.
  void pushContentFrame(XMLNode* first, const XMLElement* directive, Context context,
                        const Finish& finish);
  // The path kept for the whole walk, for contexts and fragments to point at; a path met for the
  // first time is also a loaded file.
  const std::string* keptPath(const std::string& path);
  // A position inside an included file, then the include element's location.
  std::vector<std::string> locateInside(const std::string& path, std::int32_t line,
                                        const XMLElement* include, std::size_t frame) const;
  // Fails for an included file that could not be loaded or holds no root element.
  bool failLoad(const std::string& path, bool loaded, const XMLElement* include, std::size_t frame);
  // Loop directives.
  bool doFor(std::size_t f, XMLElement* element);
  bool doForeach(std::size_t f, XMLElement* element);
  // Inserts the loop body's elements after `*insertionPoint`, advancing it: copies expanded with
  // `iteration`, or for the last iteration the body itself, handed over with its loop maps.
  void insertBody(std::size_t f, XMLElement* loop, MacroTable& iteration, bool last,
                  XMLNode** insertionPoint);
  // Lists what the loop handed over with its chain's frame.
  void finishLoop(std::size_t f);

  // A macro reference an expansion left unresolved (strict mode), and the attribute it is in.
  struct Unresolved {
    std::string reference;
    std::string_view attribute;
  };
  // Expands the macro references in the element's attribute values in place; in strict mode,
  // notes in `unresolved_` the references left unresolved.
  void expandAttributes(XMLElement* element);
  // Strict mode: fails for a reference left unresolved in a value of `element`, written out.
  bool failUnresolved(const Unresolved& unresolved, const XMLElement* element, std::size_t frame);
  // Strict mode: checks the values an included root is written with: its own, and those it
  // inherits from the include element (whose unresolved references are `given`).
  bool checkWrittenRoot(const XMLElement* root, const XMLElement* directive,
                        const std::vector<Unresolved>& given, std::size_t f);
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
  std::vector<std::string>& loadedFiles_;
  const bool strict_;
  std::map<std::string, Fragment, std::less<>> fragments_;
  std::unordered_set<std::string> paths_;  // the files read, each once
  ExpressionEvaluator evaluator_;
  MacroTable macros_;  // the scope maps of the frames on the stack, innermost last
  std::vector<Frame> frames_;
  std::vector<HandedOver> inserted_;         // scratch: what the loop being carried out hands over
  LoopMapsPtr current_;                      // the loop maps of the element being carried out
  const XMLElement* dispatched_ = nullptr;   // the element being carried out
  std::size_t dispatchedFrame_ = 0;          // and the frame of its chain
  std::vector<const MacroTable*> mapChain_;  // scratch: loop maps outermost first
  std::string reference_;                    // scratch: an unresolved reference
  std::vector<Unresolved> unresolved_;       // those of the element just expanded, one per value
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
// A location line: "at in.xml:3" for `line` 2 (lines are counted from 0 inside, from 1 here).
std::string location(std::string_view what, std::string_view file, std::int32_t line);
// Strict mode: the message for a file whose text ends inside the element `open`.
std::string endsInsideMessage(const std::string& path, const XMLDocument::OpenElement& open);
// "0x" and the value in upper-case hexadecimal without leading zeros, written at the end of
// `buffer`.
std::string_view formatUpperHex(std::uint32_t value, char (&buffer)[10]);
// The value of an attribute, or empty when it is absent or null.
std::string_view attributeText(const XMLElement* element, std::string_view name);
