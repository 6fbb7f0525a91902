#pragma once

// What a directive handler sees of the walk: the document, the macros in scope and the
// expansions of values (with the scope, and with the loop variables a handed-over body carries),
// the expression evaluator, where findings go and where an element stands, and the listener.
// The frames stay the engine's (Walk.h): a handler reaches them only through the outcome it
// returns, and through `locate` for messages.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "LoopMaps.h"
#include "WalkStep.h"
#include "expr/Evaluator.h"
#include "macros/MacroEnvironment.h"
#include "macros/MacroTable.h"
#include "xmlpp/Checks.h"
#include "xmlpp/WalkListener.h"

// Where an element of the chain of a frame stands, then the include and xmlput elements through
// which the walk reached that chain (the engine knows the frames).
class Locator {
 public:
  virtual std::vector<SourceLocation> locate(const XMLElement* element,
                                             std::size_t frame) const = 0;

 protected:
  ~Locator() = default;
};

class WalkScope {
 public:
  WalkScope(XMLDocument& document, const MacroEnvironment& environment, Findings& findings,
            WalkListener* listener, const Locator& locator)
      : doc(document),
        env(environment),
        findings(findings),
        listener(listener),
        collectUnresolved(findings.on(Check::UnresolvedMacro) ||
                          findings.on(Check::UnresolvedInDirective) ||
                          findings.on(Check::MisspelledMacro)),
        locator_(locator) {
    relay_.listener = listener;
  }
  WalkScope(const WalkScope&) = delete;
  WalkScope& operator=(const WalkScope&) = delete;

  XMLDocument& doc;
  const MacroEnvironment& env;
  Findings& findings;
  WalkListener* const listener;
  const bool collectUnresolved;  // expansions record the references they leave unresolved
  MacroTable macros;             // the scope maps of the frames on the stack, innermost last
  ExpressionEvaluator evaluator;
  // Counts the directives whose effects may keep memory that the chain does not hold: a fragment
  // defined, an included or put tree.
  std::uint64_t lastingEffects = 0;
  Definers definers;  // the names of the loop maps alive (LoopMaps.h)

  // Failures and findings, located at an element of a frame's chain (and the chain that led
  // there). A failure of a directive reads "XmlPP::processConditionals(): " and the message.
  std::vector<SourceLocation> locate(const XMLElement* element, std::size_t frame) const {
    return locator_.locate(element, frame);
  }
  Diagnostic fail(const Step& step, std::string message) const {
    return failAt(step.element, step.frame, std::move(message));
  }
  Diagnostic failAt(const XMLElement* element, std::size_t frame, std::string message) const;
  // The failure for an attribute of `element` (its text: an empty name) whose expanded value
  // would be longer than the bound on values built (MacroEnvironment::kMaxValueSize), located at
  // `at` in frame `frame`.
  Diagnostic tooLong(const XMLElement& element, std::string_view attribute, const XMLElement* at,
                     std::size_t frame) const;
  // A finding of `check` located at the step's element.
  Failure found(const Step& step, Check check, std::string message,
                std::vector<FixIt> fixes = {}) const {
    return findings.report(check, std::move(message), locate(step.element, step.frame),
                           std::move(fixes));
  }
  // The fix that writes `text` in place of the name `name`, a view into a text the document read
  // (an element's or attribute's name); none for a name held anywhere else.
  std::optional<FixIt> renaming(std::string_view name, std::string_view text) const;
  // The fixes that rename `element` to `text`: its start tag's name and, for an element without
  // children whose end tag follows its start tag, that end tag's; none where its end tag is
  // further on.
  std::vector<FixIt> renamingElement(const XMLElement& element, std::string_view text) const;
  // The fixes, not certain, that rename the references `reference` ("$(NAME)") in the value of
  // `attribute` of `element` to $(`near`), as its start tag is written; none where the value is
  // not written so (a copy a loop or fragment made).
  std::vector<FixIt> renamingReference(const XMLElement& element, std::string_view attribute,
                                       std::string_view reference, std::string_view near) const;
  // The finding for a reference left unresolved in a value of `element`, written out.
  Failure unresolvedFinding(const Unresolved& unresolved, const XMLElement* element,
                            std::size_t frame);
  // The findings for each reference left unresolved in the step's element, written out.
  [[gnu::noinline]] Failure unresolvedFindings(const Step& step);
  // The check a reference `reference` ("$(NAME)") left unresolved is reported under, what the
  // message ends with and the name near: misspelled-macro, "; did you mean $(OTHER)?" and OTHER
  // when it is on and a name in force is near, else `plain` and nothing.
  struct UnresolvedCheck {
    Check check;
    std::string suggestion;
    std::string near;
  };
  UnresolvedCheck unresolvedCheck(std::string_view reference, Check plain);

  // The origin of a value defined by the step's element, and where the step stands.
  MacroOrigin originOf(const Step& step, MacroOrigin::Kind kind) const {
    return MacroOrigin{kind, step.context->sourceFile, step.element->name().data()};
  }
  static WalkPlace placeOf(const Step& step) {
    return WalkPlace{step.element, step.context->sourceFile};
  }

  // The text with the references of the current scope expanded: the text itself when it holds
  // no "$", else a view of storage that the next expansion reuses; nothing when too long.
  std::optional<std::string_view> expand(std::string_view text) {
    return env.expand(macros, text, false, buffer_);
  }
  // Expands the macro references in the element's attribute values in place, with the scope;
  // when a check asks, adds the references left unresolved to `unresolved`. `file` is where the
  // element was written (for the listener).
  Failure expandAttributes(XMLElement* element, std::size_t frame, const std::string* file,
                           std::vector<Unresolved>& unresolved) {
    return listener ? expandAttributesAs<true>(element, frame, file, unresolved)
                    : expandAttributesAs<false>(element, frame, file, unresolved);
  }
  // The listened instance tells the listener of each reference; the walk's own loop is in two
  // instances too, so a walk without a listener never tests for one on these paths.
  template <bool kListened>
  Failure expandAttributesAs(XMLElement* element, std::size_t frame, const std::string* file,
                             std::vector<Unresolved>& unresolved);

  // Applies loop maps to an element as a loop's copy would have: every attribute value and its
  // kept text expanded (a null value becomes empty), and its other children but elements dropped.
  // Returns the attribute whose value would grow too long, if one does (kText for its text).
  const XMLAttribute* applyLoopMaps(XMLElement* element, const LoopMaps& maps,
                                    const std::string* file) {
    return listener ? applyLoopMapsAs<true>(element, maps, file)
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
                                                     const MacroTable* last) {
    // A value without references is shared, not copied.
    if (!MacroEnvironment::hasReferences(value)) return value;
    if (maps) return expandThroughChain<kListened>(value, *maps, last);
    // A copy of a body whose loop has no loop around it: its own iteration only.
    const std::optional<std::string_view> expanded = expandWithTable<kListened>(*last, value);
    if (!expanded) return std::nullopt;
    return expanded->data() == value.data() ? value : doc.duplicateString(*expanded);
  }
  // The children of the step's element as a loop's copy would have them: the step's loop
  // variables applied to every element below it. The step then carries no loop variables, so its
  // children are walked as they are.
  Failure childrenAsCopied(Step& step);

  // Kept text: expands the macro references in the element's text, reporting those left
  // unresolved; a text that expands to nothing is removed.
  Failure expandText(XMLElement* element, std::size_t frame);
  // Removes the kept text of `holder`, whose content is not written where it stands, and reports
  // it dropped, because `why`.
  Failure dropText(XMLElement* holder, std::size_t frame, std::string_view why);
  static constexpr std::string_view kDirectiveContent =
      "a directive's content is elements; put the text inside one";
  // Stands for an element's kept text where an attribute is expected (an empty name).
  static inline const XMLAttribute kText{};

  // Defines the macros of a directive's "macros" attribute in the innermost scope (that of the
  // content of an include or xmlput); `file` is where the directive was written.
  void defineMacrosAttribute(const XMLElement* directive, const std::string* file);

  // Sets where the references the next expansions meet are told to stand.
  void relayAt(const XMLElement* element, const std::string* file, std::string_view attribute,
               bool loopVariable) {
    relay_.place = WalkPlace{element, file};
    relay_.attribute = attribute;
    relay_.loopVariable = loopVariable;
  }

 private:
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
  // A value expanded with the current scope, reporting the references it left unresolved.
  template <bool kListened>
  std::optional<std::string_view> expandInScope(std::string_view text, std::string* unresolved) {
    if constexpr (kListened) return env.expand(macros, text, false, buffer_, relay_, unresolved);
    return env.expand(macros, text, false, buffer_, unresolved);
  }
  // A value expanded with one loop table.
  template <bool kListened>
  std::optional<std::string_view> expandWithTable(const MacroTable& table, std::string_view text) {
    if constexpr (kListened) return env.expand(table, text, false, buffer_, relay_);
    return env.expand(table, text, false, buffer_);
  }
  // The same as expandWithLoopMaps for a value with references and a chain of loop maps.
  template <bool kListened>
  std::optional<std::string_view> expandThroughChain(std::string_view value, const LoopMaps& maps,
                                                     const MacroTable* last);
  // The outermost maps of `maps`' chain, at depth `from` or deeper, whose table defines one of
  // `names`; null when there is none.
  const LoopMaps* firstDefiner(const std::vector<std::string_view>& names, const LoopMaps& maps,
                               std::uint32_t from) const;

  const Locator& locator_;
  ReferenceRelay relay_;
  // Storage reused from one expansion to the next; no value outlives the call that fills it.
  std::vector<const MacroTable*> mapChain_;
  std::vector<std::string_view> names_;
  std::string reference_;
  std::string buffer_;
  std::string passText_;
};
