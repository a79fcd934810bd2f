// What the in-memory registry and the export reader agree on: how names fold
// for comparison, the root keys, how a key path splits into names, and how
// UTF-16 text becomes the UTF-8 the "A" calls hand back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "registry.h"

enum { MRHKLM, MRHKCU, MRHKU, MRHKCR, MRHKCC, MRNROOTS };

// Names compare as UTF-16 code units upper-cased as Windows upper-cases
// them (cpupper), held in UTF-8 (see u8units: bytes that are not UTF-8
// compare as they are). ASCII goes byte by byte, with fold.
inline unsigned char fold(unsigned char c) {
  return c >= 'a' && c <= 'z' ? c - 32 : c;
}
bool samefoldrest(const char *a, size_t alen, const char *b, size_t blen);
inline bool samefold(const char *a, size_t alen, const char *b, size_t blen) {
  size_t n = alen < blen ? alen : blen;
  for (size_t k = 0; k < n; k++) {
    unsigned char c = a[k], d = b[k];
    // The bytes before are ASCII, so a character starts here.
    if ((c | d) & 0x80)
      return samefoldrest(a + k, alen - k, b + k, blen - k);
    if (c != d && fold(c) != fold(d))
      return false;
  }
  return alen == blen;
}

// Whether a sorts before b, as Windows sorts subkeys.
bool foldlessrest(const char *a, size_t alen, const char *b, size_t blen);
inline bool foldless(const char *a, size_t alen, const char *b, size_t blen) {
  size_t n = alen < blen ? alen : blen;
  for (size_t k = 0; k < n; k++) {
    unsigned char c = a[k], d = b[k];
    if ((c | d) & 0x80)
      return foldlessrest(a + k, alen - k, b + k, blen - k);
    c = fold(c);
    d = fold(d);
    if (c != d)
      return c < d;
  }
  return alen < blen;
}

// Hashes the folded name into h, so that names that compare the same hash
// the same: ASCII eight bytes at a time, a name beyond ASCII by its code
// units upper-cased (FNV-1a). No character beyond ASCII upper-cases to
// ASCII, so no ASCII name equals one beyond it, and the two hashes need not
// agree.
uint64_t foldhashrest(uint64_t h, const char *s, size_t n);
// Eight ASCII bytes with a to z made upper case.
inline uint64_t foldword(uint64_t w) {
  const uint64_t ones = 0x0101010101010101ull, tops = 0x8080808080808080ull;
  uint64_t lower = (w + ones * (0x80 - 'a')) & ~(w + ones * (0x80 - 'z' - 1)) & tops;
  return w - (lower >> 2);
}
inline uint64_t foldhash(uint64_t h, const char *s, size_t n) {
  uint64_t h0 = h, any = 0, w;
  size_t k = 0;
  for (; k + 8 <= n; k += 8) {
    memcpy(&w, s + k, 8);
    any |= w;
    h = (h ^ foldword(w)) * 0x9e3779b97f4a7c15ull;
    h ^= h >> 32;
  }
  if (k < n) {
    for (w = 0; k < n; k++)
      w = w << 8 | (unsigned char)s[k];
    any |= w;
    h = (h ^ foldword(w)) * 0x9e3779b97f4a7c15ull;
    h ^= h >> 32;
  }
  return any & 0x8080808080808080ull ? foldhashrest(h0, s, n) : h;
}

// The root keys, indexed by MRHKLM and so on.
struct rootkey {
  const char *name;  // as exports write it
  HKEY hkey;
};
extern const rootkey rootkeys[MRNROOTS];
// The root a name stands for (any case), or -1.
int rootbyname(const char *s, size_t n);
// The root a predefined handle stands for, or -1.
int rootbyhandle(HKEY h);

// Key paths: names separated by single backslashes. Returns where the name
// starting at i ends (at the next backslash, or n).
inline size_t nameend(const char *s, size_t n, size_t i) {
  while (i < n && s[i] != '\\')
    i++;
  return i;
}

// UTF-16LE text of n code units at s, as UTF-8, into out (room for 3 bytes
// per unit). An unpaired surrogate becomes U+FFFD, as Windows converts it.
// Returns the bytes written.
size_t utf16to8(const unsigned char *s, size_t n, char *out);
