#pragma once

// The preprocessor's walk over the tree. It is a loop over an explicit stack of frames rather
// than recursion, so documents and include trees of any depth never exhaust the call stack. A
// frame is one sibling chain being walked with its scope map; when a chain is done, the frame's
// `Finish` says how the element that owned the chain leaves the walk.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Scope.h"
#include "expr/Evaluator.h"
#include "macros/MacroEnvironment.h"
#include "xmlpp/Preprocessor.h"

// Include and xmlput nesting limits (each counted separately).
inline constexpr int kMaxNesting = 1000;

class Walk {
 public:
  Walk(XMLDocument& document, const MacroEnvironment& environment, FragmentRegistry& fragments,
       std::vector<std::string>& loadedFiles)
      : doc_(document), env_(environment), fragments_(fragments), loadedFiles_(loadedFiles) {}

  // Walks the document's root element, the content of `fileName`, with the top-level scope.
  std::optional<Failure> run(const std::string& fileName, Scope scope);

 private:
  // How the element whose children a frame walks leaves the walk once they are done.
  struct Finish {
    enum class Kind : std::uint8_t { None, Keep, Replace, Include };
    Kind kind = Kind::None;
    XMLElement* source = nullptr;     // Replace: the element whose children move; Include: R
    XMLElement* directive = nullptr;  // Replace: the element that is removed; Include: D
    bool unwrap = false;              // Include: the included root is an "envelope"
  };

  struct Frame {
    XMLNode* node;  // the next node of the chain to visit
    XMLNode* prev;  // the node before it in the chain, or null at the front
    Scope scope;
    std::shared_ptr<const std::string> fileName;
    bool expansion;
    int includeDepth;
    int xmlputDepth;
    Finish finish;
  };

  // Content of an include or xmlput: the scope and expansion it is walked with.
  struct ContentSetup {
    Scope scope;
    bool expansion;
    bool expandRoot;
  };

  // Each step returns false when the run fails; `failure_` then says why.
  bool step(std::size_t frameIndex);
  bool finishFrame(Frame& parent, const Finish& finish);
  bool fail(std::string message);

  // Outcomes. Each leaves the frame's `node` and `prev` on what the walk visits next.
  bool keep(std::size_t f, XMLElement* element);
  bool remove(std::size_t f, XMLElement* element);
  // Walks the children of `source` in a copy of the scope, then moves them into the place of
  // `directive`, which leaves the tree.
  bool replaceByChildren(std::size_t f, XMLElement* source, XMLElement* directive);
  bool spliceChildren(Frame& frame, XMLElement* source, XMLElement* directive);
  void pushChildFrame(XMLNode* first, Scope scope, bool expansion,
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
  bool doDefine(std::size_t f, XMLElement* element);
  bool doXmldef(std::size_t f, XMLElement* element);
  bool doXmlput(std::size_t f, XMLElement* element);
  ContentSetup contentSetup(const XMLElement* directive, const Frame& frame) const;
  // Loop directives.
  bool doFor(std::size_t f, XMLElement* element);
  bool doForeach(std::size_t f, XMLElement* element);
  // Inserts expanded copies of the loop body after `*insertionPoint`, advancing it.
  void insertBody(XMLElement* loop, const MacroMap& iteration, XMLNode** insertionPoint);

  // Expands the macro references in the element's attribute values in place.
  void expandAttributes(XMLElement* element, const MacroMap& macros);
  // A detached deep copy of the element and its element descendants, every attribute value
  // expanded with `macros`.
  XMLElement* copyWithMacros(const XMLElement* element, const MacroMap& macros);
  std::string expand(const Scope& scope, std::string_view text) const {
    return env_.expand(scope.map(), text);
  }

  XMLDocument& doc_;
  const MacroEnvironment& env_;
  FragmentRegistry& fragments_;
  std::vector<std::string>& loadedFiles_;
  ExpressionEvaluator evaluator_;
  std::vector<Frame> frames_;
  std::string buffer_;  // scratch for expansions and copies
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

// Calls `visit` with each way of choosing one item from every list (indexes into the lists), the
// first list changing slowest: none when a list is empty, one empty choice when there are no lists.
void combineValueLists(const std::vector<std::vector<std::string>>& lists,
                       const std::function<void(const std::vector<std::size_t>&)>& visit);

std::string withoutLineFeeds(std::string_view text);
// "0x" and the value in upper-case hexadecimal without leading zeros, written at the end of
// `buffer`.
std::string_view formatUpperHex(std::uint32_t value, char (&buffer)[10]);
// The value of an attribute, or empty when it is absent or null.
std::string_view attributeText(const XMLElement* element, std::string_view name);
