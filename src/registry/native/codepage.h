// Text as the "A" registry calls hand it over: converted between Unicode and
// the machine's ANSI code page as Windows converts it, and names matched
// with Windows' upper case.
//
// Conversion follows glibc's iconv where it agrees with Windows, and a table
// (cptables.inc, made by scripts/gencptables from Wine) where it does not.
#pragma once

#include <cstddef>
#include <cstdint>

const unsigned CPFALLBACK = 1252;

// Selects the code page to convert with; false, selecting 1252, for one we
// do not support.
bool cpselect(unsigned cp);
unsigned cpselected(void);

// UTF-16 code units to the selected code page, unit by unit as the "A" calls
// convert: a unit the code page cannot hold becomes Windows' best fit or
// '?'. Returns the bytes written, at most two per unit. Allocates (iconv)
// until cpdone.
size_t cpfrom16(const uint16_t *s, size_t n, char *out);
void cpdone(void);

// Readies cpto8 for the selected code page; it allocates nothing afterwards.
void cpready(void);
bool cpisready(void);
// Text in the selected code page to UTF-8, as MultiByteToWideChar(cp, 0):
// at most three bytes out per byte in.
size_t cpto8(const unsigned char *s, size_t n, char *out);

// Windows' upper case of a UTF-16 code unit, by which names match and sort.
uint16_t cpupper(uint16_t c);

// UTF-8 text read as UTF-16 code units, one at a time. A byte that starts no
// well-formed sequence reads as 0xdc00 + the byte, so text that is not UTF-8
// (8-bit names not converted yet) still compares byte by byte.
struct u8units {
  const unsigned char *p, *e;
  uint16_t low;  // the second half of a surrogate pair, still to come
};

inline int u8next(u8units &u) {
  if (u.low) {
    int c = u.low;
    u.low = 0;
    return c;
  }
  if (u.p == u.e)
    return -1;
  unsigned c = *u.p++;
  if (c < 0x80)
    return (int)c;
  int n = c < 0xc2 ? 0 : c < 0xe0 ? 1 : c < 0xf0 ? 2 : c < 0xf5 ? 3 : 0;
  if (n == 0 || u.e - u.p < n)
    return (int)(0xdc00 | c);
  unsigned v = c & (0x3f >> n);
  for (int k = 0; k < n; k++) {
    if ((u.p[k] & 0xc0) != 0x80)
      return (int)(0xdc00 | c);
    v = v << 6 | (u.p[k] & 0x3f);
  }
  if ((n == 2 && v < 0x800) || (n == 3 && (v < 0x10000 || v > 0x10ffff)))
    return (int)(0xdc00 | c);
  u.p += n;
  if (v < 0x10000)
    return (int)v;
  v -= 0x10000;
  u.low = (uint16_t)(0xdc00 | (v & 0x3ff));
  return (int)(0xd800 | v >> 10);
}

// UTF-8 text to UTF-16 code units; returns their number (at most one per byte).
size_t u8to16(const char *s, size_t n, uint16_t *out);
