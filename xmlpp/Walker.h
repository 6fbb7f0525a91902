#pragma once

// The preprocessor's walk. It is written as a loop over an explicit stack of frames rather than
// as recursion, so documents and include trees of any depth never exhaust the call stack. A frame
// is one sibling chain being walked with its scope map; when a chain is done, the frame's
// `Finish` says how the element that owned the chain leaves the walk.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "expr/Evaluator.h"
#include "macros/MacroEnvironment.h"
#include "xmlpp/Preprocessor.h"
#include "xmlpp/Scope.h"

// Include and xmlput nesting limits (each counted separately).
inline constexpr int kMaxNesting = 1000;

class Walker {
 public:
  Walker(XMLPP2& document, const MacroEnvironment& environment)
      : doc_(document), env_(environment) {}

  void run(XMLNode* first, const std::string& fileName, Scope& scope, bool macroExpansion);

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

  void step(std::size_t frameIndex);
  void finishFrame(Frame& parent, const Finish& finish);

  // Outcomes. Each leaves the frame's `node` and `prev` on what the walk visits next.
  void keep(std::size_t f, XMLElement* element);
  void remove(std::size_t f, XMLElement* element);
  // Walks the children of `source` in a copy of the scope, then moves them into the place of
  // `directive`, which leaves the tree.
  void replaceByChildren(std::size_t f, XMLElement* source, XMLElement* directive);
  void spliceChildren(Frame& frame, XMLElement* source, XMLElement* directive);
  void pushChildFrame(XMLNode* first, Scope scope, bool expansion,
                      std::shared_ptr<const std::string> fileName, int includeDepth,
                      int xmlputDepth, const Finish& finish);

  // Conditional directives.
  void doIf(std::size_t f, XMLElement* element, bool negated);
  void doIfex(std::size_t f, XMLElement* element);
  void doIfdef(std::size_t f, XMLElement* element, bool negated);
  void doSwitch(std::size_t f, XMLElement* element);
  // Include and definition directives.
  void doInclude(std::size_t f, XMLElement* element);
  void finishInclude(Frame& parent, const Finish& finish);
  void doDefine(std::size_t f, XMLElement* element);
  void doXmldef(std::size_t f, XMLElement* element);
  void doXmlput(std::size_t f, XMLElement* element);
  ContentSetup contentSetup(const XMLElement* directive, const Frame& frame) const;
  // Loop directives.
  void doFor(std::size_t f, XMLElement* element);
  void doForeach(std::size_t f, XMLElement* element);
  // Inserts expanded copies of the loop body after `*insertionPoint`, advancing it.
  void insertBody(XMLElement* loop, const MacroMap& iteration, XMLNode** insertionPoint);

  std::string expand(const Scope& scope, std::string_view text) const {
    return env_.expandMacros(scope.map(), text, false);
  }
  void reportError(const std::string& message) {
    doc_.reportError("XmlPP::processConditionals(): " + message);
  }

  XMLPP2& doc_;
  const MacroEnvironment& env_;
  ExpressionEvaluator evaluator_;
  std::vector<Frame> frames_;
  std::string buffer_;  // scratch for expansions and copies
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
// "0x" and the value in upper-case hexadecimal without leading zeros.
std::string upperHex(std::uint32_t value);
// The same text, written at the end of `buffer`.
std::string_view formatUpperHex(std::uint32_t value, char (&buffer)[10]);
// The value of an attribute, or empty when it is absent or null.
std::string_view attributeText(const XMLElement* element, std::string_view name);
