#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "macros/MacroMap.h"
#include "macros/MacroTable.h"

// One reference an expansion met, and what it became: for a tool that explains a run. Views and
// pointers are valid only during the call that reports it.
struct ResolvedReference {
  enum class Source : std::uint8_t {
    Macro,       // a macro of the table: `value`, defined where `origin` says
    System,      // a system macro (host, date, ZuruvaDez, ...)
    Default,     // not defined: the default written in the reference
    Unresolved,  // not defined and no default: kept as written
  };
  std::string_view reference;  // "$(NAME)", "$(NAME:default)", as it stands in the text expanded
  std::string_view name;
  std::string_view value;  // what replaced it (the reference itself when unresolved)
  Source source;
  const MacroOrigin* origin;  // Macro: where the value was defined; else null
  int pass;                   // 0: a reference of the text given; n: of the n-th re-scan
};

// Told of each reference an observed expansion resolves, in the order met, pass by pass.
class ReferenceObserver {
 public:
  virtual ~ReferenceObserver() = default;
  virtual void resolved(const ResolvedReference& reference) = 0;
};

// An expansion with one table, prepared once and carried out many times while the table's values
// change but its names do not: the copies of a loop's body, one per iteration. The text is cut
// into pieces, each written as it stands or as the value the table holds when it is written.
class PreparedExpansion {
 public:
  // The size of the expansion with the values the table holds now; nothing when it is longer
  // than MacroEnvironment::kMaxValueSize (the expansion then fails).
  std::optional<std::size_t> size() const;
  // Writes the expansion, size() bytes, to `out`.
  void writeTo(char* out) const;
  // Whether the expansion writes `value` (one of the table's values).
  bool writes(const std::string* value) const {
    for (const Piece& piece : pieces_) {
      if (piece.value == value) return true;
    }
    return false;
  }
  // Whether a piece written as it stands (not a value of the table) holds `byte`.
  bool literalsHold(char byte) const {
    for (const Piece& piece : pieces_) {
      if (!piece.value && piece.text.find(byte) != std::string_view::npos) return true;
    }
    return false;
  }

 private:
  friend class MacroEnvironment;
  struct Piece {
    std::string_view text;     // written as it stands, when `value` is null
    const std::string* value;  // a value of the table
  };
  std::vector<Piece> pieces_;
  std::vector<const std::string*> values_;  // the pieces that are values, for size()
  std::size_t literalSize_ = 0;             // the sizes of the other pieces, added up
};

// The macros the tool supplies itself, and the expansion of $(name) references.
//
// The system macros are fixed values for this build (host and target names, file extensions),
// ZuruvaDez (the installation directory) and nine date and time macros. Their values are made each
// time a reference to one of them is resolved: from the clock, in local time, or, when the
// environment is given a fixed time (SOURCE_DATE_EPOCH, read by the driver), from that time in
// UTC, so that a run gives the same output whenever it runs.
class MacroEnvironment {
 public:
  explicit MacroEnvironment(std::string_view installDirectory,
                            std::optional<std::time_t> fixedTime = std::nullopt);

  // The longest text expansion builds: a result, or any pass on the way to it, that would be
  // longer makes the expansion fail (the text given may be longer: it was not built).
  static constexpr std::size_t kMaxValueSize = std::size_t{16} << 20;

  // Replaces $(name), $(name:default), $(name::literal default) and $$ in `text`, looking names up
  // in `localMacros` and then, when asked, in the system macros. Names that are not found and have
  // no default stay as written. The result is `text` itself when it holds no "$" (nothing is
  // copied), else it is built in `result`, whose storage is reused; nothing when it would be
  // longer than kMaxValueSize. When `unresolved` is given, it receives the first reference the
  // result keeps unresolved as written ("$(NAME)"), or is emptied when there is none.
  std::optional<std::string_view> expand(const MacroTable& localMacros, std::string_view text,
                                         bool useSystemMacros, std::string& result,
                                         std::string* unresolved = nullptr) const {
    if (unresolved) unresolved->clear();
    if (!hasReferences(text)) return text;
    return expandReferences(localMacros, text, useSystemMacros, result, unresolved);
  }
  std::optional<std::string> expand(const MacroTable& localMacros, std::string_view text,
                                    bool useSystemMacros = false) const;
  // The same expansion, telling `observer` of each reference met. The expansion without an
  // observer is a separate instance of the same code, so it pays nothing for this one.
  std::optional<std::string_view> expand(const MacroTable& localMacros, std::string_view text,
                                         bool useSystemMacros, std::string& result,
                                         ReferenceObserver& observer,
                                         std::string* unresolved = nullptr) const;
  // The character that starts every reference ("$(name)", "$$").
  static constexpr char kReferenceChar = '$';
  // Whether expansion could change `text` at all: only a text with a "$" holds references.
  static bool hasReferences(std::string_view text) {
    return text.find(kReferenceChar) != std::string_view::npos;
  }
  // The expansion of `text` with `table` alone (no system macros), prepared; nothing when the text
  // needs more than one plain pass (a reference that is not terminated, one with a "$" inside it,
  // or one naming a date or time macro that the table defines), or is longer than 4 KiB.
  std::optional<PreparedExpansion> prepare(const MacroTable& table, std::string_view text) const;
  // Expansion with the system macros only (include file names).
  std::optional<std::string> expandWithSystemMacros(std::string_view text) const;

 private:
  // `Observe` is called as observe(reference, pass) for each reference met: a no-op for the plain
  // expansion, a ReferenceObserver's call for the observed one.
  template <class Observe>
  std::optional<std::string_view> expandReferences(const MacroTable& localMacros,
                                                   std::string_view text, bool useSystemMacros,
                                                   std::string& output, std::string* unresolved,
                                                   Observe& observe) const;
  // One pass over `in` into `out`; true when it asks for another. A pass whose output grows past
  // kMaxValueSize stops there.
  template <class Observe>
  bool expandPass(const MacroTable& localMacros, std::string_view in, bool useSystemMacros,
                  std::string& out, std::string* unresolved, Observe& observe, int pass) const;
  std::optional<std::string_view> expandReferences(const MacroTable& localMacros,
                                                   std::string_view text, bool useSystemMacros,
                                                   std::string& output,
                                                   std::string* unresolved) const;

  MacroMap systemMacros_;
  std::optional<std::time_t> fixedTime_;
};

// Inline: a loop calls these for each value of each copy.
inline std::optional<std::size_t> PreparedExpansion::size() const {
  std::size_t size = literalSize_;
  for (const std::string* value : values_)
    size += value->size();
  if (size > MacroEnvironment::kMaxValueSize) return std::nullopt;
  return size;
}

inline void PreparedExpansion::writeTo(char* out) const {
  for (const Piece& piece : pieces_) {
    const std::string_view bytes = piece.value ? std::string_view(*piece.value) : piece.text;
    const std::size_t n = bytes.size();
    const char* from = bytes.data();
    // Pieces are mostly short: two overlapping fixed-size moves rather than a call.
    if (n >= 8 && n <= 16) {
      std::memcpy(out, from, 8);
      std::memcpy(out + n - 8, from + n - 8, 8);
    } else if (n >= 4 && n < 8) {
      std::memcpy(out, from, 4);
      std::memcpy(out + n - 4, from + n - 4, 4);
    } else if (n < 4) {
      for (std::size_t i = 0; i < n; ++i)
        out[i] = from[i];
    } else {
      std::memcpy(out, from, n);
    }
    out += n;
  }
}

// The value of a date or time macro: at `fixedTime` in UTC when there is one, else now in local
// time. False for any other name.
bool dateTimeMacroValue(std::string_view name, std::string& value,
                        std::optional<std::time_t> fixedTime = std::nullopt);
