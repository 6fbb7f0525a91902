// Throughput of the expression language as the preprocessor uses it: one evaluator, reused,
// evaluating a typical condition on every call.
#include <benchmark/benchmark.h>

#include "expr/Evaluator.h"

namespace {

void evaluateCondition(benchmark::State& state) {
  ExpressionEvaluator evaluator;
  std::optional<bool> value;
  for (auto _ : state) {
    value = evaluator.truthValue("(3 + 4) * 2 == 14 && 1 << 4 > 8");
    benchmark::DoNotOptimize(value);
  }
  if (!value) state.SkipWithError("the condition did not evaluate");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(evaluateCondition);

void evaluateArithmetic(benchmark::State& state) {
  ExpressionEvaluator evaluator;
  std::optional<std::uint64_t> value;
  for (auto _ : state) {
    value = evaluator.unsignedValue("0x10 * (1 << 8) + 017 - 3 % 2");
    benchmark::DoNotOptimize(value);
  }
  if (!value) state.SkipWithError("the expression did not evaluate");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(evaluateArithmetic);

}  // namespace
