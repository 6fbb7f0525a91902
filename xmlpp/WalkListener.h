#pragma once

// The walk's one observer: what a run decides, told as it decides it, for tools that explain a
// run (`--trace`, an editor's hover and go-to-definition). Without a listener the walk tells
// nothing: it tests a null pointer per element, and expansions go through code without the
// observer (MacroEnvironment::expand).
//
// Every event is a plain struct of views and pointers that are valid only during the call that
// reports it; a listener copies what it keeps. Places are given as the text itself:
//  - `element` is the element as the walk holds it; its name is a view right after its "<" in
//    the text it was read from (a loop's copy shares its body element's name), so
//    XMLDocument::lineOf/columnOf give its line and column, and the name pointer is a byte
//    position in the file for an editor.
//  - `file` is the file the element was written in (for a fragment put elsewhere, the
//    fragment's file).
//  - an attribute is given by its name, a view into the same text: its data pointer is where the
//    attribute stands (XMLDocument::lineAt/columnAt).
//  - a macro's definition is a MacroOrigin: its kind, file and the position of the defining
//    element's name (the command line has neither).
// Events come in walk order: an element's references, then the directive's decision and what it
// caused (an include's event before the walk enters the file; a loop's iteration events, each
// with its variables, before or while its copies are made, and the loop's event after them).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "macros/MacroEnvironment.h"
#include "macros/MacroTable.h"
#include "xml/XMLNode.h"
#include "xmlpp/Directives.h"

// Where an event happened.
struct WalkPlace {
  const XMLElement* element;
  const std::string* file;
};

// A macro reference expanded in an attribute value, and what it became: by the scope when the
// walk reaches the element, or by a loop's variables when the loop copies it (or hands its body
// over). Not told: the further expansion of an expression that <ifex>, <define> and <for> give
// their already expanded text (it matters only where a value itself holds references), and the
// system macros of an include's file name (the include's event gives the name they made).
struct ReferenceEvent {
  WalkPlace place;
  std::string_view attribute;  // the attribute whose value held it
  // The reference and its value. Its `reference` view points into the source text when the value
  // expanded was the one read (pass 0, not a loop's copy): lineAt/columnAt then locate it.
  const ResolvedReference& reference;
  bool loopVariable;  // resolved by a loop's variables (at the loop, for its copies and body)
};

// A conditional directive decided: <if>, <ifnot>, <ifdef>, <ifndef>, <ifex> or <switch>.
struct ConditionEvent {
  WalkPlace place;
  DirectiveId directive;  // If, Ifnot, Ifdef, Ifndef, Ifex or Switch
  bool taken;             // its content kept (switch: a case or the default chosen)
  // The attribute tested: if/ifnot its one attribute (its name is the macro, its value the list
  // of values), ifdef/ifndef/switch "name", ifex "expression".
  std::string_view attribute;
  std::string_view tested;  // if/ifnot: the attribute's value (the values compared with)
  // The macro tested (if, ifnot, ifdef, ifndef, switch); empty for ifex.
  std::string_view name;
  // Whether the macro was defined before the test (an <if>, <ifnot> or <switch> defines an
  // undefined name empty, with a Condition origin).
  bool defined;
  std::string_view value;     // the macro's value (ifex: the expression as evaluated)
  const MacroOrigin* origin;  // where that value was defined; null for ifex and an undefined ifdef
  std::optional<bool> truth;  // ifex: the expression's truth; empty when it did not evaluate
  const XMLElement* chosen;   // switch: the case or default chosen; null for none
  bool chosenDefault;         // switch: the chosen branch is the default
};

// An include resolved to a file, before that file is read.
struct IncludeEvent {
  WalkPlace place;
  std::string_view filename;  // the "filename" attribute, system macros expanded
  std::string_view path;      // the path opened
  // The include folder (-I) through which it was found; null when beside the including file,
  // absolute, or not found at all.
  const std::string* includeDir;
};

// An xmlput and the fragment (xmldef) it puts.
struct PutEvent {
  WalkPlace place;
  std::string_view name;
  // The xmldef element (its name locates it) and the file it was written in.
  const XMLElement* fragment;
  const std::string* fragmentFile;
};

// A macro defined by a <define> element or by a "macros" attribute of an include or xmlput.
struct DefineEvent {
  WalkPlace place;  // the define, include or xmlput element
  std::string_view name;
  std::string_view value;
  // The attribute the value came from: "value", "expression", "hex_expression" or "macros".
  std::string_view attribute;
  // False for an expression that did not evaluate: the macro keeps what it had.
  bool set;
  const MacroOrigin& origin;
};

// One iteration of a loop: its variables (and their derived macros for <for>).
struct IterationEvent {
  WalkPlace place;      // the loop element
  std::uint64_t index;  // from 0
  const MacroTable& variables;
};

// A loop carried out, after its iterations.
struct LoopEvent {
  WalkPlace place;
  bool foreach;  // <foreach>, else <for>
  std::uint64_t iterations;
};

class WalkListener {
 public:
  virtual ~WalkListener() = default;
  // The walk reached `element`, written in `file`, and expanded its values; `scope` holds the
  // macros in force there, each with where its value was defined.
  virtual void reached(const XMLElement& element, const std::string& file,
                       const MacroTable& scope) {
    (void)element, (void)file, (void)scope;
  }
  virtual void reference(const ReferenceEvent& event) { (void)event; }
  virtual void condition(const ConditionEvent& event) { (void)event; }
  virtual void include(const IncludeEvent& event) { (void)event; }
  virtual void put(const PutEvent& event) { (void)event; }
  virtual void define(const DefineEvent& event) { (void)event; }
  virtual void iteration(const IterationEvent& event) { (void)event; }
  virtual void loop(const LoopEvent& event) { (void)event; }
};

// Two listeners told every event, the first first (a trace and a graph of one run).
class BothListeners final : public WalkListener {
 public:
  BothListeners(WalkListener& first, WalkListener& second) : first_(first), second_(second) {}
  void reached(const XMLElement& element, const std::string& file,
               const MacroTable& scope) override {
    first_.reached(element, file, scope);
    second_.reached(element, file, scope);
  }
  void reference(const ReferenceEvent& event) override { both(&WalkListener::reference, event); }
  void condition(const ConditionEvent& event) override { both(&WalkListener::condition, event); }
  void include(const IncludeEvent& event) override { both(&WalkListener::include, event); }
  void put(const PutEvent& event) override { both(&WalkListener::put, event); }
  void define(const DefineEvent& event) override { both(&WalkListener::define, event); }
  void iteration(const IterationEvent& event) override { both(&WalkListener::iteration, event); }
  void loop(const LoopEvent& event) override { both(&WalkListener::loop, event); }

 private:
  template <typename Event>
  void both(void (WalkListener::*told)(const Event&), const Event& event) {
    (first_.*told)(event);
    (second_.*told)(event);
  }
  WalkListener& first_;
  WalkListener& second_;
};
