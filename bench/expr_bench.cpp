// Throughput of the expression language as the preprocessor uses it: one parser, reused, parsing
// and evaluating a typical condition on every call.
#include <benchmark/benchmark.h>

#include "expr/SimpleExpressionParser.h"

namespace {

void evaluateCondition(benchmark::State& state) {
  SimpleExpressionParser parser;
  bool ok = false;
  for (auto _ : state) {
    const bool value = parser.evaluateBoolean("(3 + 4) * 2 == 14 && 1 << 4 > 8", ok);
    benchmark::DoNotOptimize(value);
    benchmark::DoNotOptimize(ok);
  }
  if (!ok) state.SkipWithError("the condition did not evaluate");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(evaluateCondition);

void evaluateArithmetic(benchmark::State& state) {
  SimpleExpressionParser parser;
  bool ok = false;
  for (auto _ : state) {
    const auto value = parser.evaluateUnsigned("0x10 * (1 << 8) + 017 - 3 % 2", ok);
    benchmark::DoNotOptimize(value);
  }
  if (!ok) state.SkipWithError("the expression did not evaluate");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(evaluateArithmetic);

// What a directive pays once: making a parser (and its lexer's table).
void constructParser(benchmark::State& state) {
  for (auto _ : state) {
    SimpleExpressionParser parser;
    benchmark::DoNotOptimize(&parser);
  }
}
BENCHMARK(constructParser);

}  // namespace
