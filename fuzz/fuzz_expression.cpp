// The expression entry points. The input is one or more expression texts separated by NUL bytes,
// all evaluated by one parser, as the preprocessor evaluates every expression of a run with one.
// The entry points never throw; evaluateUnsigned and evaluateSigned accept the same kinds of
// value, so their ok flags agree; evaluating a text again gives the same result; and a text the
// direct evaluation accepts has exactly the value its tree gives.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "expr/CStyleLexer.h"
#include "expr/DirectEvaluator.h"
#include "expr/ParserException.h"
#include "expr/SimpleExpressionParser.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input = fuzz::asText(data, size);
  SimpleExpressionParser parser;
  CStyleLexer lexer;
  DirectEvaluator direct(lexer);
  while (true) {
    std::size_t nul = input.find('\0');
    std::string_view text = input.substr(0, nul);

    bool okBoolean = false;
    bool okUnsigned = false;
    bool okSigned = false;
    bool truth = parser.evaluateBoolean(text, okBoolean);
    std::uint64_t bits = parser.evaluateUnsigned(text, okUnsigned);
    std::int64_t number = parser.evaluateSigned(text, okSigned);
    fuzz::check(okUnsigned == okSigned, "evaluateUnsigned and evaluateSigned accept alike", text);
    fuzz::check(!(okBoolean && okUnsigned), "a value is either boolean or numeric", text);

    bool again = false;
    fuzz::check(parser.evaluateBoolean(text, again) == truth && again == okBoolean,
                "evaluateBoolean is repeatable", text);
    fuzz::check(parser.evaluateUnsigned(text, again) == bits && again == okUnsigned,
                "evaluateUnsigned is repeatable", text);
    fuzz::check(parser.evaluateSigned(text, again) == number && again == okSigned,
                "evaluateSigned is repeatable", text);

    ExpressionValue fast;
    if (direct.evaluate(text, fast)) {
      try {
        const ExpressionValue tree = parser.evaluateTree(text);
        fuzz::check(fast.kind() == tree.kind() && fast.size() == tree.size() &&
                        fast.bitWidth() == tree.bitWidth() && fast.payload() == tree.payload() &&
                        fast.stringValue() == tree.stringValue(),
                    "the direct value is the tree's value", text);
      } catch (const ParserException&) {
        fuzz::check(false, "a text evaluated directly evaluates as a tree", text);
      }
    }

    if (nul == std::string_view::npos) break;
    input.remove_prefix(nul + 1);
  }
  return 0;
}
