// Windows' ANSI code pages and upper case, looked up in the tables that
// scripts/gencptables makes from Wine (cptables.inc): each is a page of 256
// entries picked by one byte, then the entry by the next. UTF-8 is worked
// out instead.
#include "codepage.h"

#include <bit>

struct cpage {
  unsigned cp;
  uint16_t single;     // the page of what each byte gives on its own
  uint16_t lead[256];  // a lead byte's page of what it gives with each trail byte; 0 for other bytes
  uint16_t unit[256];  // by a code unit's high byte, the page of what the unit gives
};

namespace {

#include "cptables.inc"

// UTF-8 has no tables: its conversions are worked out (utf8towide,
// utf8fromwide).
const cpage utf8page = {CPUTF8, 0, {}, {}};

bool ishigh(char16_t c) {
  return c >= 0xd800 && c < 0xdc00;
}

bool islow(char16_t c) {
  return c >= 0xdc00 && c < 0xe000;
}

size_t utf8towide(const unsigned char *s, size_t n, char16_t *out) {
  static const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};  // the smallest of each length
  size_t k = 0;
  for (size_t i = 0; i < n;) {
    // A lead byte's leading ones give its sequence's length len (none: a
    // byte alone; one, or more than four: no lead byte, len 0), and each
    // byte after it six bits.
    int ones = std::countl_one(s[i]);
    size_t len = (size_t)ones;
    if (ones == 0)
      len = 1;
    else if (ones == 1 || ones > 4)
      len = 0;
    size_t got = 1;
    char32_t c = s[i] & (0x7f >> ones);
    while (got < len && i + got < n && (s[i + got] & 0xc0) == 0x80) {
      c = c << 6 | (s[i + got] & 0x3f);
      got++;
    }
    bool ok = len > 0 && got == len && c >= least[len] && c <= 0x10ffff && (c < 0xd800 || c >= 0xe000);
    if (!ok) {
      c = 0xfffd;
      len = 1;
    }
    i += len;
    if (c >= 0x10000) {
      out[k++] = (char16_t)(0xd800 + ((c - 0x10000) >> 10));
      c = 0xdc00 + (c & 0x3ff);
    }
    out[k++] = (char16_t)c;
  }
  return k;
}

size_t utf8fromwide(const char16_t *s, size_t n, char *out) {
  size_t k = 0;
  for (size_t i = 0; i < n; i++) {
    char32_t c = s[i];
    if (ishigh(s[i]) && i + 1 < n && islow(s[i + 1])) {
      c = 0x10000 + ((c - 0xd800) << 10) + (s[i + 1] - 0xdc00);
      i++;
    } else if (ishigh(s[i]) || islow(s[i])) {
      c = 0xfffd;
    }
    if (c < 0x80) {
      out[k++] = (char)c;
    } else if (c < 0x800) {
      out[k++] = (char)(0xc0 | c >> 6);
      out[k++] = (char)(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
      out[k++] = (char)(0xe0 | c >> 12);
      out[k++] = (char)(0x80 | (c >> 6 & 0x3f));
      out[k++] = (char)(0x80 | (c & 0x3f));
    } else {
      out[k++] = (char)(0xf0 | c >> 18);
      out[k++] = (char)(0x80 | (c >> 12 & 0x3f));
      out[k++] = (char)(0x80 | (c >> 6 & 0x3f));
      out[k++] = (char)(0x80 | (c & 0x3f));
    }
  }
  return k;
}

}  // namespace

size_t cpcharunits(const char16_t *s, size_t n) {
  return n >= 2 && ishigh(s[0]) && islow(s[1]) ? 2 : 1;
}

const cpage *cpfind(unsigned cp) {
  if (cp == CPUTF8)
    return &utf8page;
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
  if (p->cp == CPUTF8)
    return utf8towide(s, n, out);
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
  if (p->cp == CPUTF8)
    return utf8fromwide(s, n, out);
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
