#pragma once

// The named checks: what the tool can tell a user about a file that is probably not what they
// meant. Each has a stable name (for --warn=NAME, --no-warn=NAME and the "[NAME]" after a
// message) and a one-line help. A run enables a set of them; an enabled check's finding is a
// warning, or in strict mode an error that fails the run.

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/Diagnostic.h"
#include "macros/NearNames.h"

enum class Check : std::uint8_t {
  UnresolvedMacro,
  UnclosedElement,
  NoElement,
  ExtraArguments,
  DoctypeLooksLikeMacro,
  UnreadAttribute,
  MissingAttribute,
  MisspelledDirective,
  UndefinedCondition,
  UnresolvedInDirective,
  NotEvaluated,
  NoSwitchBranch,
  TextDropped,
  OtherElementClosed,
  UnquotedAttribute,
  DuplicateAttribute,
  SeveralTopLevelElements,
  UnterminatedSection,
  CharacterReference,
  NulByte,
  Utf16Input,
  EmptyDoctype,
  IllFormedName,
  MixedText,
  MisspelledAttribute,
  MisspelledCondition,
  MisspelledMacro,
  Utf8AsReferences,
};

// A check on by default finds what almost always means the output differs from what the author
// meant, and what documents written so on purpose never hold.
struct CheckInfo {
  Check check;
  std::string_view name;
  std::string_view help;
  bool byDefault = false;
};

// Every check, in the order of Check.
inline constexpr CheckInfo kChecks[] = {
    {Check::UnresolvedMacro, "unresolved-macro", "$(NAME) unresolved in a value written out"},
    {Check::UnclosedElement, "unclosed-element", "a file that ends inside an element", true},
    {Check::NoElement, "no-element", "an input file that holds no element", true},
    {Check::ExtraArguments, "extra-arguments", "more than four arguments"},
    {Check::DoctypeLooksLikeMacro, "doctype-looks-like-macro",
     "a doctype argument that holds \"=\""},
    {Check::UnreadAttribute, "unread-attribute", "an attribute the directive does not read"},
    {Check::MissingAttribute, "missing-attribute", "a directive without an attribute it needs"},
    {Check::MisspelledDirective, "misspelled-directive",
     "a directive's name but for case or one letter", true},
    {Check::UndefinedCondition, "undefined-condition",
     "if, ifnot, switch testing an undefined macro"},
    {Check::UnresolvedInDirective, "unresolved-in-directive",
     "$(NAME) unresolved in a directive's attribute"},
    {Check::NotEvaluated, "not-evaluated", "a for bound or expression that does not evaluate"},
    {Check::NoSwitchBranch, "no-switch-branch", "a switch that takes no branch"},
    {Check::TextDropped, "text-dropped", "text inside an element (the output drops it)"},
    {Check::OtherElementClosed, "end-tag-closes-other", "an end tag that closed a longer name"},
    {Check::UnquotedAttribute, "unquoted-attribute", "an unquoted attribute value (dropped)"},
    {Check::DuplicateAttribute, "duplicate-attribute", "an attribute given twice (the last kept)"},
    {Check::SeveralTopLevelElements, "several-top-level-elements",
     "more than one top-level element"},
    {Check::UnterminatedSection, "unterminated-section", "a comment or CDATA section never closed",
     true},
    {Check::CharacterReference, "character-reference", "&#..; above 255, or of byte 0"},
    {Check::NulByte, "nul-byte", "a NUL byte, which ends the text", true},
    {Check::Utf16Input, "utf16-input", "a file in UTF-16 (by its byte-order mark)", true},
    {Check::EmptyDoctype, "empty-doctype", "an empty doctype argument"},
    {Check::IllFormedName, "ill-formed-name", "a name the output cannot hold as XML"},
    {Check::MixedText, "mixed-text", "--keep-text: mixed text, or text in a directive"},
    {Check::MisspelledAttribute, "misspelled-attribute",
     "an unread attribute, near one the directive reads", true},
    {Check::MisspelledCondition, "misspelled-condition",
     "a condition's undefined name, near a defined one", true},
    {Check::MisspelledMacro, "misspelled-macro", "$(NAME) unresolved, near a defined name", true},
    {Check::Utf8AsReferences, "utf8-as-references",
     "UTF-8 written as one &#x..; per byte (see --utf8)", true},
};
inline constexpr std::size_t kCheckCount = sizeof kChecks / sizeof kChecks[0];

// The name of a check, and the check of a name (none for an unknown one).
std::string_view checkName(Check check);
std::optional<Check> checkNamed(std::string_view name);

// Which checks a run enables, and whether their findings fail it.
struct CheckSettings {
  std::bitset<kCheckCount> enabled;
  bool asErrors = false;  // strict mode

  bool on(Check check) const { return enabled.test(static_cast<std::size_t>(check)); }
  bool any() const { return enabled.any(); }
  static CheckSettings strict() { return CheckSettings{std::bitset<kCheckCount>().set(), true}; }
  // The checks on by default, as warnings.
  static CheckSettings byDefault() {
    CheckSettings settings;
    for (const CheckInfo& info : kChecks)
      settings.enabled.set(static_cast<std::size_t>(info.check), info.byDefault);
    return settings;
  }
};

// Where the findings of a run's enabled checks go: warnings are kept in order; in strict mode a
// finding is the error that ends the run.
class Findings {
 public:
  Findings(const CheckSettings& settings, std::vector<Diagnostic>& warnings)
      : settings_(settings), warnings_(warnings) {}

  bool on(Check check) const { return settings_.on(check); }
  bool any() const { return settings_.any(); }
  bool asErrors() const { return settings_.asErrors; }
  // Records what `check` found: the error to fail with in strict mode, else nothing (the
  // finding is kept as a warning). A check that is not enabled records nothing.
  Failure report(Check check, std::string message, std::vector<SourceLocation> locations,
                 std::vector<FixIt> fixes = {});

 private:
  const CheckSettings& settings_;
  std::vector<Diagnostic>& warnings_;
};

// The indexed name closest to `name`: the same but for case, or (for names of four letters or
// more) one insertion, deletion, substitution or swap of neighbours away; the least in byte order
// among equally near ones. Empty when none is.
std::string_view nearestName(std::string_view name, const NearNames& names);
