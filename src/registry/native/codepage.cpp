// Conversion with the machine's ANSI code page, and Windows' upper case.
//
// From Unicode, each UTF-16 code unit converts on its own, as the "A" calls
// convert (a surrogate pair gives two '?'): a table entry if there is one,
// else iconv's answer, else '?'. Answers are cached per unit.
//
// To Unicode, a table of every byte and lead and trail byte pair is built
// once (cpready), so that converting the names handed to the calls allocates
// nothing: a table entry, else iconv's answer, else the byte's own value in a
// single-byte code page and the code page's default character in a
// double-byte one, where a lead byte before a zero byte stands alone.
// scripts/gencptables checks these rules against Wine for every character.
#include "codepage.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <cstdio>
#include <cstring>

namespace {

struct cprun {
  uint16_t from, to, count;
};

struct cpinfo {
  unsigned cp;
  uint16_t dflt;  // a double-byte code page's character for bytes it cannot read
  const cprun *wc, *mb;
  const unsigned char *lead;  // ranges of lead bytes, low and high, ending in 0, 0
};

#include "cptables.inc"

const cpinfo *cur;
iconv_t tocp = (iconv_t)-1;
unsigned tocpfor;
uint16_t wccache[0x10000];  // code + 1 per unit, 0 where not looked up yet
bool ready;
unsigned readyfor;
uint16_t single[256];
uint16_t pairs[128][256];  // by lead byte - 0x80 and trail byte
bool islead[256];
locale_t utf8loc;
bool utf8tried;

// The run holding c, or null.
const cprun *findrun(const cprun *r, unsigned c) {
  size_t n = 0;
  while (r[n].count)
    n++;
  size_t lo = 0, hi = n;
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (r[mid].from + r[mid].count <= c)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo < n && r[lo].from <= c ? &r[lo] : nullptr;
}

// iconv over one sequence from a reset state, flushed; the bytes out, or -1.
long conv(iconv_t cd, const char *in, size_t n, char *out, size_t cap) {
  char *ip = (char *)in, *op = out;
  size_t il = n, ol = cap;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &ip, &il, &op, &ol) == (size_t)-1 || iconv(cd, nullptr, nullptr, &op, &ol) == (size_t)-1)
    return -1;
  return (long)(op - out);
}

void cpname(char *buf, size_t n) {
  snprintf(buf, n, "CP%u", cur->cp);
}

// A unit's code: a byte, or a lead byte above a trail byte.
uint16_t wccode(uint16_t c) {
  if (const cprun *r = findrun(cur->wc, c))
    return (uint16_t)(r->to + (c - r->from));
  if (tocp == (iconv_t)-1 || tocpfor != cur->cp) {
    if (tocp != (iconv_t)-1)
      iconv_close(tocp);
    char name[16];
    cpname(name, sizeof name);
    tocp = iconv_open(name, "UTF-16LE");
    tocpfor = cur->cp;
  }
  char in[2] = {(char)(c & 0xff), (char)(c >> 8)}, out[8];
  long n = tocp == (iconv_t)-1 ? -1 : conv(tocp, in, 2, out, sizeof out);
  if (n == 1)
    return (unsigned char)out[0];
  if (n == 2)
    return (uint16_t)((unsigned char)out[0] << 8 | (unsigned char)out[1]);
  return '?';
}

const cpinfo *lookup(unsigned cp) {
  for (const cpinfo &i : cpinfos)
    if (i.cp == cp)
      return &i;
  return nullptr;
}

}  // namespace

bool cpselect(unsigned cp) {
  const cpinfo *i = lookup(cp);
  bool known = i != nullptr;
  if (!i)
    i = lookup(CPFALLBACK);
  if (i != cur) {
    if (cur)
      memset(wccache, 0, sizeof wccache);
    cur = i;
  }
  return known;
}

unsigned cpselected(void) {
  return cur ? cur->cp : CPFALLBACK;
}

size_t cpfrom16(const uint16_t *s, size_t n, char *out) {
  if (!cur)
    cpselect(CPFALLBACK);
  char *o = out;
  for (size_t k = 0; k < n; k++) {
    uint16_t c = s[k];
    if (c < 0x80) {
      *o++ = (char)c;
      continue;
    }
    if (wccache[c] == 0)
      wccache[c] = (uint16_t)(wccode(c) + 1);
    uint16_t v = (uint16_t)(wccache[c] - 1);
    if (v > 0xff)
      *o++ = (char)(v >> 8);
    *o++ = (char)v;
  }
  return (size_t)(o - out);
}

void cpdone(void) {
  if (tocp != (iconv_t)-1)
    iconv_close(tocp);
  tocp = (iconv_t)-1;
}

void cpready(void) {
  if (!cur)
    cpselect(CPFALLBACK);
  if (ready && readyfor == cur->cp)
    return;
  cpupper(0x80);  // loads the case tables now, while allocating is fine
  memset(islead, 0, sizeof islead);
  for (const unsigned char *l = cur->lead; l[0]; l += 2)
    for (unsigned b = l[0]; b <= l[1]; b++)
      islead[b] = true;
  char name[16];
  cpname(name, sizeof name);
  iconv_t cd = iconv_open("UTF-16LE", name);
  char out[16];
  for (unsigned b = 0; b < 0x100; b++) {
    single[b] = (uint16_t)b;
    if (b < 0x80 || islead[b])
      continue;
    char in = (char)b;
    const cprun *r = findrun(cur->mb, b);
    long n = r || cd == (iconv_t)-1 ? -1 : conv(cd, &in, 1, out, sizeof out);
    if (r)
      single[b] = (uint16_t)(r->to + (b - r->from));
    else if (n == 2)
      single[b] = (uint16_t)((unsigned char)out[0] | (unsigned char)out[1] << 8);
  }
  for (unsigned b = 0x80; b < 0x100; b++) {
    if (!islead[b])
      continue;
    for (unsigned t = 0; t < 0x100; t++) {
      unsigned code = b << 8 | t;
      char in[2] = {(char)b, (char)t};
      const cprun *r = findrun(cur->mb, code);
      long n = r || cd == (iconv_t)-1 ? -1 : conv(cd, in, 2, out, sizeof out);
      if (r)
        pairs[b - 0x80][t] = (uint16_t)(r->to + (code - r->from));
      else if (n == 2)
        pairs[b - 0x80][t] = (uint16_t)((unsigned char)out[0] | (unsigned char)out[1] << 8);
      else
        pairs[b - 0x80][t] = cur->dflt;
    }
  }
  if (cd != (iconv_t)-1)
    iconv_close(cd);
  ready = true;
  readyfor = cur->cp;
}

bool cpisready(void) {
  return ready && cur && readyfor == cur->cp;
}

size_t cpto8(const unsigned char *s, size_t n, char *out) {
  char *o = out;
  for (size_t k = 0; k < n; k++) {
    unsigned b = s[k];
    unsigned c;
    if (b < 0x80) {
      c = b;
    } else if (!islead[b]) {
      c = single[b];
    } else if (k + 1 < n && s[k + 1] != 0) {
      c = pairs[b - 0x80][s[k + 1]];
      k++;
    } else {
      c = cur->dflt;
    }
    if (c < 0x80) {
      *o++ = (char)c;
    } else if (c < 0x800) {
      *o++ = (char)(0xc0 | c >> 6);
      *o++ = (char)(0x80 | (c & 0x3f));
    } else {
      *o++ = (char)(0xe0 | c >> 12);
      *o++ = (char)(0x80 | ((c >> 6) & 0x3f));
      *o++ = (char)(0x80 | (c & 0x3f));
    }
  }
  return (size_t)(o - out);
}

uint16_t cpupper(uint16_t c) {
  if (c < 0x80)
    return c >= 'a' && c <= 'z' ? (uint16_t)(c - 32) : c;
  if (c >= 0xd800 && c < 0xe000)
    return c;
  if (!utf8tried) {
    // Without the C.UTF-8 locale, only ASCII letters fold.
    utf8tried = true;
    utf8loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
  }
  if (utf8loc == (locale_t)0)
    return c;
  size_t lo = 0, hi = sizeof upsame / sizeof *upsame;
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (upsame[mid] == c)
      return c;
    if (upsame[mid] < c)
      lo = mid + 1;
    else
      hi = mid;
  }
  wint_t u = towupper_l(c, utf8loc);
  return u <= 0xffff ? (uint16_t)u : c;
}

size_t u8to16(const char *s, size_t n, uint16_t *out) {
  u8units u = {(const unsigned char *)s, (const unsigned char *)s + n, 0};
  size_t k = 0;
  for (int c; (c = u8next(u)) >= 0;)
    out[k++] = (uint16_t)c;
  return k;
}
