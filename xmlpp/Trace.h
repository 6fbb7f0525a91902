#pragma once

// --trace: a WalkListener that writes one line per decision of the run, in walk order, in the
// form of a compiler's notes ("FILE:LINE:COL: note: ..."). The wording of each kind of line is
// listed in docs/directives.md ("Tracing a run"); the lines are built in Trace.cpp.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "diagnostics/Diagnostic.h"
#include "files/ByteSink.h"
#include "xml/XMLDocument.h"
#include "xmlpp/WalkListener.h"

// What a trace keeps: every line, or those located in one input file, or those about one macro.
struct TraceFilter {
  std::optional<std::string> file;   // --trace-file: a path naming the same file as the event's
  std::optional<std::string> macro;  // --trace-macro
};

class Trace final : public WalkListener {
 public:
  // A trace of the run whose document is `document`, written to `out` (standard error, the trace
  // file, or memory).
  Trace(const XMLDocument& document, ByteSink& out, TraceFilter filter);
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  void reference(const ReferenceEvent& event) override;
  void condition(const ConditionEvent& event) override;
  void include(const IncludeEvent& event) override;
  void put(const PutEvent& event) override;
  void define(const DefineEvent& event) override;
  void loop(const LoopEvent& event) override;

  // Writes out what is buffered; fails when a write failed (now or earlier). The owner calls it
  // at the end of the run.
  Failure flush();

 private:
  // "FILE:LINE:COL" of a place, through the document's line index of its text (no column where
  // there is none).
  std::string where(const std::string& file, const char* position);
  // Whether lines at this place are kept by the file filter.
  bool keptFile(const std::string* file);
  // Starts a line at `place`: "FILE:LINE:COL: note: ".
  void begin(const WalkPlace& place);
  void end();
  // " (ORIGIN)": where a value was defined.
  void appendOrigin(const MacroOrigin* origin);
  void appendQuoted(std::string_view text);

  const XMLDocument& doc_;
  ByteSink& out_;
  TraceFilter filter_;
  std::string buffer_;  // the line being made
  // Files compared with --trace-file, by the walk's kept path.
  std::unordered_map<const std::string*, bool> fileKept_;
  // The element whose references named the --trace-macro macro last: its directive's line is
  // about that macro too. Copies made by a loop may be dropped and their memory reused by the
  // next copies, so the element is known by its address and the text its name points at, which
  // copies share with the element they copy.
  const XMLElement* referring_ = nullptr;
  const char* referringName_ = nullptr;
  bool refers(const XMLElement* element) const {
    return element == referring_ && (!element || element->name().data() == referringName_);
  }
};
