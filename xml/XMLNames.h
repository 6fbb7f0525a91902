#pragma once

// The bytes the reader accepts in names: a name continues with letters, digits, "_", ":" and "-",
// and an attribute name starts with any of them but a digit.

inline bool isNameChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == ':' || c == '-';
}

inline bool startsAttributeName(unsigned char c) {
  return isNameChar(c) && !(c >= '0' && c <= '9');
}
