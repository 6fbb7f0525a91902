// Reader and writer: load a text, write it, load the written text, write again. The written form
// reloads without error and is a fixed point: the second output equals the first, for every
// document whose written form reads back (see WrittenForm.h; for the others both are only run).
// A deep copy of the tree must write the same bytes as the tree itself.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "fuzz/WrittenForm.h"
#include "xml/XMLDocument.h"

namespace {

std::string written(XMLDocument& document) {
  std::string out;
  document.write(out);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text = fuzz::asText(data, size);
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
