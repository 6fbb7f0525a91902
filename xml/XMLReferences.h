#pragma once

// Character and entity references in the reader's text (XMLReader.cpp).

#include <cstddef>
#include <string_view>

// What a reference gave.
struct DecodedReference {
  std::size_t size = 0;  // bytes written; 0 when the bytes at the "&" are no reference
  bool wide = false;     // a code above 255 reduced to its low byte
};

// Decodes the reference that starts with the "&" at token[i] into `out` (up to four bytes, never
// more than the reference's own length) and leaves i on its last byte; writes nothing and leaves
// i unchanged when the bytes are not a reference. A numeric reference gives the low byte of its
// code, or, with `utf8`, the UTF-8 bytes of a character above 0x7F.
DecodedReference decodeReference(std::string_view token, std::size_t& i, char* out, bool utf8);
