// Reader and writer: load a text, write it, load the written text, write again. The written form
// reloads without error and is a fixed point: the second output equals the first, for every
// document whose written form reads back (see WrittenForm.h; for the others both are only run).
// A deep copy of the tree must write the same bytes as the tree itself. The vector searches of
// the reader and the writer find, from every start in the input, what their portable versions find.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "fuzz/WrittenForm.h"
#include "xml/ByteScan.h"
#include "xml/XMLDocument.h"

namespace {

std::string written(XMLDocument& document) {
  std::string out;
  document.write(out);
  return out;
}

void checkVectorScans(std::string_view text) {
  const ByteScans& baseline = byteScans(ScanPath::Baseline);
  const char* end = text.data() + text.size();
  const std::size_t step = 1 + text.size() / 256;  // about 256 starts, however long the input
  for (ScanPath path : {ScanPath::Sse2, ScanPath::Avx2}) {
    if (!scanPathAvailable(path)) continue;
    const ByteScans& scans = byteScans(path);
    for (std::size_t start = 0; start <= text.size(); start += step) {
      const char* from = text.data() + start;
      fuzz::check(scans.escape(from, end) == baseline.escape(from, end),
                  "the vector escape search finds what the portable one finds");
      for (char quote : {'"', '\''}) {
        fuzz::check(
            scans.quoteOrAmpersand(from, end, quote) == baseline.quoteOrAmpersand(from, end, quote),
            "the vector value search finds what the portable one finds");
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text = fuzz::asText(data, size);
  checkVectorScans(text);
  XMLDocument first;
  first.loadText(text);  // a failed load may still leave a completed root, which is written
  std::string output1 = written(first);

  if (first.root) {
    XMLElement* original = first.root;
    first.root = first.copyElement(original);
    fuzz::check(written(first) == output1, "a deep copy writes the same bytes", output1);
    first.root = original;
  }

  XMLDocument second;
  const bool reloaded = !second.loadText(output1);
  if (!fuzz::writtenFormReadsBack(first)) return 0;
  fuzz::check(reloaded, "written output reloads without error", output1);
  std::string output2 = written(second);
  fuzz::check(output2 == output1, "writing the reloaded output gives the same bytes",
              output1 + "\n----\n" + output2);
  return 0;
}
