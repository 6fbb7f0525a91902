// Reader and writer: load a text, write it, load the written text, write again. The written form
// reloads without error and is a fixed point: the second output equals the first, for every
// document whose written form reads back (see WrittenForm.h; for the others both are only run).
// Each text is read both with and without text nodes, and a deep copy of the tree must write the
// same bytes as the tree itself.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "fuzz/WrittenForm.h"
#include "xml/XMLDocument.h"

namespace {

std::string written(XMLDocument& document, std::uint32_t indent) {
  std::string out;
  document.write(out, indent, 0);
  return out;
}

void roundTrip(std::string_view text, bool keepText, std::uint32_t indent) {
  XMLDocument first(keepText);
  first.loadText(text);  // a failed load may still leave a completed root, which is written
  std::string output1 = written(first, indent);

  if (first.root) {
    XMLElement* original = first.root;
    first.root = static_cast<XMLElement*>(first.copyNode(original, nullptr));
    fuzz::check(written(first, indent) == output1, "a deep copy writes the same bytes", output1);
    first.root = original;
  }

  XMLDocument second(keepText);
  bool reloaded = second.loadText(output1);
  if (!fuzz::writtenFormReadsBack(first)) return;
  fuzz::check(reloaded, "written output reloads without error", output1);
  std::string output2 = written(second, indent);
  fuzz::check(output2 == output1, "writing the reloaded output gives the same bytes",
              output1 + "\n----\n" + output2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text = fuzz::asText(data, size);
  roundTrip(text, false, 2);  // the tool's settings
  roundTrip(text, true, 2);
  roundTrip(text, false, 0);
  return 0;
}
