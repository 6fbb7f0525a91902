// The expression entry points. The input is one or more expression texts separated by NUL bytes,
// all evaluated by one evaluator, as the preprocessor evaluates every expression of a run with
// one. Each entry point gives exactly what the reference model of the language (written for the
// tests from the language's rules) gives, and evaluating a text again gives the same result.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "expr/Evaluator.h"
#include "fuzz/FuzzInput.h"
#include "tests/ExpressionReference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input = fuzz::asText(data, size);
  ExpressionEvaluator evaluator;
  while (true) {
    const std::size_t nul = input.find('\0');
    const std::string_view text = input.substr(0, nul);

    const reference::Entries got{evaluator.truthValue(text), evaluator.unsignedValue(text),
                                 evaluator.signedValue(text)};
    const reference::Entries expected = reference::entries(text);
    fuzz::check(got.truth == expected.truth, "the truth value, or its failure", text);
    fuzz::check(got.bits == expected.bits && got.number == expected.number,
                "the numeric values, or their failure", text);
    const reference::Entries again{evaluator.truthValue(text), evaluator.unsignedValue(text),
                                   evaluator.signedValue(text)};
    fuzz::check(again == got, "evaluation is repeatable", text);

    if (nul == std::string_view::npos) break;
    input.remove_prefix(nul + 1);
  }
  return 0;
}
