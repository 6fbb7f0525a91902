// Micro-benchmarks of the hot paths: reading, writing, attribute expansion.

#include <benchmark/benchmark.h>

#include <string>

#include "macros/MacroEnvironment.h"
#include "xml/XMLDocument.h"

namespace {

std::string sampleDocument(int elements) {
  std::string text = "<root>\n";
  for (int i = 0; i < elements; ++i) {
    text += "  <register name=\"ctrl" + std::to_string(i) +
            "\" offset=\"0x40\" access=\"read-write\" desc=\"data &amp; control\">\n"
            "    <field name=\"en\" width=\"1\"/>\n  </register>\n";
  }
  return text + "</root>\n";
}

void readDocument(benchmark::State& state) {
  std::string text = sampleDocument(10000);
  for (auto _ : state) {
    XMLDocument doc;
    benchmark::DoNotOptimize(doc.loadText(text));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(readDocument);

void writeDocument(benchmark::State& state) {
  XMLDocument doc;
  doc.loadText(sampleDocument(10000));
  std::string out;
  for (auto _ : state) {
    out.clear();
    doc.write(out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}
BENCHMARK(writeDocument);

// A typical attribute value with two references.
void expandAttribute(benchmark::State& state) {
  MacroEnvironment env("/opt/xmlpp");
  MacroTable macros(
      MacroMap{{"BOARD", "evb2"}, {"VARIANT", "full"}, {"OS", "linux"}, {"ARCH", "riscv"}});
  for (auto _ : state) {
    benchmark::DoNotOptimize(env.expand(macros, "boards/$(BOARD)/$(VARIANT).xml"));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(expandAttribute);

}  // namespace
