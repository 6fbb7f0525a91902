#pragma once

// What the tool reports: one value type for every error, warning and note, from whichever module
// found it. Modules return a Diagnostic (or an Expected<T>, a value or the Diagnostic that says
// why there is none); only the driver prints one, and picks the exit status.

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

enum class Severity : std::uint8_t { Error, Warning, Note };

// One place in the chain that led to a diagnostic.
struct SourceLocation {
  // At: where it happened; IncludedFrom / PutFrom: an include or xmlput element through which
  // the walk reached the place before.
  enum class Role : std::uint8_t { At, IncludedFrom, PutFrom };
  Role role = Role::At;
  std::string file;         // the path as the tool opened it
  std::int32_t line = 0;    // from 0, counting line feeds as editors do
  std::int32_t column = 0;  // bytes from 1 within the line; 0 where it is not known
};

// How a place of the chain led to the one before it: "at" (where it happened), "included
// from", "put from".
constexpr std::string_view roleText(SourceLocation::Role role) {
  switch (role) {
    case SourceLocation::Role::IncludedFrom:
      return "included from";
    case SourceLocation::Role::PutFrom:
      return "put from";
    case SourceLocation::Role::At:
      break;
  }
  return "at";
}

// Of a chain of `count` places, how many are shown: where it happened and at most 20 of the
// include and xmlput elements that led there (a self-include a thousand deep would otherwise show
// a thousand); the rest are counted, as "N more places not shown".
constexpr std::size_t shownPlaces(std::size_t count) {
  return count < 21 ? count : 21;
}

// A replacement that repairs what a finding reports: in `file`, the bytes of line `line` (from 0)
// from column `column` up to `endColumn` (bytes from 1, the end excluded) become `text`. A fix
// that is not certain (a reference near a defined name, which another build may define) is
// offered, for the user to confirm, and never applied by --fix.
struct FixIt {
  std::string file;
  std::int32_t line = 0;
  std::int32_t column = 0;
  std::int32_t endColumn = 0;
  std::string text;
  bool certain = true;
};

struct Diagnostic {
  Severity severity = Severity::Error;
  // The stable name of the check that raised it ("unresolved-macro"), or empty for a failure
  // of the run itself (a file that cannot be read, a directive that cannot be carried out).
  // A check is optional and always says where it looked, so its locations are always shown.
  std::string_view check;
  std::string message;
  std::vector<SourceLocation> locations;  // innermost first
  int systemError = 0;                    // errno of the failed system call, where there was one
  // What failed, in its own words, where `message` words it as part of something larger (a file
  // that cannot be read: "couldn't read x.xml"); empty when `message` is all. The gnu form
  // prints it with the system's reason.
  std::string cause;
  // The certain repair of a finding that suggests one (a name near the one written); empty else.
  std::vector<FixIt> fixes;

  // A failure of the run: an error without a check name.
  static Diagnostic failure(std::string message, std::vector<SourceLocation> locations = {},
                            int systemError = 0) {
    return Diagnostic{
        Severity::Error, {}, std::move(message), std::move(locations), systemError, {}, {}};
  }
  // What the check `check` found, as an error.
  static Diagnostic found(std::string_view check, std::string message,
                          std::vector<SourceLocation> locations = {}) {
    return Diagnostic{Severity::Error, check, std::move(message), std::move(locations), 0, {}, {}};
  }
};

// The message as the gnu and SARIF forms and the editor give it: what went wrong in its own words
// (the cause, when the text form's message wraps it), without the "xmlpp: " of the text form, then
// the system's reason; without the check name.
inline std::string messageText(const Diagnostic& diagnostic) {
  std::string_view message = diagnostic.cause.empty() ? diagnostic.message : diagnostic.cause;
  if (message.starts_with("xmlpp: ")) message.remove_prefix(7);
  std::string text(message);
  if (diagnostic.systemError != 0)
    text += std::string(": ") + std::strerror(diagnostic.systemError);
  return text;
}

// A value, or the diagnostic that says why there is none.
template <class T>
class Expected {
 public:
  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Expected(Diagnostic diagnostic) : state_(std::in_place_index<1>, std::move(diagnostic)) {}

  explicit operator bool() const { return state_.index() == 0; }
  T& operator*() { return std::get<0>(state_); }
  T* operator->() { return &std::get<0>(state_); }
  Diagnostic& error() { return std::get<1>(state_); }

 private:
  std::variant<T, Diagnostic> state_;
};

// The result of a step that only succeeds or fails: nothing, or why it failed.
using Failure = std::optional<Diagnostic>;
