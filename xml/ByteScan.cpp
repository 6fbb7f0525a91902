#include "ByteScan.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define XMLPP_SCAN_X86 1
#else
#define XMLPP_SCAN_X86 0
#endif

namespace {

// Bytes the writer copies as they are: printable ASCII except the four it escapes.
struct PlainTable {
  bool plain[256] = {};
  constexpr PlainTable() {
    for (int c = 0x20; c <= 0x7E; ++c)
      plain[c] = c != '"' && c != '&' && c != '<' && c != '>';
  }
};
constexpr PlainTable kPlain;

const char* escapeBaseline(const char* from, const char* end) {
  for (; from < end; ++from) {
    if (!kPlain.plain[static_cast<unsigned char>(*from)]) return from;
  }
  return end;
}

// The C library's memchr is itself vectorised wherever the library has a vector version.
const char* quoteOrAmpersandBaseline(const char* from, const char* end, char quote) {
  const char* close =
      static_cast<const char*>(std::memchr(from, quote, static_cast<std::size_t>(end - from)));
  const char* stop = close ? close : end;
  const char* reference =
      static_cast<const char*>(std::memchr(from, '&', static_cast<std::size_t>(stop - from)));
  return reference ? reference : stop;
}

#if XMLPP_SCAN_X86

// A mask with a bit set for each byte of a block that the writer escapes (escapeBits16).
struct EscapeBlocks {
  static unsigned mask16(__m128i v) { return escapeBits16(v); }
  __attribute__((target("avx2"))) static unsigned mask32(__m256i v) {
    const __m256i printable = _mm256_cmpgt_epi8(v, _mm256_set1_epi8(0x1F));
    __m256i other = _mm256_cmpeq_epi8(v, _mm256_set1_epi8(0x7F));
    other = _mm256_or_si256(other, _mm256_cmpeq_epi8(v, _mm256_set1_epi8('"')));
    other = _mm256_or_si256(other, _mm256_cmpeq_epi8(v, _mm256_set1_epi8('&')));
    other = _mm256_or_si256(other, _mm256_cmpeq_epi8(v, _mm256_set1_epi8('<')));
    other = _mm256_or_si256(other, _mm256_cmpeq_epi8(v, _mm256_set1_epi8('>')));
    return ~static_cast<unsigned>(_mm256_movemask_epi8(_mm256_andnot_si256(other, printable)));
  }
  const char* scalar(const char* from, const char* end) const { return escapeBaseline(from, end); }
};

// A mask with a bit set for each byte of a block that is the quote or "&".
struct QuoteOrAmpersandBlocks {
  char quote;
  unsigned mask16(__m128i v) const { return quoteOrAmpersandBits16(v, quote); }
  __attribute__((target("avx2"))) unsigned mask32(__m256i v) const {
    const __m256i hits = _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(quote)),
                                         _mm256_cmpeq_epi8(v, _mm256_set1_epi8('&')));
    return static_cast<unsigned>(_mm256_movemask_epi8(hits));
  }
  const char* scalar(const char* from, const char* end) const {
    for (; from < end; ++from) {
      if (*from == quote || *from == '&') return from;
    }
    return end;
  }
};

// Scans [p, end) of the range that starts at `from` 16 bytes at a time. The last block of a
// range of 16 bytes or more is the range's last 16 bytes; a shorter range is read as one block
// when that stays within the page, byte by byte otherwise. The reads past the end are never
// used, and are hidden from the address sanitizer.
template <class Blocks>
__attribute__((no_sanitize_address)) const char* scanSse2(const Blocks& blocks, const char* from,
                                                          const char* p, const char* end) {
  // The loads are written out here: in a helper, the sanitizer's checks would be compiled in.
  using Block = __m128i;
  for (; end - p >= 16; p += 16) {
    if (const unsigned bits = blocks.mask16(_mm_loadu_si128(reinterpret_cast<const Block*>(p))))
      return p + __builtin_ctz(bits);
  }
  if (p == end) return end;
  const auto rest = static_cast<unsigned>(end - p);
  unsigned bits;
  if (end - from >= 16) {
    bits = blocks.mask16(_mm_loadu_si128(reinterpret_cast<const Block*>(end - 16))) >> (16 - rest);
  } else if (blockWithinPage(p)) {
    bits = blocks.mask16(_mm_loadu_si128(reinterpret_cast<const Block*>(p))) & ((1u << rest) - 1);
  } else {
    return blocks.scalar(p, end);
  }
  return bits ? p + __builtin_ctz(bits) : end;
}

// 32 bytes at a time, and what is left as with SSE2.
template <class Blocks>
__attribute__((target("avx2"), no_sanitize_address)) const char* scanAvx2(const Blocks& blocks,
                                                                          const char* from,
                                                                          const char* end) {
  const char* p = from;
  for (; end - p >= 32; p += 32) {
    const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    if (const unsigned bits = blocks.mask32(block)) return p + __builtin_ctz(bits);
  }
  return scanSse2(blocks, from, p, end);
}

const char* escapeSse2(const char* from, const char* end) {
  return scanSse2(EscapeBlocks{}, from, from, end);
}
const char* escapeAvx2(const char* from, const char* end) {
  return scanAvx2(EscapeBlocks{}, from, end);
}
const char* quoteOrAmpersandSse2(const char* from, const char* end, char quote) {
  return scanSse2(QuoteOrAmpersandBlocks{quote}, from, from, end);
}
const char* quoteOrAmpersandAvx2(const char* from, const char* end, char quote) {
  return scanAvx2(QuoteOrAmpersandBlocks{quote}, from, end);
}

constexpr ByteScans kSse2{escapeSse2, quoteOrAmpersandSse2};
constexpr ByteScans kAvx2{escapeAvx2, quoteOrAmpersandAvx2};

#endif

constexpr ByteScans kBaseline{escapeBaseline, quoteOrAmpersandBaseline};

}  // namespace

bool scanPathAvailable(ScanPath path) {
  switch (path) {
    case ScanPath::Baseline:
      return true;
    case ScanPath::Sse2:
      return XMLPP_SCAN_X86;
    case ScanPath::Avx2:
#if XMLPP_SCAN_X86
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2");
#else
      return false;
#endif
  }
  return false;
}

const ByteScans& byteScans(ScanPath path) {
  if (!scanPathAvailable(path)) return kBaseline;
#if XMLPP_SCAN_X86
  if (path == ScanPath::Sse2) return kSse2;
  if (path == ScanPath::Avx2) return kAvx2;
#endif
  return kBaseline;
}

const ByteScans& bestByteScans() {
  // Chosen once: the processor does not change while the process runs.
  static const ByteScans& best =
      byteScans(scanPathAvailable(ScanPath::Avx2) ? ScanPath::Avx2 : ScanPath::Sse2);
  return best;
}
