#pragma once

#include <cstdint>

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
