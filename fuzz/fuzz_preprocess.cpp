// The whole preprocessor. The input is up to four parts separated by NUL bytes: the main document,
// the include files a.xml and b.xml, and the caller's macro list. The three files are written to a
// private folder and the main one is preprocessed, then written out.
//
// A failure comes back with its message, which is a load error or starts with the walk's prefix,
// and with its locations. Each input also runs in strict mode, which must fail where the lenient
// run fails and otherwise write the same output.
// File access during a run is confined to the private folder: the
// reader's open() is wrapped at link time (-Wl,--wrap=open), and a path that resolves outside the
// folder, or to anything but a regular file, fails to open like a missing file. The output must
// read back as itself whenever its form allows (see WrittenForm.h), and saving it to a file must
// give the same bytes as writing it to memory.
//
// Some valid inputs legitimately take unbounded time or memory, and those are skipped or cut short
// here rather than reported as hangs:
// - loops: a "for" whose start, end, incr, add, sub or mul uses a macro, or a "foreach" whose
//   lists do, is skipped (the bounds are only known during the walk); otherwise the product of the
//   iteration counts of all loops must stay below kMaxCopies (end="4000000000" is a valid loop);
// - fragments that put themselves: two or more "xmlput" elements inside "xmldef" elements, or one
//   together with a loop inside an "xmldef", can double the output on each of the 1,000 allowed
//   nesting levels, so such inputs are skipped;
// - includes: a file that includes itself twice does the same; a run may open at most kMaxLoads
//   files, after which opening fails and the include reports its error.

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "expr/Evaluator.h"
#include "fuzz/ConfinedOpen.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/WrittenForm.h"
#include "macros/MacroEnvironment.h"
#include "macros/MacroList.h"
#include "xml/XMLDocument.h"
#include "xmlpp/Preprocessor.h"

namespace {

constexpr std::uint64_t kMaxCopies = 4096;
constexpr int kMaxLoads = 1100;  // the 1,000-level include limit stays reachable
constexpr std::size_t kMaxCheckedOutput = std::size_t{1} << 20;

// The private folder and the confinement of open() to it.
struct Sandbox {
  std::string folder;
  bool confined = false;
  int loads = 0;

  bool allows(const char* path) {
    if (++loads > kMaxLoads) return false;
    char resolved[PATH_MAX];
    if (!::realpath(path, resolved)) return false;
    std::string_view real(resolved);
    if (!real.starts_with(folder) || real.size() <= folder.size() || real[folder.size()] != '/') {
      return false;
    }
    struct stat info {};
    return ::stat(resolved, &info) == 0 && S_ISREG(info.st_mode);
  }
};

Sandbox& sandbox() {
  static Sandbox instance = [] {
    Sandbox s;
    char pattern[] = "/tmp/xmlpp-fuzz-XXXXXX";
    if (!::mkdtemp(pattern)) std::abort();
    char resolved[PATH_MAX];
    if (!::realpath(pattern, resolved)) std::abort();
    s.folder = resolved;
    return s;
  }();
  static const bool cleanup = [] {
    std::atexit([] { std::filesystem::remove_all(sandbox().folder); });
    return true;
  }();
  (void)cleanup;
  return instance;
}

void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) std::abort();
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The number of times a "for" body is inserted, computed as the walk does it, or a number above
// kMaxCopies when it is larger or cannot be told before the walk.
std::uint64_t forCopies(const XMLElement* loop, ExpressionEvaluator& evaluator) {
  for (std::string_view name : {"start", "end", "incr", "add", "sub", "mul"}) {
    const std::optional<std::string_view> value = loop->attribute(name);
    if (value && value->find('$') != std::string_view::npos) return kMaxCopies + 1;
  }
  auto number = [&](std::string_view name) {
    const std::string_view value = loop->attribute(name).value_or("");
    return static_cast<std::uint32_t>(evaluator.unsignedValue(value).value_or(0));
  };
  std::uint32_t start = number("start");
  std::uint32_t end = number("end");
  std::uint32_t increment = number("incr");
  if (start >= end || increment == 0) return 0;
  std::uint64_t copies = 0;
  std::uint32_t i = start;
  do {
    ++copies;
    i += increment;
  } while (i < end && copies <= kMaxCopies);
  return copies;
}

std::uint64_t foreachCopies(const XMLElement* loop) {
  std::uint64_t copies = 1;
  for (std::uint32_t k = 0; k < loop->attributeCount(); ++k) {
    const std::string_view value = loop->attributes()[k].value();
    if (value.find('$') != std::string_view::npos) return kMaxCopies + 1;
    std::uint64_t items = 0;
    std::size_t start = 0;
    while (start <= value.size()) {
      std::size_t comma = value.find(',', start);
      if (comma == std::string_view::npos) comma = value.size();
      std::string_view item = value.substr(start, comma - start);
      if (item.find_first_not_of('\n') != std::string_view::npos) ++items;
      start = comma + 1;
    }
    copies *= items;
    if (copies > kMaxCopies) return kMaxCopies + 1;
  }
  return copies;
}

// The bytes of the names, values and texts in the tree: a lower bound of the written size.
std::size_t storedBytes(const XMLDocument& document) {
  std::size_t bytes = 0;
  fuzz::forEachNode(document, [&](const XMLNode* node) {
    if (node->isElement()) {
      const auto* element = static_cast<const XMLElement*>(node);
      bytes += element->name().size();
      for (std::uint32_t i = 0; i < element->attributeCount(); ++i)
        bytes += element->attributes()[i].name().size() + element->attributes()[i].value().size();
    } else {
      bytes += static_cast<const XMLCDATASection*>(node)->text().size();
    }
    return true;
  });
  return bytes;
}

// True when the documents can be preprocessed in bounded time and memory (see the top comment).
bool boundedWork(const std::vector<std::string_view>& texts) {
  ExpressionEvaluator evaluator;
  std::uint64_t copies = 1;
  int putsInDefinitions = 0;
  int loopsInDefinitions = 0;
  for (std::string_view text : texts) {
    XMLDocument document;
    document.loadText(text);
    struct Visit {
      const XMLNode* node;
      bool inDefinition;
    };
    std::vector<Visit> stack;
    if (document.root) stack.push_back({document.root, false});
    while (!stack.empty()) {
      auto [node, inDefinition] = stack.back();
      stack.pop_back();
      if (!node->isElement()) continue;
      const auto* element = static_cast<const XMLElement*>(node);
      std::string_view name = element->name();
      bool loop = name == "for" || name == "foreach";
      if (loop) {
        std::uint64_t n = name == "for" ? forCopies(element, evaluator) : foreachCopies(element);
        if (n > kMaxCopies) return false;
        copies *= n == 0 ? 1 : n;
        if (copies > kMaxCopies) return false;
        if (inDefinition) ++loopsInDefinitions;
      }
      if (name == "xmlput" && inDefinition) ++putsInDefinitions;
      bool childrenInDefinition = inDefinition || name == "xmldef";
      for (const XMLNode* child = node->firstChild; child; child = child->next)
        stack.push_back({child, childrenInDefinition});
    }
  }
  return putsInDefinitions < 2 && (putsInDefinitions == 0 || loopsInDefinitions == 0);
}

}  // namespace

bool fuzz::openAllowed(const char* path) {
  Sandbox& s = sandbox();
  return !s.confined || s.allows(path);
}

// A failure's message is a load error, a directive's, or (strict mode) a check's finding, which
// the driver prints after "xmlpp: "; its locations start with "at" and go on with the include and
// xmlput elements that led there.
void checkFailure(const Diagnostic& failure, bool strict) {
  const std::string& message = failure.message;
  fuzz::check(message.starts_with("XmlPP::processConditionals(): ") ||
                  message.starts_with("load error ") || (strict && !failure.check.empty()),
              "a failure's message", message);
  fuzz::check(failure.check.empty() || strict, "only strict mode's checks fail a run", message);
  if (message.starts_with("load error couldn't read")) {
    fuzz::check(failure.locations.empty(), "an input that cannot be read has no location", message);
    return;
  }
  if (failure.check == "no-element") return;
  fuzz::check(!failure.locations.empty() && failure.locations[0].role == SourceLocation::Role::At,
              "a failure is located", message);
  for (std::size_t i = 1; i < failure.locations.size(); ++i) {
    fuzz::check(failure.locations[i].role != SourceLocation::Role::At, "a location's outer lines",
                failure.locations[i].file);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Sandbox& s = sandbox();
  // A fifth part is ignored: a macro list comes from the command line and holds no NUL byte.
  auto parts = fuzz::splitParts(fuzz::asText(data, size), 5);
  if (!boundedWork({parts[0], parts[1], parts[2]})) return -1;  // -1: not added to the corpus

  const std::string mainFile = s.folder + "/main.xml";
  writeFile(mainFile, parts[0]);
  writeFile(s.folder + "/a.xml", parts[1]);
  writeFile(s.folder + "/b.xml", parts[2]);

  // Strict mode runs first: it must fail wherever the lenient run fails, and where it succeeds
  // the lenient run must write the same document.
  const auto runConfined = [&](Preprocessor& preprocessor) {
    s.loads = 0;
    s.confined = true;
    Failure failure = preprocessor.run(mainFile, parts[3]);
    s.confined = false;
    return failure;
  };
  std::optional<std::string> strictOutput;
  {
    Preprocessor strict{MacroEnvironment(s.folder), CheckSettings::strict()};
    if (const Failure failure = runConfined(strict)) {
      checkFailure(*failure, true);
    } else if (storedBytes(strict.document()) <= kMaxCheckedOutput) {
      strict.document().write(strictOutput.emplace());
    }
  }

  Preprocessor preprocessor{MacroEnvironment(s.folder)};
  if (const Failure failure = runConfined(preprocessor)) {
    checkFailure(*failure, false);
    fuzz::check(!strictOutput, "strict mode fails where the lenient run fails", failure->message);
    return 0;
  }
  XMLDocument& document = preprocessor.document();

  // A large output (a self-referencing macro can legitimately expand to 16 MB per attribute) is
  // written the way the tool writes it, in blocks to a file, and not read back: that would take
  // most of the time, and fuzz_roundtrip covers the reader.
  if (storedBytes(document) > kMaxCheckedOutput) {
    fuzz::check(!document.save("/dev/null"), "writing to /dev/null succeeds");
    return 0;
  }
  std::string output;
  document.write(output);
  if (strictOutput) {
    fuzz::check(*strictOutput == output, "strict mode writes what the lenient run writes", output);
  }
  // The tool's way of writing, through a temporary file renamed over the output, gives the same
  // bytes.
  const std::string outFile = s.folder + "/out.xml";
  fuzz::check(!document.save(outFile), "the output file is written");
  fuzz::check(readFile(outFile) == output, "the output file holds the written bytes", output);
  // Written as the run goes, the tool's way for a regular output file (the children the reader
  // offers, and those the walk has finished with, or the run made again when an include changed
  // the start): the same bytes.
  {
    Preprocessor streaming{MacroEnvironment(s.folder)};
    const std::string streamedFile = s.folder + "/streamed.xml";
    OutputFile file;
    const OutputTarget target{file, streamedFile, std::nullopt, {}};
    s.loads = 0;
    s.confined = true;
    const Failure failure = streaming.runFor(mainFile, parseMacroList(parts[3]), target);
    s.confined = false;
    fuzz::check(!failure, "a run written as it goes succeeds too", failure ? failure->message : "");
    fuzz::check(!streaming.writeOutput(target) && !file.replace(),
                "the output written as the run goes is completed", output);
    fuzz::check(readFile(streamedFile) == output, "a run written as it goes writes the same",
                output + "\n----\n" + readFile(streamedFile));
  }
  if (!fuzz::writtenFormReadsBack(document)) return 0;
  XMLDocument reloaded;
  fuzz::check(!reloaded.loadText(output), "the output reloads without error", output);
  std::string again;
  reloaded.write(again);
  fuzz::check(again == output, "the output is in the written form", output + "\n----\n" + again);
  return 0;
}
