// Macro expansion. The input is a macro list in the command-line format, a NUL byte, and the text
// to expand (without a NUL the whole input is the text and the table is empty). The text is
// expanded with the table alone, as the preprocessor does for attribute values, and with the
// system macros, as for include file names; a reference the expansion reports as unresolved must
// be in the result. A text that can be prepared (as a loop prepares its body's values) writes
// what the expansion gives.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzInput.h"
#include "macros/MacroEnvironment.h"
#include "macros/MacroList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const MacroEnvironment env("/opt/xmlpp");
  std::string_view input = fuzz::asText(data, size);
  std::string_view listText;
  std::string_view text = input;
  if (std::size_t nul = input.find('\0'); nul != std::string_view::npos) {
    listText = input.substr(0, nul);
    text = input.substr(nul + 1);
  }
  const MacroMap macros = parseMacroList(listText);
  const MacroTable table(macros);

  std::string storage;
  std::string unresolved;
  const std::optional<std::string_view> expanded =
      env.expand(table, text, false, storage, &unresolved);
  if (const std::optional<PreparedExpansion> prepared = env.prepare(table, text)) {
    const std::optional<std::size_t> preparedSize = prepared->size();
    fuzz::check(preparedSize.has_value() == expanded.has_value() &&
                    (!expanded || *preparedSize == expanded->size()),
                "a prepared expansion has the expansion's size", text);
    if (expanded) {
      std::string written(expanded->size(), '\0');
      prepared->writeTo(written.data());
      fuzz::check(written == *expanded, "a prepared expansion writes the expansion", written);
    }
  }
  if (!expanded) return 0;  // longer than the bound on values built
  const std::string local(*expanded);
  // A reference reported as left unresolved is in the result as written.
  if (!unresolved.empty()) {
    fuzz::check(unresolved.starts_with("$(") && unresolved.ends_with(")") &&
                    local.find(unresolved) != std::string::npos,
                "an unresolved reference stays in the result", unresolved);
  }
  const std::string withSystem = env.expandWithSystemMacros(text).value_or("");

  // Text without the reference character passes through unchanged.
  if (text.find('$') == std::string_view::npos) {
    fuzz::check(local == text, "text without references is unchanged", local);
    fuzz::check(withSystem == text, "text without references is unchanged (system)", withSystem);
  }
  // Expansion is a function of the table and the text: a second call gives the same result,
  // unless the table names a date or time macro, whose value is the clock. (Checked for short
  // results only: a self-referencing macro legitimately expands to megabytes, slowly.)
  bool skip = local.size() > 65536;
  for (const auto& [name, value] : macros) {
    std::string ignored;
    skip = skip || dateTimeMacroValue(name, ignored);
  }
  if (!skip) {
    fuzz::check(env.expand(table, text) == local, "expansion is repeatable", local);
  }
  return 0;
}
