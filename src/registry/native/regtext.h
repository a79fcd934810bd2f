// What the in-memory registry, the export reader and the tests share about
// text: the root keys, how names compare, the string types, and UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "codepage.h"
#include "registry.h"

enum { MRHKLM, MRHKCU, MRHKU, MRHKCR, MRHKCC, MRNROOTS };

// The root keys, indexed by MRHKLM and so on.
struct rootkey {
  const char *name;  // as exports write it
  HKEY hkey;
};
extern const rootkey rootkeys[MRNROOTS];
// The root a name stands for (any case), or -1.
int rootbyname(std::u16string_view s);
// The root a predefined handle stands for, or -1.
int rootbyhandle(HKEY h);

// Names compare as their UTF-16 code units upper-cased as Windows does:
// whether they are the same name, and whether a sorts before b, as Windows
// sorts subkeys. ASCII folds here, the rest by Windows' table (cpupper).
inline char16_t upper(char16_t c) {
  if (c >= 0x80)
    return cpupper(c);
  return c >= 'a' && c <= 'z' ? (char16_t)(c - 32) : c;
}
inline bool samename(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t k = 0; k < a.size(); k++)
    if (a[k] != b[k] && upper(a[k]) != upper(b[k]))
      return false;
  return true;
}
inline bool nameless(std::u16string_view a, std::u16string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t k = 0; k < n; k++) {
    if (a[k] == b[k])
      continue;
    char16_t c = upper(a[k]), d = upper(b[k]);
    if (c != d)
      return c < d;
  }
  return a.size() < b.size();
}

inline bool istext(DWORD type) {  // a string type, its data UTF-16LE text
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// UTF-8 to UTF-16, as Windows converts (CP_UTF8): a byte that starts no
// well-formed sequence becomes U+FFFD.
std::u16string utf8to16(std::string_view s);
