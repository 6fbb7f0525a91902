#pragma once

// The bytes the reader accepts in names: a name continues with letters, digits, "_", ":" and "-",
// and an attribute name starts with any of them but a digit. A table, as the reader tests every
// byte of every name.

struct NameCharTable {
  bool name[256] = {};
  constexpr NameCharTable() {
    for (int c = 0; c < 256; ++c) {
      name[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '_' || c == ':' || c == '-';
    }
  }
};
inline constexpr NameCharTable kNameChars;

inline bool isNameChar(unsigned char c) {
  return kNameChars.name[c];
}

inline bool startsAttributeName(unsigned char c) {
  return isNameChar(c) && !(c >= '0' && c <= '9');
}
