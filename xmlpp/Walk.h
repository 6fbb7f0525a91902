#pragma once

// The preprocessor's walk over the tree: a small engine that owns the frames, dispatches each
// element to the handler of its directive's group (Conditionals, IncludeDefinitions, Loops) and
// carries out the outcome the handler returns. It is a loop over an explicit stack of frames
// rather than recursion, so documents and include trees of any depth never exhaust the call
// stack. A frame is one sibling chain being walked in a scope of its own; when a chain is done,
// the frame's `Finish` says how the element that owned the chain leaves the walk.
//
// Each element the walk reaches is one `Step` (WalkStep.h): the element, its frame and context,
// the loop variables it still carried (already applied to its attributes) and, when a check
// asks, the references its values left unresolved. A handler decides an `Outcome` (or fails
// with a diagnostic) from the step and what it sees of the walk (WalkScope.h); only the engine
// changes the frames. The directive checks run beside the handlers (DirectiveChecks.h).
//
// The scopes live in one macro table: a frame opens a scope when it is pushed and leaves it when
// it is popped, so definitions made in a chain apply to the rest of the chain and below, and
// never outlive it.

#include <string>
#include <string_view>
#include <vector>

#include "Conditionals.h"
#include "DirectiveChecks.h"
#include "IncludeDefinitions.h"
#include "Loops.h"
#include "WalkScope.h"
#include "xmlpp/Preprocessor.h"

class Walk final : private Locator {
 public:
  // A walk over `document`, which it changes in place; each file it reads is added to
  // `loadedFiles` the first time. The enabled checks report to `findings`. An include not found
  // beside the including file is looked up in `includeDirs`, in order. `output`, when given,
  // takes the root's children the walk is done with. Each included file is checked against
  // `written`, the files the run writes, when given.
  Walk(XMLDocument& document, const MacroEnvironment& environment,
       std::vector<std::string>& loadedFiles, const std::vector<std::string>& includeDirs,
       Findings& findings, WalkListener* listener, RunOutput* output = nullptr,
       const WrittenFiles* written = nullptr)
      : scope_(document, environment, findings, listener, *this),
        checks_(scope_),
        conditionals_(scope_, checks_),
        includes_(scope_, loadedFiles, includeDirs, written),
        loops_(scope_),
        output_(output) {}

  // Walks the document's root element, the content of `fileName`, with these macros in the
  // outermost scope.
  Failure run(const std::string& fileName, const MacroMap& macros,
              const MacroSources* sources = nullptr);

  // The directive the walk carries out for an element of this name, or null.
  static const Directive* walkedDirective(std::string_view name);

 private:
  // How the element whose children a frame walks leaves the walk once they are done.
  struct Finish {
    Outcome::Kind kind = Outcome::Kind::Keep;
    XMLElement* source = nullptr;     // the element whose children move (Include: the root)
    XMLElement* directive = nullptr;  // the element that is removed (Include: the include)
  };
  struct Frame {
    XMLElement* owner;  // whose children the chain is: null for the root element's own chain
    XMLNode* node;      // the next node of the chain to visit
    XMLNode* prev;      // the node before it in the chain, or null at the front (at the end of
                        // the chain, its last node)
    WalkContext context;
    Finish finish;
    // The walk reaches these in the reverse of their order here: a loop's insertions come right
    // after it, before those of any loop met earlier in the chain, so the next one is the last.
    std::vector<HandedOver> handedOver;
  };

  // The walk's loop; the listened instance tells the listener, the other has no test for it.
  template <bool kListened>
  Failure walk();
  // Completes the step for the element at the front of its frame: the loop variables it carries
  // applied, its values expanded.
  template <bool kListened>
  Failure begin(Step& step);
  Decision decide(Step& step);
  Decision dispatch(const Directive& directive, Step& step);
  // The failure of a directive other than include that is the root element (after the checks
  // its handler would have made).
  [[gnu::noinline]] Decision atRoot(const Step& step);
  // Decides for a directive whose element holds kept text, which a directive does not write.
  [[gnu::noinline]] Decision decideWithText(Step& step, const Directive& directive);
  // The walk meets a for loop that goes on.
  Decision resumeFor(Step& step);
  Failure carryOut(Step& step, Outcome& outcome);
  // Carries out `finish` in the frame below the one that just walked the chain ending in `last`.
  Failure finishFrame(Frame& parent, const Finish& finish, XMLNode* last);

  std::vector<SourceLocation> locate(const XMLElement* element, std::size_t frame) const override;
  // Where `element`, written in `file`, stands: its line and column.
  SourceLocation at(SourceLocation::Role role, const std::string& file,
                    const XMLElement* element) const;

  // Outcomes, carried out. Each leaves the frame's `node` and `prev` on what the walk visits next.
  Failure keep(const Step& step);
  void remove(Frame& frame, XMLElement* element);
  // Walks the children of `source` in a scope of their own (those of a put fragment in a content
  // scope), then moves them into the place of `finish.directive`.
  void enterChildren(Step& step, const Finish& finish, const std::string* file);
  // Moves the children of `source` (the last of them `last`, null when it has none) into the
  // place of `directive`, which leaves the tree.
  void spliceChildren(Frame& frame, XMLElement* source, XMLElement* directive, XMLNode* last);
  // Puts an included root in the include's place and walks its content in a scope of its own.
  Failure enterInclude(Step& step, XMLElement* root, const std::string* file);
  // Pushes a frame for the chain starting at `first` (which may be null), in a new scope.
  void pushChildFrame(XMLNode* first, WalkContext context, const Finish& finish);
  // Lists what a loop inserted after its element with the frame of its chain.
  static void listHandedOver(Frame& frame, std::vector<HandedOver>& handedOver);
  // Hands the nodes of the root element's chain before `frame.node` to the output and drops them
  // from the chain: the walk is done with them. False when there is no output for them (or it
  // took none), or the frame walks another chain.
  bool outputFinished(Frame& frame, std::size_t index);
  // Moves `loop` after `lastCopy`, the copies inserted after it, and goes on with the first.
  static void repeatAfter(Frame& frame, XMLElement* loop, XMLNode* lastCopy);

  WalkScope scope_;  // before the frames, whose loop maps deregister from its definers
  DirectiveChecks checks_;
  Conditionals conditionals_;
  IncludeDefinitions includes_;
  Loops loops_;
  RunOutput* output_;  // takes the root's finished children, when there is one
  std::vector<Frame> frames_;
};
