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

    const std::optional<bool> truth = evaluator.truthValue(text);
    const std::optional<std::uint64_t> bits = evaluator.unsignedValue(text);
    const std::optional<std::int64_t> number = evaluator.signedValue(text);
    const std::optional<reference::Value> expected = reference::Evaluator().evaluate(text);
    const bool isBoolean = expected && expected->kind == 'b';
    const bool isNumber = expected && (expected->kind == 'i' || expected->kind == 'f');
    fuzz::check(truth.has_value() == isBoolean, "truthValue fails as the reference does", text);
    fuzz::check(!isBoolean || *truth == (expected->low() != 0), "the truth value", text);
    fuzz::check(bits.has_value() == isNumber && number.has_value() == isNumber,
                "unsignedValue and signedValue fail as the reference does", text);
    fuzz::check(!isNumber || (*bits == expected->toUnsigned() && *number == expected->toSigned()),
                "the numeric values", text);
    fuzz::check(evaluator.truthValue(text) == truth && evaluator.unsignedValue(text) == bits &&
                    evaluator.signedValue(text) == number,
                "evaluation is repeatable", text);

    if (nul == std::string_view::npos) break;
    input.remove_prefix(nul + 1);
  }
  return 0;
}
