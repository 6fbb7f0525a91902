#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The searches of the reader's and the writer's inner loops, each in three versions that find
// the same byte: a portable one, one with SSE2 (every x86-64 processor has it) and one with AVX2,
// taken only where the processor reports it. `bestByteScans` picks the fastest the processor has,
// once; the others stay callable so that tests can hold each against the portable one.
//
// The vector versions read whole blocks of 16 or 32 bytes. At the end of a range shorter than a
// block they read the block that starts there only when it lies within one memory page (so the
// read cannot fault) and ignore the bytes past the end; otherwise they finish byte by byte.

enum class ScanPath : std::uint8_t { Baseline, Sse2, Avx2 };

struct ByteScans {
  // The first byte in [from, end) that the writer cannot copy into an attribute value as it is:
  // one outside printable ASCII (below 0x20, 0x7F, above 0x7F) or one of `"`, `&`, `<`, `>`;
  // `end` when there is none.
  const char* (*escape)(const char* from, const char* end);
  // The first byte in [from, end) that is `quote` or `&`: where a quoted value read by the reader
  // ends, or its first reference; `end` when there is none.
  const char* (*quoteOrAmpersand)(const char* from, const char* end, char quote);
};

// Whether this build and this processor have the path (Baseline always does).
bool scanPathAvailable(ScanPath path);
// The scans of a path; an unavailable path gives the portable ones.
const ByteScans& byteScans(ScanPath path);
// The scans of the fastest path available.
const ByteScans& bestByteScans();

#if defined(__SSE2__)
// Whether the 16 bytes from `p` lie within one page (4 KiB, the smallest there is), so that
// reading them cannot fault.
inline bool blockWithinPage(const char* p) {
  constexpr std::uintptr_t kPage = 4096;
  return (reinterpret_cast<std::uintptr_t>(p) & (kPage - 1)) <= kPage - 16;
}
// A bit for each byte of a 16-byte block that the writer escapes (see `ByteScans::escape`). Bytes
// compare as signed, so those above 0x7F are below 0x20 too.
inline unsigned escapeBits16(__m128i v) {
  const __m128i printable = _mm_cmpgt_epi8(v, _mm_set1_epi8(0x1F));
  __m128i other = _mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F));
  other = _mm_or_si128(other, _mm_cmpeq_epi8(v, _mm_set1_epi8('"')));
  other = _mm_or_si128(other, _mm_cmpeq_epi8(v, _mm_set1_epi8('&')));
  other = _mm_or_si128(other, _mm_cmpeq_epi8(v, _mm_set1_epi8('<')));
  other = _mm_or_si128(other, _mm_cmpeq_epi8(v, _mm_set1_epi8('>')));
  const auto plain = static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(other, printable)));
  return ~plain & 0xFFFFu;
}
// A bit for each byte of a 16-byte block that is `quote` or "&".
inline unsigned quoteOrAmpersandBits16(__m128i v, char quote) {
  const __m128i hits =
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(quote)), _mm_cmpeq_epi8(v, _mm_set1_epi8('&')));
  return static_cast<unsigned>(_mm_movemask_epi8(hits));
}
#endif

// The escape search of a range shorter than 16 bytes, inline: most attribute values are that
// short, and a call through `ByteScans::escape` costs more than the search. One SSE2 block read
// from `from` when it lies within one page (the bytes past `end` are ignored); `escape` otherwise.
__attribute__((no_sanitize_address)) inline const char* escapeShort(const ByteScans& scans,
                                                                    const char* from,
                                                                    const char* end) {
#if defined(__SSE2__)
  const auto size = static_cast<std::size_t>(end - from);
  if (size == 0) return end;  // `from` may be where an unreadable page starts
  if (size < 16 && blockWithinPage(from)) {
    const unsigned found =
        escapeBits16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from))) & ((1u << size) - 1);
    return found ? from + __builtin_ctz(found) : end;
  }
#endif
  return scans.escape(from, end);
}

// The reader's searches where what they look for is mostly near: the first 16 bytes are searched
// inline (when the range holds them, so nothing past `end` is read), the rest through the C
// library's memchr or `ByteScans::quoteOrAmpersand`. A tag's values and the layout between tags
// are that short, and a call costs more than the search.
inline const char* findByteNear(const char* from, const char* end, char byte) {
#if defined(__SSE2__)
  if (end - from >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    if (const auto bits =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(byte))))) {
      return from + __builtin_ctz(bits);
    }
    from += 16;
  }
#endif
  const void* at = std::memchr(from, byte, static_cast<std::size_t>(end - from));
  return at ? static_cast<const char*>(at) : end;
}
inline const char* quoteOrAmpersandNear(const ByteScans& scans, const char* from, const char* end,
                                        char quote) {
#if defined(__SSE2__)
  if (end - from >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    if (const unsigned bits = quoteOrAmpersandBits16(v, quote)) return from + __builtin_ctz(bits);
    from += 16;
  }
#endif
  return scans.quoteOrAmpersand(from, end, quote);
}
