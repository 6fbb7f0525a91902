#include "Analysis.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unordered_map>

#include "files/ByteSink.h"
#include "files/InputFile.h"
#include "xml/TagText.h"
#include "xmlpp/Preprocessor.h"
#include "xmlpp/Trace.h"

namespace {

using tagtext::forEachAttribute;
using tagtext::isNameByte;
using tagtext::startTag;

// Distinct values kept for one use: a reference in a loop of a thousand iterations shows a few.
constexpr std::size_t kMaxValuesPerUse = 16;
// Names kept for completion at one tag: more than anyone scrolls through.
constexpr std::size_t kMaxScopeNames = 10000;

// The run's files: open documents from the editor, the others read here, so that every text the
// run read is known to the server, byte for byte.
class RunFiles : public FileSource {
 public:
  RunFiles(const OpenText& openText, std::map<std::string, FileText>& texts)
      : openText_(openText), texts_(texts) {}

  // Never nothing: the server reads every file itself, so that the run never reads one that
  // could block it (a FIFO, a device, its own standard input) or exhaust its memory.
  std::optional<Expected<std::string_view>> text(const std::string& fileName) override {
    const std::string path = fileName == "-" ? fileName : normalPath(fileName);
    if (const auto known = texts_.find(path); known != texts_.end()) {
      return Expected<std::string_view>(known->second.text());
    }
    std::string text;
    if (const std::optional<std::string_view> open = openText_(path)) {
      text.assign(*open);
    } else {
      Expected<std::string> read = readRegularFile(path, kMaxServerFileBytes);
      if (!read) return Expected<std::string_view>(std::move(read.error()));
      text = std::move(*read);
    }
    const auto [kept, added] = texts_.try_emplace(path, std::move(text));
    return Expected<std::string_view>(kept->second.text());
  }

 private:
  const OpenText& openText_;
  std::map<std::string, FileText>& texts_;
};

// Thrown by Budgeted when a run has reached its work budget.
struct WorkBudgetSpent {};

// Passes the walk's events on to `inner`, and ends the run (by throwing WorkBudgetSpent) past
// `budget` steps: elements reached, loop iterations and macro references, so that copies a loop
// makes before they are reached count too, and a step more for each KiB of a reference's value,
// so that values that multiply as they are defined (each from ten references to the one before)
// count for their bytes. The work of a run then has a bound, whatever the document repeats,
// independent of the machine's load. It also ends the run (by throwing
// RunInterrupted) at the first step once an interruption is pending.
class Budgeted : public WalkListener {
 public:
  Budgeted(WalkListener& inner, std::uint64_t budget, const Interruptions* interruptions)
      : inner_(inner), budget_(budget), interruptions_(interruptions) {}
  void reached(const XMLElement& element, const std::string& file,
               const MacroTable& scope) override {
    step();
    inner_.reached(element, file, scope);
  }
  void reference(const ReferenceEvent& event) override {
    step(1 + event.reference.value.size() / kBytesPerStep);
    inner_.reference(event);
  }
  void condition(const ConditionEvent& event) override { inner_.condition(event); }
  void include(const IncludeEvent& event) override { inner_.include(event); }
  void put(const PutEvent& event) override { inner_.put(event); }
  void define(const DefineEvent& event) override { inner_.define(event); }
  void iteration(const IterationEvent& event) override {
    step();
    inner_.iteration(event);
  }
  void loop(const LoopEvent& event) override { inner_.loop(event); }

 private:
  static constexpr std::size_t kBytesPerStep = 1024;
  void step(std::uint64_t steps = 1) {
    if (interruptions_ && interruptions_->pending()) throw RunInterrupted{};
    steps_ += steps;
    if (steps_ > budget_) throw WorkBudgetSpent{};
  }

  WalkListener& inner_;
  std::uint64_t budget_;
  const Interruptions* interruptions_;
  std::uint64_t steps_ = 0;
};

// Runs `run`; a run that spends its work budget or runs out of memory ends with the failure
// that says so, its memory given back first (it is the run's own), and the server goes on.
template <class Run>
Failure bounded(std::uint64_t budget, Run&& run) {
  try {
    return run();
  } catch (const WorkBudgetSpent&) {
    return Diagnostic::failure("the analysis stopped after " + std::to_string(budget) +
                               " steps, the language server's work budget for one run");
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return Diagnostic::failure("xmlpp: out of memory: the analysis stopped");
}

// Records what the walk reached in the run's texts.
class Recorder : public WalkListener {
 public:
  Recorder(XMLDocument& document, Analysis& analysis) : document_(document), analysis_(analysis) {}

  void reached(const XMLElement& element, const std::string& file,
               const MacroTable& scope) override {
    const std::string& path = pathOf(&file);
    const auto text = analysis_.texts.find(path);
    if (text == analysis_.texts.end()) return;
    const std::optional<std::size_t> offset = document_.offsetAt(element.name().data());
    if (!offset) return;
    const std::size_t at = *offset;
    const std::string_view tag = startTag(text->second.text(), at);
    recordReferences(path, at, tag, scope);
    const Directive* directive = directiveNamed(element.name());
    if (!directive || !directive->walked()) return;
    const DirectiveId id = directive->id;
    if (id == DirectiveId::If || id == DirectiveId::Ifnot) {
      forEachAttribute(tag, [&](std::string_view attribute, std::size_t nameAt, std::string_view,
                                std::size_t) { use(path, at + nameAt, attribute, scope); });
    } else if (id == DirectiveId::Ifdef || id == DirectiveId::Ifndef || id == DirectiveId::Switch) {
      forEachAttribute(tag, [&](std::string_view attribute, std::size_t, std::string_view value,
                                std::size_t valueAt) {
        if (attribute == attr::kName) use(path, at + valueAt, value, scope);
      });
    } else if (id != DirectiveId::Ifex) {
      Reached reached{id, Place{path, at}, {}};
      for (std::uint32_t i = 0; i < element.attributeCount(); ++i) {
        const XMLAttribute& attribute = element.attributes()[i];
        reached.attributes.emplace_back(attribute.name(), attribute.value());
      }
      analysis_.directives.push_back(std::move(reached));
    }
  }

  // A loop variable's value in a reference: the scope that `reached` sees does not hold it.
  void reference(const ReferenceEvent& event) override {
    if (!event.loopVariable || event.reference.pass != 0 || !event.reference.origin) return;
    const std::string& path = pathOf(event.place.file);
    const auto text = analysis_.texts.find(path);
    if (text == analysis_.texts.end()) return;
    std::optional<std::size_t> at = document_.offsetAt(event.reference.reference.data());
    if (!at) {
      // A loop's copy: the reference stands in its body element's attribute.
      const std::optional<std::size_t> attribute = document_.offsetAt(event.attribute.data());
      if (!attribute) return;
      const std::string_view tag = startTag(text->second.text(), *attribute);
      const std::size_t found = tag.find(event.reference.reference);
      if (found == std::string_view::npos) return;
      at = *attribute + found;
    }
    Use& entry = analysis_.uses[Place{path, *at}];
    if (entry.name.empty()) entry.name = event.reference.name;
    std::erase_if(entry.values, [](const UsedValue& value) { return !value.defined; });
    record(entry, UsedValue{true, std::string(event.reference.value), MacroOrigin::Kind::Loop,
                            placeOf(*event.reference.origin)});
  }

  void condition(const ConditionEvent& event) override {
    if (const std::optional<Place> at = placeOf(event.place)) {
      analysis_.decisions[*at] |= event.taken ? 1u : 2u;
    }
  }

  void include(const IncludeEvent& event) override {
    if (const std::optional<Place> at = placeOf(event.place)) {
      analysis_.includedPaths[*at] = normalPath(std::string(event.path));
    }
  }

  void put(const PutEvent& event) override {
    const std::optional<Place> at = placeOf(event.place);
    const std::optional<Place> fragment =
        event.fragment ? placeOf(WalkPlace{event.fragment, event.fragmentFile}) : std::nullopt;
    if (at && fragment) analysis_.fragments[*at] = *fragment;
  }

 private:
  std::optional<Place> placeOf(const WalkPlace& place) {
    if (!place.element || !place.file) return std::nullopt;
    const std::optional<std::size_t> at = document_.offsetAt(place.element->name().data());
    if (!at) return std::nullopt;
    return Place{pathOf(place.file), *at};
  }

  std::optional<Place> placeOf(const MacroOrigin& origin) {
    if (!origin.file || !origin.position) return std::nullopt;
    const std::optional<std::size_t> where = document_.offsetAt(origin.position);
    if (!where) return std::nullopt;
    return Place{pathOf(origin.file), *where};
  }

  // Adds a value to a use, unless it has it or has as many as it keeps.
  static void record(Use& entry, UsedValue value) {
    if (entry.values.size() >= kMaxValuesPerUse) return;
    for (const UsedValue& known : entry.values) {
      if (known.defined == value.defined && known.value == value.value &&
          known.kind == value.kind) {
        return;
      }
    }
    entry.values.push_back(std::move(value));
  }

  const std::string& pathOf(const std::string* file) {
    const auto [entry, added] = paths_.try_emplace(file);
    if (added) entry->second = normalPath(*file);
    return entry->second;
  }

  void recordReferences(const std::string& path, std::size_t at, std::string_view tag,
                        const MacroTable& scope) {
    bool unfinished = false;
    for (std::size_t i = tag.find("$("); i != std::string_view::npos; i = tag.find("$(", i + 2)) {
      std::size_t end = i + 2;
      while (end < tag.size() && isNameByte(tag[end]))
        ++end;
      if (end == tag.size() || (tag[end] != ')' && tag[end] != ':')) unfinished = true;
      if (end == i + 2) continue;
      use(path, at + i, tag.substr(i + 2, end - i - 2), scope);
    }
    if (unfinished) recordScope(Place{path, at}, scope);
  }

  // The names in scope at a tag being typed; only such tags pay for it.
  void recordScope(const Place& place, const MacroTable& scope) {
    std::set<std::string>& names = analysis_.scopesAtUnfinished[place];
    scope.forEach([&](const std::string& name, const std::string&, const MacroOrigin&) {
      if (names.size() < kMaxScopeNames) names.insert(name);
    });
  }

  void use(const std::string& path, std::size_t offset, std::string_view name,
           const MacroTable& scope) {
    Use& entry = analysis_.uses[Place{path, offset}];
    if (entry.name.empty()) entry.name = name;
    UsedValue value;
    if (const std::string* found = scope.find(name)) {
      const MacroOrigin& origin = *scope.originOf(name);
      value.defined = true;
      value.value = *found;
      value.kind = origin.kind;
      value.origin = placeOf(origin);
    } else if (!entry.values.empty()) {
      return;  // not in scope here, but known from a loop's variables
    }
    record(entry, std::move(value));
  }

  XMLDocument& document_;
  Analysis& analysis_;
  std::unordered_map<const std::string*, std::string> paths_;
};

// Every check as a warning; without a command, less those that report undefined macros.
CheckSettings serverChecks(bool fromCommand) {
  CheckSettings checks;
  checks.enabled.set();
  if (!fromCommand) {
    checks.enabled.reset(static_cast<std::size_t>(Check::UnresolvedMacro));
    checks.enabled.reset(static_cast<std::size_t>(Check::UnresolvedInDirective));
    checks.enabled.reset(static_cast<std::size_t>(Check::UndefinedCondition));
    checks.enabled.reset(static_cast<std::size_t>(Check::MisspelledCondition));
    checks.enabled.reset(static_cast<std::size_t>(Check::MisspelledMacro));
  }
  return checks;
}

// A preprocessor for a run of `command` in the server, reading its files through `files`.
std::unique_ptr<Preprocessor> serverRun(const ServerSetup& setup, const RunSettings& command,
                                        bool fromCommand, RunFiles& files) {
  auto preprocessor = std::make_unique<Preprocessor>(
      MacroEnvironment(setup.installDirectory, command.fixedTime), serverChecks(fromCommand));
  preprocessor->setFileSource(&files);
  preprocessor->setIncludeDirs(command.includeDirs);
  preprocessor->setMacroSources(&command.macroSources);
  return preprocessor;
}

}  // namespace

std::string normalPath(const std::string& path) {
  std::filesystem::path result(path);
  if (result.is_relative()) {
    std::error_code error;
    result = std::filesystem::current_path(error) / result;
  }
  return result.lexically_normal().string();
}

namespace {

// The run of analyze(), filling `analysis`.
Failure analyzeInto(Analysis& analysis, const ServerSetup& setup, const RunSettings& command,
                    bool fromCommand, const OpenText& openText,
                    const Interruptions* interruptions) {
  RunFiles files(openText, analysis.texts);
  const std::unique_ptr<Preprocessor> run = serverRun(setup, command, fromCommand, files);
  Preprocessor& preprocessor = *run;
  Recorder recorder(preprocessor.document(), analysis);
  Budgeted budgeted(recorder, setup.workBudget, interruptions);
  const Failure failure = preprocessor.run(command.input, command.macros, &budgeted);
  analysis.diagnostics = preprocessor.warnings();
  for (const std::string& file : preprocessor.loadedFiles())
    analysis.loadedFiles.push_back(normalPath(file));
  if (failure) return failure;
  XMLDocument& document = preprocessor.document();
  if (command.doctype) document.doctype = document.duplicateString(*command.doctype);
  std::string output;
  document.write(output, {.utf8 = command.utf8});
  analysis.output = std::move(output);
  return std::nullopt;
}

}  // namespace

std::unique_ptr<Analysis> analyze(const ServerSetup& setup, const RunSettings& command,
                                  bool fromCommand, const OpenText& openText,
                                  const Interruptions* interruptions) {
  auto analysis = std::make_unique<Analysis>();
  analysis->input = normalPath(command.input);
  analysis->fromCommand = fromCommand;
  analysis->topLevel = command.macros;
  analysis->includeDirs = command.includeDirs;
  if (Failure failure = bounded(setup.workBudget, [&] {
        return analyzeInto(*analysis, setup, command, fromCommand, openText, interruptions);
      })) {
    analysis->diagnostics.push_back(std::move(*failure));
  }
  return analysis;
}

std::string traceRun(const ServerSetup& setup, const RunSettings& command, bool fromCommand,
                     const OpenText& openText, const Interruptions* interruptions) {
  std::map<std::string, FileText> texts;
  RunFiles files(openText, texts);
  const std::unique_ptr<Preprocessor> run = serverRun(setup, command, fromCommand, files);
  Preprocessor& preprocessor = *run;
  ByteSink text;
  Trace trace(preprocessor.document(), text, TraceFilter{});
  Budgeted budgeted(trace, setup.workBudget, interruptions);
  // The trace holds what was noted up to a failure of the run, which it shows; a spent budget or
  // exhausted memory is said at its end.
  if (Failure stopped = bounded(setup.workBudget, [&]() -> Failure {
        (void)preprocessor.run(command.input, command.macros, &budgeted);
        return std::nullopt;
      })) {
    text.append(stopped->message + "\n");
  }
  return std::string(text.contents());
}

GraphRun graphRun(const ServerSetup& setup, const RunSettings& command, bool fromCommand,
                  const OpenText& openText, const Interruptions* interruptions) {
  GraphRun result;
  RunFiles files(openText, result.texts);
  const std::unique_ptr<Preprocessor> run = serverRun(setup, command, fromCommand, files);
  Preprocessor& preprocessor = *run;
  RunGraph graph(preprocessor.document(), command);
  Budgeted budgeted(graph, setup.workBudget, interruptions);
  // The graph holds what the run met up to a failure, a spent budget or exhausted memory.
  (void)bounded(setup.workBudget, [&]() -> Failure {
    (void)preprocessor.run(command.input, command.macros, &budgeted);
    return std::nullopt;
  });
  result.nodes = graph.nodes();
  result.edges = graph.edges();
  return result;
}
