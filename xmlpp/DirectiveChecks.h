#pragma once

// The directive checks: mistakes that make a directive do something other than what its writer
// meant while the run still succeeds. The engine runs `checkStep` beside each step, and only when
// a check is enabled, so a run without them pays one test per element; what a handler looks up
// or evaluates anyway (the name an if tests, an ifex's expression) is checked in the handler
// through the other entries, so nothing is done twice. What each directive reads comes from the
// directive schema (Directives.h).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "WalkScope.h"
#include "xmlpp/Directives.h"

class DirectiveChecks {
 public:
  explicit DirectiveChecks(WalkScope& scope) : scope_(scope) {}

  // The checks of a step before its element, a directive or an ordinary element, is carried out.
  Failure checkStep(const Step& step);
  // The checks made as a directive is carried out, for one that fails before (the root element).
  [[gnu::noinline]] Failure checkUncarried(const Step& step);
  // The undefined-condition finding for a name an if, ifnot or switch tests that nothing but a
  // test defined (checked as the directive looks it up).
  [[gnu::noinline]] Failure checkCondition(const Step& step, std::string_view tested);
  // The not-evaluated findings for the ifex expression `text` that the directive evaluated to
  // `truth` (checked as it is carried out, not evaluated twice).
  [[gnu::noinline]] Failure checkIfex(const Step& step, std::string_view text,
                                      std::optional<bool> truth);
  // A switch whose tested value `value` chose no branch.
  Failure checkSwitchBranch(const Step& step, std::string_view value);
  // Whether `checkStep` is sure to find nothing in `element`, an element that is no directive
  // (its name may be near one) and holds no reference: no name the output cannot hold, and no
  // name a directive's could be a misspelling of.
  static bool findsNothingIn(const XMLElement& element, const CheckSettings& checks);

 private:
  Failure checkNames(const Step& step);
  [[gnu::noinline]] Failure illFormedNames(const Step& step);
  Failure checkDirective(const Step& step, const Directive& directive);
  Failure checkAttributes(const XMLElement* element, std::size_t frame, const Directive& directive);
  Failure checkMisspelled(const Step& step);
  Failure checkEvaluation(const Step& step, const Directive& directive);
  Failure checkBound(const Step& step, std::string_view attribute);
  // "attribute A of <D> ("VALUE") WHAT: THEN".
  Failure notEvaluated(const Step& step, std::string_view directive, std::string_view attribute,
                       std::string_view what, std::string_view then) const;
  // What a text whose expression ended before its end holds, for a finding.
  std::string ignoredRest(std::string_view text) const;
  // The directives a name may be a misspelling of (see DirectiveChecks.cpp), remembered for the
  // names met last.
  std::uint32_t nearDirectivesOf(std::string_view name);

  WalkScope& scope_;
  struct NearEntry {
    std::string name;
    std::uint32_t near = 0;
  };
  static constexpr std::size_t kNearCacheSize = 1024;
  std::vector<NearEntry> nearCache_;  // made when first used
};
