#pragma once

// What the tool reports: one value type for every error, warning and note, from whichever module
// found it. Modules return a Diagnostic (or an Expected<T>, a value or the Diagnostic that says
// why there is none); only the driver prints one, and picks the exit status.

#include <cstdint>
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

  // A failure of the run: an error without a check name.
  static Diagnostic failure(std::string message, std::vector<SourceLocation> locations = {},
                            int systemError = 0) {
    return Diagnostic{Severity::Error,      {},          std::move(message),
                      std::move(locations), systemError, {}};
  }
  // What the check `check` found, as an error.
  static Diagnostic found(std::string_view check, std::string message,
                          std::vector<SourceLocation> locations = {}) {
    return Diagnostic{Severity::Error, check, std::move(message), std::move(locations), 0, {}};
  }
};

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
