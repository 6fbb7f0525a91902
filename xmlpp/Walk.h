#pragma once

// The preprocessor's walk over the tree. It is a loop over an explicit stack of frames rather
// than recursion, so documents and include trees of any depth never exhaust the call stack. A
// frame is one sibling chain being walked in a scope of its own; when a chain is done, the
// frame's `Finish` says how the element that owned the chain leaves the walk.
//
// Each element the walk reaches is one `Step`: the element, its frame, the loop variables it
// still carried (already applied to its attributes) and, when a check asks, the references its
// values left unresolved. A directive handler is a function of that step alone: it decides an
// `Outcome` (or fails with a diagnostic), and the walk carries the outcome out on the frames.
// Nothing passes between handlers but what a step and its outcome hold.
//
// The scopes live in one macro table: a frame opens a scope when it is pushed and leaves it when
// it is popped, so definitions made in a chain apply to the rest of the chain and below, and
// never outlive it.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "expr/Evaluator.h"
#include "macros/MacroEnvironment.h"
#include "macros/MacroTable.h"
#include "xmlpp/Preprocessor.h"

// What a directive reads, for its checks (DirectiveChecks.cpp).
struct DirectiveReads;

// Include and xmlput nesting limits (each counted separately).
inline constexpr int kMaxNesting = 1000;

class Walk {
 public:
  // A walk over `document`, which it changes in place; each file it reads is added to
  // `loadedFiles` the first time. The enabled checks report to `findings`: an unresolved
  // reference in a value written out, an included file that ends inside an element, mistakes in
  // directives. An include not found beside the including file is looked up in `includeDirs`, in
  // order.
  Walk(XMLDocument& document, const MacroEnvironment& environment,
       std::vector<std::string>& loadedFiles, const std::vector<std::string>& includeDirs,
       Findings& findings, WalkListener* listener, RunOutput* output = nullptr)
      : doc_(document),
        env_(environment),
        loadedFiles_(loadedFiles),
        includeDirs_(includeDirs),
        findings_(findings),
        collectUnresolved_(findings.on(Check::UnresolvedMacro) ||
                           findings.on(Check::UnresolvedInDirective)),
        listener_(listener),
        output_(output) {
    relay_.listener = listener;
  }

  // Walks the document's root element, the content of `fileName`, with these macros in the
  // outermost scope.
  Failure run(const std::string& fileName, const MacroMap& macros);

  // Whether an element of this name is a directive the walk carries out.
  static bool isDirective(std::string_view name);

 private:
  // The loop variables still to be applied to the elements of a loop body that the loop handed
  // over instead of copying (its last iteration): that iteration's table, after the tables of the
  // loops around it. They are applied when the walk reaches each element, as a copy would have
  // had them at once, so nested loops cost no more than the elements they hold.
  // They are freed when no element that is still to be walked carries them.
  struct LoopMaps;
  // For each name, the loop maps alive whose table defines it, oldest first: the tables that a
  // reference to the name can change, so that a value skips the tables that cannot.
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const {
      return std::hash<std::string_view>()(name);
    }
  };
  using Definers =
      std::unordered_map<std::string, std::vector<const LoopMaps*>, NameHash, std::equal_to<>>;
  struct LoopMaps {
    LoopMaps(std::shared_ptr<const LoopMaps> outerMaps, MacroTable iteration, Definers& registry);
    LoopMaps(const LoopMaps&) = delete;
    LoopMaps& operator=(const LoopMaps&) = delete;
    ~LoopMaps();

    mutable std::shared_ptr<const LoopMaps> outer;
    MacroTable table;
    std::uint32_t depth;   // 0 for the outermost
    const LoopMaps* jump;  // an ancestor, so that the one at a given depth is found in log time
    Definers& definers;    // where the table's names are registered while the maps live
    // The maps of the chain at `target` depth (at most this one's).
    const LoopMaps* ancestorAt(std::uint32_t target) const;
  };
  using LoopMapsPtr = std::shared_ptr<const LoopMaps>;

  // A fragment registered by "xmldef": the element (detached from the tree, in the document's
  // arena) and the file it was written in. The registry has no scopes.
  struct Fragment {
    const XMLElement* element;
    const std::string* file;
  };

  // A macro reference an expansion left unresolved (when a check asks), and its attribute.
  struct Unresolved {
    std::string reference;
    std::string_view attribute;
  };

  // One element reached by the walk.
  struct Step {
    XMLElement* element;
    std::size_t frame;                   // the frame of its chain
    LoopMapsPtr loopMaps;                // the loop variables it carried, applied to its values
    std::vector<Unresolved> unresolved;  // checks: left in its values, one per value
  };

  // What a directive decides for its element.
  struct Outcome {
    enum class Kind : std::uint8_t {
      Keep,     // written out, its children walked
      Remove,   // leaves the tree with its children
      Replace,  // replaced by the walked children of `source` (itself or a chosen branch)
      Put,      // replaced by the walked children of `source`, a copy of a fragment
      Include,  // replaced by `source`, the root of an included file, and its walked content
      Repeat,   // a for loop that goes on: the copies of an iteration, up to `source` (the last
                // of them, or null for none), are moved before it, and the walk meets it again
                // after them (ForLoop)
    };
    Kind kind;
    XMLElement* source = nullptr;
    const std::string* file = nullptr;  // Put, Include: where `source`'s children were written
  };
  using Decision = Expected<Outcome>;

  // A directive: its element's name and the handler that decides what the element becomes.
  struct DirectiveEntry {
    std::string_view name;
    Decision (Walk::*handler)(Step&);
  };
  static const DirectiveEntry kDirectives[12];  // defined, and so counted, in Walk.cpp
  // False for most names that are no directive's, by their length and first letter alone.
  static bool mayBeDirective(std::string_view name);

  // How the element whose children a frame walks leaves the walk once they are done.
  struct Finish {
    Outcome::Kind kind = Outcome::Kind::Keep;
    XMLElement* source = nullptr;     // the element whose children move (Include: the root)
    XMLElement* directive = nullptr;  // the element that is removed (Include: the include)
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
    XMLElement* owner;  // whose children the chain is: null for the root element's own chain
    XMLNode* node;      // the next node of the chain to visit
    XMLNode* prev;      // the node before it in the chain, or null at the front (at the end of
                        // the chain, its last node)
    Context context;
    Finish finish;
    // The walk reaches these in the reverse of their order here: a loop's insertions come right
    // after it, before those of any loop met earlier in the chain, so the next one is the last.
    std::vector<HandedOver> handedOver;
  };

  // Completes the step for the element at the front of its frame: the loop variables it carries
  // applied, its values expanded.
  // The walk's loop; the listened instance tells the listener, the other has no test for it.
  template <bool kListened>
  Failure walk();
  template <bool kListened>
  Failure begin(Step& step);
  Decision decide(Step& step);
  // The failure of a directive other than include that is the root element (after the checks
  // its handler would have made).
  [[gnu::noinline]] Decision atRoot(const Step& step);
  // Decides for a directive whose element holds kept text, which a directive does not write.
  [[gnu::noinline]] Decision decideWithText(Step& step, Decision (Walk::*handler)(Step&));
  Failure carryOut(Step& step, const Outcome& outcome);
  // Carries out `finish` in the frame below the one that just walked the chain ending in `last`.
  Failure finishFrame(Frame& parent, const Finish& finish, XMLNode* last);

  // A failure of the directive of `step` ("XmlPP::processConditionals(): " and the message).
  Diagnostic fail(const Step& step, std::string message) const;
  Diagnostic failAt(const XMLElement* element, std::size_t frame, std::string message) const;
  // Where an element of the chain of frame `frame` stands, then the include and xmlput elements
  // through which the walk reached that chain: those of the frames below it.
  std::vector<SourceLocation> locate(const XMLElement* element, std::size_t frame) const;
  // Where `element`, written in `file`, stands: its line and column.
  SourceLocation at(SourceLocation::Role role, const std::string& file,
                    const XMLElement* element) const;
  // The unresolved-macro check's finding for a reference left unresolved in a value of
  // `element`, written out.
  Failure unresolvedFinding(const Unresolved& unresolved, const XMLElement* element,
                            std::size_t frame) const;
  // The findings for each reference left unresolved in the step's element, written out; kept out
  // of line, off the path of an element without any.
  [[gnu::noinline]] Failure unresolvedFindings(const Step& step) const;

  // Outcomes, carried out. Each leaves the frame's `node` and `prev` on what the walk visits next.
  Failure keep(const Step& step);
  void remove(Frame& frame, XMLElement* element);
  // Walks the children of `source` in a scope of their own (those of a put or an included root
  // in a content scope), then moves them into the place of `finish.directive`.
  void enterChildren(const Step& step, const Finish& finish, const std::string* file);
  // Moves the children of `source` (the last of them `last`, null when it has none) into the
  // place of `directive`, which leaves the tree.
  void spliceChildren(Frame& frame, XMLElement* source, XMLElement* directive, XMLNode* last);
  Failure enterInclude(Step& step, XMLElement* root, const std::string* file);
  // Defines the macros of a directive's "macros" attribute in the innermost scope (that of the
  // content of an include or xmlput); `file` is where the directive was written.
  void defineMacrosAttribute(const XMLElement* directive, const std::string* file);
  // The origin of a value defined by the step's element.
  MacroOrigin originOf(const Step& step, MacroOrigin::Kind kind) const {
    return MacroOrigin{kind, frames_[step.frame].context.sourceFile, step.element->name().data()};
  }
  // Pushes a frame for the chain starting at `first` (which may be null), in a new scope.
  void pushChildFrame(XMLNode* first, Context context, const Finish& finish);

  // The children of the step's element as a loop's copy would have them: the step's loop
  // variables applied to every element below it (values expanded, nodes other than elements
  // dropped). The step then carries no loop variables, so its children are walked as they are.
  Failure childrenAsCopied(Step& step);

  // The directive checks (DirectiveChecks.cpp), run on each step when a check is enabled: the
  // step's element is a directive (`directive`, its name) or an ordinary element.
  Failure checkStep(const Step& step);
  Failure checkNames(const Step& step);
  [[gnu::noinline]] Failure illFormedNames(const Step& step);
  Failure checkDirective(const Step& step, const DirectiveReads& what);
  Failure checkAttributes(const XMLElement* element, std::size_t frame, const DirectiveReads& what);
  Failure checkMisspelled(const Step& step);
  // The directives a name may be a misspelling of (see DirectiveChecks.cpp), remembered for the
  // names met last.
  std::uint32_t nearDirectivesOf(std::string_view name);
  struct NearEntry {
    std::string name;
    std::uint32_t near = 0;
  };
  // The undefined-condition finding for a name an if, ifnot or switch tests that nothing but a
  // test defined (checked as the directive looks it up).
  [[gnu::noinline]] Failure checkCondition(const Step& step, std::string_view tested);
  Failure checkEvaluation(const Step& step, std::string_view directive);
  // The not-evaluated findings: for a for bound, and for the ifex expression `text` that the
  // directive evaluated to `truth` (checked as it is carried out, not evaluated twice).
  Failure checkBound(const Step& step, std::string_view attribute);
  [[gnu::noinline]] Failure checkIfex(const Step& step, std::string_view text,
                                      std::optional<bool> truth);
  // The checks made as a directive is carried out, for one that fails before (the root element).
  [[gnu::noinline]] Failure checkUncarried(const Step& step);
  // "attribute A of <D> ("VALUE") WHAT: THEN".
  Failure notEvaluated(const Step& step, std::string_view directive, std::string_view attribute,
                       std::string_view what, std::string_view then) const;
  // What a text whose expression ended before its end holds, for a finding.
  std::string ignoredRest(std::string_view text) const;
  Failure checkSwitchBranch(const Step& step, std::string_view value);
  // A finding of `check` located at the step's element.
  Failure found(const Step& step, Check check, std::string message) const {
    return findings_.report(check, std::move(message), locate(step.element, step.frame));
  }

  // Conditional directives.
  Decision doIf(Step& step) {
    return listener_ ? decideIf<true>(step, false) : decideIf<false>(step, false);
  }
  Decision doIfnot(Step& step) {
    return listener_ ? decideIf<true>(step, true) : decideIf<false>(step, true);
  }
  template <bool kListened>
  Decision decideIf(const Step& step, bool negated);
  Decision doIfex(Step& step);
  Decision doIfdef(Step& step) { return decideIfdef(step, false); }
  Decision doIfndef(Step& step) { return decideIfdef(step, true); }
  Decision decideIfdef(const Step& step, bool negated);
  Decision doSwitch(Step& step);
  // Include and definition directives.
  // Whether an include of `path` finds a file: the document's file source has a text for it, or
  // it names a file.
  bool readable(const std::string& path) const;
  // The first of the include folders DIR where "DIR/name" names a file, or null; `lookedAt` gets
  // each path tried, separated by ", ".
  const std::string* searchIncludeDirs(const std::string& name, std::string& lookedAt) const;
  Decision doInclude(Step& step);
  Failure finishInclude(Frame& parent, const Finish& finish, XMLNode* last);
  // Copies the include element's attributes named by its "inherit_attributes" onto the included
  // root, in list order; an attribute the root has keeps its place and takes the new value.
  void inheritAttributes(XMLElement* root, const XMLElement* directive);
  Decision doDefine(Step& step);
  Decision doXmldef(Step& step);
  Decision doXmlput(Step& step);
  // The path kept for the whole walk, for contexts and fragments to point at; a path met for the
  // first time is also a loaded file.
  const std::string* keptPath(const std::string& path);
  // Checks the values an included root is written with: its own (`own`), and those it inherits
  // from the include element (whose unresolved references are the step's).
  Failure checkWrittenRoot(const Step& step, const XMLElement* root,
                           const std::vector<Unresolved>& own) const;
  // The expansions of a loop body's values with the loop's iteration table, prepared by the first
  // copy for every later one: each copy meets the same values in the same order. Only the body
  // of a loop without loop maps around it is expanded with that table alone and can use them.
  struct PreparedValues {
    struct Entry {
      bool hasReferences;                          // without, the copy shares the value
      std::optional<PreparedExpansion> expansion;  // nothing: the value needs the full expansion
      bool final;  // the value as copied holds no "$": the walk need not expand it again
    };
    // One for each value, in the order a copy meets them.
    std::vector<Entry> entries;
    std::size_t next = 0;  // the entry of the next value the copy being made meets
    // Whether the table's values never hold a "$" (those of a for loop: numbers and letters).
    bool plainValues = false;
    // Whether a copy expands something with the whole table: a value that needs the full
    // expansion, or kept text.
    bool wholeTable = false;
    // Whether the copies write `value`, one of the table's values (wholeTable: they may).
    bool write(const std::string* value) const {
      if (wholeTable) return true;
      for (const Entry& entry : entries) {
        if (entry.expansion && entry.expansion->writes(value)) return true;
      }
      return false;
    }
  };
  // Loop directives.
  Decision doFor(Step& step);
  Decision doForeach(Step& step);
  // A for loop between its iterations. A loop whose copies are complete as made (every value
  // prepared, no loop maps around it, and nothing that watches the walk) makes them one
  // iteration at a time: it stays in its chain after the copies of the iteration and is met
  // again once they have been walked. When they left nothing in the chain and started nothing
  // that outlives them there (`lastingEffects_`), their memory is used again for the next
  // iteration's copies.
  struct ForLoop {
    XMLElement* element;
    MacroTable iteration;
    std::string* value;  // the loop variables in `iteration`
    std::string* alpha;
    std::string* hex;
    std::string* ap;
    std::string* apHex;
    std::uint32_t counter;
    std::uint32_t apCounter;
    std::uint32_t end;
    std::uint32_t increment;
    std::uint32_t apIncrement;
    // The number of iterations, or any number above 2^24 when there are more (iterationCount).
    std::uint64_t planned;
    // Which variables each iteration sets. All of them at first; once the first copy has been
    // prepared, only those its values write, when nothing else reads the table: the listener
    // and a body expanded through loop maps read every variable. (The body the last iteration
    // hands over holds the same values, so its loop maps are read for the same variables.)
    bool setValue = true, setAlpha = true, setHex = true, setAp = true, setApHex = true;
    bool narrowed = false;
    bool counted = false;  // `value` holds the decimal digits of the counter before the last step
    std::uint64_t iterations = 0;  // told to the listener
    PreparedValues prepared;
    // Where the copies of the iteration being walked began: the arena, the node before them in
    // the chain and the count of lasting effects. Not for the first iteration, whose copies were
    // made with the prepared values: they are never used again.
    bool copiesMarked = false;
    Arena::Mark copiesStart{};
    const XMLNode* before = nullptr;
    std::uint64_t effects = 0;
  };
  // Makes the loop's next iterations: all that are left, or one when the loop can go on later.
  Decision iterateFor(Step& step, ForLoop& loop);
  // The walk meets `step.element`, a loop that goes on (the last of `forLoops_`).
  Decision continueFor(Step& step);
  // Hands the nodes of the root element's chain before `frame.node` to the output and drops them
  // from the chain: the walk is done with them. False when there is no output for them (or it
  // took none), or the frame walks another chain.
  bool outputFinished(Frame& frame, std::size_t index);
  // Moves `loop` after `lastCopy`, the copies inserted after it, and goes on with the first.
  static void repeatAfter(Frame& frame, XMLElement* loop, XMLNode* lastCopy);
  // Inserts the loop body's elements after `*insertionPoint`, advancing it: copies expanded with
  // `iteration`, or for the last iteration the body itself, handed over with its loop maps. What
  // needs listing in the chain's frame goes to `handedOver`, in insertion order.
  Failure insertBody(const Step& step, MacroTable& iteration, bool last, XMLNode** insertionPoint,
                     std::vector<HandedOver>& handedOver, PreparedValues& prepared);
  // Lists what the loop handed over with its chain's frame.
  void finishLoop(const Step& step, std::vector<HandedOver>& handedOver);

  // Expands the macro references in the element's kept text, reporting those left unresolved
  // (frame: that of the element's chain); a text that expands to nothing is removed.
  Failure expandText(XMLElement* element, std::size_t frame);
  // Removes the kept text of `holder`, whose content is not written where it stands, and reports
  // it dropped, because `why`.
  Failure dropText(XMLElement* holder, std::size_t frame, std::string_view why);
  static constexpr std::string_view kDirectiveContent =
      "a directive's content is elements; put the text inside one";
  // Stands for an element's kept text where an attribute is expected (an empty name).
  static inline const XMLAttribute kText{};

  // Expands the macro references in the element's attribute values in place; when a check asks,
  // adds the references left unresolved to `unresolved`.
  //
  // This and the loop expansions below come in two instances: `kListened` tells the listener of
  // each reference. The walk's loop is itself in two instances (walk<kListened>), so a walk
  // without a listener never tests for one on these paths.
  Failure expandAttributes(XMLElement* element, std::size_t frame,
                           std::vector<Unresolved>& unresolved) {
    return listener_ ? expandAttributesAs<true>(element, frame, unresolved)
                     : expandAttributesAs<false>(element, frame, unresolved);
  }
  template <bool kListened>
  Failure expandAttributesAs(XMLElement* element, std::size_t frame,
                             std::vector<Unresolved>& unresolved);
  // The failure for an attribute of `element` (its text: an empty name) whose expanded value
  // would be longer than the bound on values built (MacroEnvironment::kMaxValueSize), located at
  // `at` in frame `frame`.
  Diagnostic tooLong(const XMLElement& element, std::string_view attribute, const XMLElement* at,
                     std::size_t frame) const;
  // Applies loop maps to an element as a loop's copy would have: every attribute value and its
  // kept text expanded (a null value becomes empty), and its other children but elements dropped.
  // Returns the attribute whose value would grow too long, if one does (kText for its text).
  // `file` is where the element was written (for the listener).
  const XMLAttribute* applyLoopMaps(XMLElement* element, const LoopMaps& maps,
                                    const std::string* file) {
    return listener_ ? applyLoopMapsAs<true>(element, maps, file)
                     : applyLoopMapsAs<false>(element, maps, file);
  }
  template <bool kListened>
  const XMLAttribute* applyLoopMapsAs(XMLElement* element, const LoopMaps& maps,
                                      const std::string* file);
  // A value expanded with `maps`' tables, outermost first, then with `last` when given; nothing
  // when it would grow too long. Tables that cannot change the value are skipped, so a value
  // costs the tables that define one of its names, not the depth of the chain.
  template <bool kListened>
  std::optional<std::string_view> expandWithLoopMaps(std::string_view value, const LoopMaps* maps,
                                                     const MacroTable* last);
  // The same for a value with references and a chain of loop maps.
  template <bool kListened>
  std::optional<std::string_view> expandThroughChain(std::string_view value, const LoopMaps& maps,
                                                     const MacroTable* last);
  // The outermost maps of `maps`' chain, at depth `from` or deeper, whose table defines one of
  // `names`; null when there is none.
  const LoopMaps* firstDefiner(const std::vector<std::string_view>& names, const LoopMaps& maps,
                               std::uint32_t from) const;
  // A value of the body expanded with `iteration` alone, prepared once: as expandWithLoopMaps
  // with no maps gives it. Clears `final` unless the value is known to hold no "$".
  std::optional<std::string_view> expandPrepared(PreparedValues& prepared, std::string_view value,
                                                 const MacroTable& iteration, bool& final);
  // A detached deep copy of `body` and its element descendants, every attribute value expanded
  // with the step's loop maps and then `iteration` (with `prepared`, when given, for a step
  // without maps).
  Expected<XMLElement*> copyWithMacros(const Step& step, const XMLElement* body,
                                       const MacroTable& iteration, PreparedValues* prepared);
  // Tells the listener of the references a copy of `body` expanded with the loop variables.
  [[gnu::noinline]] void tellCopyReferences(const Step& step, const XMLElement* body,
                                            const MacroTable& iteration);
  // The text with the references of the current scope expanded: the text itself when it holds
  // no "$", else a view of storage that the next expansion reuses; nothing when too long.
  std::optional<std::string_view> expand(std::string_view text) {
    return env_.expand(macros_, text, false, buffer_);
  }
  // A value expanded with the current scope, as expand() does, reporting the references it left
  // unresolved; the listened instance tells the listener of each reference.
  template <bool kListened>
  std::optional<std::string_view> expandInScope(std::string_view text, std::string* unresolved) {
    if constexpr (kListened) return env_.expand(macros_, text, false, buffer_, relay_, unresolved);
    return env_.expand(macros_, text, false, buffer_, unresolved);
  }
  // A value expanded with one loop table; the listened instance tells the listener of each
  // reference, as one of `relay_`'s place.
  template <bool kListened>
  std::optional<std::string_view> expandWithTable(const MacroTable& table, std::string_view text) {
    if constexpr (kListened) return env_.expand(table, text, false, buffer_, relay_);
    return env_.expand(table, text, false, buffer_);
  }

  // What the listener is told, kept out of line, off the path of a walk without one.
  // Passes the references an expansion meets on to the listener, as those of `place`.
  struct ReferenceRelay final : ReferenceObserver {
    WalkListener* listener = nullptr;
    WalkPlace place{};
    std::string_view attribute;
    bool loopVariable = false;
    void resolved(const ResolvedReference& reference) override {
      // A loop's table resolves its own variables; the rest is for the scope to resolve later.
      if (loopVariable && reference.source == ResolvedReference::Source::Unresolved) return;
      listener->reference(ReferenceEvent{place, attribute, reference, loopVariable});
    }
  };
  void relayAt(const XMLElement* element, const std::string* file, std::string_view attribute,
               bool loopVariable) {
    relay_.place = WalkPlace{element, file};
    relay_.attribute = attribute;
    relay_.loopVariable = loopVariable;
  }
  [[gnu::noinline]] void tellCondition(const Step& step, ConditionEvent::Directive directive,
                                       bool taken, std::string_view attribute,
                                       std::string_view name);
  [[gnu::noinline]] void tellIf(const Step& step, bool negated, bool taken);
  [[gnu::noinline]] void tellSwitch(const Step& step, std::string_view name,
                                    const XMLElement* chosen, bool chosenDefault);
  [[gnu::noinline]] void tellDefine(const Step& step, std::string_view name,
                                    std::string_view attribute, bool set,
                                    const MacroOrigin& origin);
  WalkPlace placeOf(const Step& step) const {
    return WalkPlace{step.element, frames_[step.frame].context.sourceFile};
  }

  XMLDocument& doc_;
  const MacroEnvironment& env_;
  std::vector<std::string>& loadedFiles_;
  const std::vector<std::string>& includeDirs_;
  Findings& findings_;
  const bool collectUnresolved_;  // expansions record the references they leave unresolved
  WalkListener* const listener_;
  RunOutput* output_;  // takes the root's finished children, when there is one
  ReferenceRelay relay_;
  std::map<std::string, Fragment, std::less<>> fragments_;
  static constexpr std::size_t kNearCacheSize = 1024;
  std::vector<NearEntry> nearCache_;       // made when first used
  std::unordered_set<std::string> paths_;  // the files read, each once
  ExpressionEvaluator evaluator_;
  MacroTable macros_;  // the scope maps of the frames on the stack, innermost last
  Definers definers_;  // declared before the frames, whose loop maps deregister from it
  std::vector<Frame> frames_;
  // The for loops being made, innermost last: the walk meets those that go on in this order.
  std::vector<std::unique_ptr<ForLoop>> forLoops_;
  // Counts the directives whose effects may keep memory that the chain does not hold: a fragment
  // defined, an included or put tree. (A loop inside another's copies has ended, and let go of
  // all it held, by the time the walk meets the outer loop again.)
  std::uint64_t lastingEffects_ = 0;
  // Storage reused from one expansion to the next; no value outlives the call that fills it.
  std::vector<const MacroTable*> mapChain_;
  std::vector<std::string_view> names_;
  std::string reference_;
  std::string buffer_;
  std::string passText_;
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
