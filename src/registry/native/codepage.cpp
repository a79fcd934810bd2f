// Windows' ANSI code pages and upper case, looked up in the tables that
// scripts/gencptables makes from Wine (cptables.inc): each is a page of 256
// entries picked by one byte, then the entry by the next.
#include "codepage.h"

struct cpage {
  unsigned cp;
  uint16_t single;     // the page of what each byte gives on its own
  uint16_t lead[256];  // a lead byte's page of what it gives with each trail byte; 0 for other bytes
  uint16_t unit[256];  // by a code unit's high byte, the page of what the unit gives
};

namespace {

#include "cptables.inc"

}  // namespace

const cpage *cpfind(unsigned cp) {
  for (const cpage &p : cpages)
    if (p.cp == cp)
      return &p;
  return nullptr;
}

const cpage *cpfor(unsigned cp) {
  return cpfind(cpfind(cp) ? cp : CPFALLBACK);
}

// A lead byte with no byte after it, or with a zero byte, stands alone and
// gives the code page's default character; with any other byte it gives one
// unit for the two, whether or not they make a character.
size_t cptowide(const cpage *p, const unsigned char *s, size_t n, char16_t *out) {
  size_t k = 0;
  for (size_t i = 0; i < n; i++) {
    unsigned lead = p->lead[s[i]];
    if (lead && i + 1 < n && s[i + 1])
      out[k++] = cppages[lead][s[++i]];
    else
      out[k++] = s[i] < 0x80 ? s[i] : cppages[p->single][s[i]];
  }
  return k;
}

// The table holds a byte, or a lead byte above a trail byte. ASCII, most
// text, stands for itself in every code page (gencptables checks it).
size_t cpfromwide(const cpage *p, const char16_t *s, size_t n, char *out) {
  size_t k = 0;
  for (size_t i = 0; i < n; i++) {
    unsigned code = s[i] < 0x80 ? s[i] : cppages[p->unit[s[i] >> 8]][s[i] & 0xff];
    if (code > 0xff)
      out[k++] = (char)(code >> 8);
    out[k++] = (char)code;
  }
  return k;
}

char16_t cpupper(char16_t c) {
  return (char16_t)(c + uppages[upindex[c >> 8]][c & 0xff]);
}
