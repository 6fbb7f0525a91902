// The vector searches of the reader and the writer, and the inline ones for what is mostly near,
// against their portable versions: every path the processor has must find the same byte, for
// every byte value, on random texts from every start, and at the lengths where the vector code
// changes its way of reading (around its block widths, and at the very end of a page followed by
// one that cannot be read).

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "xml/ByteScan.h"
#include "xml/XMLDocument.h"

namespace {

// Independent of the code under test: what the writer escapes.
bool escaped(unsigned char c) {
  return c < 0x20 || c >= 0x7F || c == '"' || c == '&' || c == '<' || c == '>';
}

// The paths to hold against the portable one; a processor without AVX2 tests SSE2 alone.
std::vector<ScanPath> vectorPaths() {
  std::vector<ScanPath> paths;
  for (ScanPath path : {ScanPath::Sse2, ScanPath::Avx2}) {
    if (scanPathAvailable(path)) paths.push_back(path);
  }
  return paths;
}

// Compares every search of every path with the portable one on [from, end).
void expectSameFinds(const char* from, const char* end, const std::string& what) {
  const ByteScans& baseline = byteScans(ScanPath::Baseline);
  for (ScanPath path : vectorPaths()) {
    const ByteScans& scans = byteScans(path);
    SCOPED_TRACE(what + " path " + std::to_string(static_cast<int>(path)));
    EXPECT_EQ(scans.escape(from, end) - from, baseline.escape(from, end) - from);
    EXPECT_EQ(escapeShort(scans, from, end) - from, baseline.escape(from, end) - from);
    for (char quote : {'"', '\''}) {
      EXPECT_EQ(scans.quoteOrAmpersand(from, end, quote) - from,
                baseline.quoteOrAmpersand(from, end, quote) - from);
      EXPECT_EQ(quoteOrAmpersandNear(scans, from, end, quote) - from,
                baseline.quoteOrAmpersand(from, end, quote) - from);
    }
    for (char byte : {'<', '&'}) {
      const void* at = std::memchr(from, byte, static_cast<std::size_t>(end - from));
      EXPECT_EQ(findByteNear(from, end, byte), at ? static_cast<const char*>(at) : end);
    }
  }
}

TEST(ByteScan, EveryByteValueIsFoundWhereItStands) {
  for (ScanPath path : {ScanPath::Baseline, ScanPath::Sse2, ScanPath::Avx2}) {
    const ByteScans& scans = byteScans(path);
    for (int c = 0; c < 256; ++c) {
      for (std::size_t at : {0, 5, 15, 16, 31, 32, 40}) {
        std::string text(48, 'a');
        text[at] = static_cast<char>(c);
        const char* begin = text.data();
        const char* end = begin + text.size();
        SCOPED_TRACE("byte " + std::to_string(c) + " at " + std::to_string(at));
        EXPECT_EQ(scans.escape(begin, end) - begin, escaped(c) ? at : text.size());
        EXPECT_EQ(scans.quoteOrAmpersand(begin, end, '"') - begin,
                  c == '"' || c == '&' ? at : text.size());
      }
    }
  }
}

TEST(ByteScan, RandomTextsFromEveryStart) {
  // Mostly bytes copied as they are, so that finds land anywhere in the blocks.
  static constexpr std::string_view kRare = "\"'&<>\x7F\x80\xFF\x01\t\n";
  std::mt19937 random(27);
  for (int round = 0; round < 300; ++round) {
    std::string text(random() % 100, '\0');
    const unsigned rareOneIn = 2 + random() % 60;
    for (char& c : text) {
      c = random() % rareOneIn == 0 ? kRare[random() % kRare.size()]
                                    : static_cast<char>('0' + random() % 64);
    }
    const char* end = text.data() + text.size();
    for (std::size_t start = 0; start <= text.size(); ++start)
      expectSameFinds(text.data() + start, end, "round " + std::to_string(round));
  }
}

// Texts of 0 to 70 bytes that end where a readable page ends, before one that faults when read,
// with nothing to find or one byte to find at each position.
TEST(ByteScan, TextsEndingAtAPageEnd) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  void* mapped =
      ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  char* guard = static_cast<char*>(mapped) + page;
  ASSERT_EQ(::mprotect(guard, page, PROT_NONE), 0);
  for (std::size_t length = 0; length <= 70; ++length) {
    char* text = guard - length;
    for (std::size_t at = 0; at <= length; ++at) {
      std::memset(text, 'x', length);
      if (at < length) text[at] = at % 2 ? '&' : '<';
      expectSameFinds(text, guard, "length " + std::to_string(length));
      // From a later start too: the part left is shorter than a block, the range may not be.
      if (length > 3) expectSameFinds(text + 3, guard, "from 3, length " + std::to_string(length));
    }
  }
  ::munmap(mapped, 2 * page);
}

// Texts that start at a page's first byte (the block read from there stays within the page).
TEST(ByteScan, TextsStartingAtAPageStart) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  void* mapped =
      ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  char* start = static_cast<char*>(mapped) + page;
  ASSERT_EQ(::mprotect(mapped, page, PROT_NONE), 0);
  for (std::size_t length = 0; length <= 40; ++length) {
    std::memset(start, '>', 64);  // found when read past the end, which must not count
    std::memset(start, 'x', length);
    expectSameFinds(start, start + length, "length " + std::to_string(length));
  }
  ::munmap(mapped, 2 * page);
}

// The writer puts a tag into room made for its longest form: values that escape to six times
// their size, of every length up to past the first size of the in-memory sink, so that some tag
// ends right at the edge of its room; each must come out whole, after the bytes before it.
TEST(ByteScan, WriterEscapesValuesThatGrowSixfold) {
  for (std::size_t length = 0; length < 900; length += 7) {
    std::string value(length, '\xFF');
    for (std::size_t k = 3; k < length; k += 11)
      value[k] = "\x01<\"&"[k % 4];
    std::string text = "<r><e v=\"";
    std::string expected = "<r>\n  <e v=\"";
    for (char c : value) {
      text += c == '<' ? "&lt;" : c == '"' ? "&quot;" : c == '&' ? "&amp;" : std::string(1, c);
      expected += c == '<'   ? "&lt;"
                  : c == '"' ? "&quot;"
                  : c == '&' ? "&amp;"
                  : c == 1   ? "&#x1;"
                             : "&#xff;";
    }
    text += "\"/><f/></r>";
    expected += "\" />\n  <f/>\n</r>\n";
    XMLDocument doc;
    ASSERT_FALSE(doc.loadText(text));
    std::string out;
    doc.write(out);
    EXPECT_EQ(out, expected) << "length " << length;
  }
}

// Names and values of every length the writer copies in fixed-size pieces (and a little beyond),
// each byte different, so that a piece copied from the wrong place shows.
TEST(ByteScan, WriterCopiesNamesAndValuesOfEveryLength) {
  auto distinct = [](std::size_t length, char first) {
    std::string text;
    for (std::size_t k = 0; k < length; ++k)
      text += static_cast<char>(first + k % 26);
    return text;
  };
  for (std::size_t length = 0; length <= 40; ++length) {
    const std::string name = "n" + distinct(length, 'a');
    const std::string value = distinct(length, 'A');
    XMLDocument doc;
    ASSERT_FALSE(doc.loadText("<" + name + " " + name + "=\"" + value + "\"/>"));
    std::string out;
    doc.write(out);
    EXPECT_EQ(out, "<" + name + " " + name + "=\"" + value + "\" />\n") << "length " << length;
  }
}

}  // namespace
