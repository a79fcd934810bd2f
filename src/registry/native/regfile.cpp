// Reads a registry export into the in-memory registry, line by line, by
// regedit's rules: what it imports is read with its meaning, a line it would
// skip is skipped (and reported), and only input that is no export at all
// fails.
//
// Each line is parsed where it lies in the input, in the input's own
// encoding: 8-bit text a byte at a time, UTF-16LE a code unit (two bytes) at
// a time. Only what is stored is decoded: a key path, a value name, a value's
// data, each once, into the buffers handed to the registry. A file is read in
// chunks, so an export costs no more memory than its longest line on top of
// what the registry holds.
//
// Exports are often concatenated (`cat a.reg b.reg`), so each line start may
// carry a byte-order mark again and switch the encoding; a header line with
// no mark in front of it starts an 8-bit file.
#include "regfile.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "memreg.h"
#include "regtext.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

enum { ENC8, ENCUTF8, ENCUTF16 };

const size_t CHUNK = 65536;
// Bytes a line start looks at: a byte-order mark, or an 8-bit header line
// (with some blanks before it) after a UTF-16 export.
const size_t LOOKAHEAD = 96;

const char HEADER5[] = "Windows Registry Editor Version 5.00";
const char HEADER4[] = "REGEDIT4";
const char NOHEADER[] = "expected 'Windows Registry Editor Version 5.00' or 'REGEDIT4'";

struct buf {
  char *p;
  size_t n, cap;
  bool ascii;  // holds only ASCII, as far as is known: UTF-16 tells as it is decoded
};

// A name of the last key path opened: where it ends in the path, its key.
// The next path (usually a sibling or a child) reuses the names it shares.
struct comp {
  size_t end;
  DWORD id;
};

struct rd {
  // Input: a file read in chunks into in, or memory taken as it is.
  FILE *f;
  unsigned char *in;
  size_t incap;
  const unsigned char *p, *e;  // what is not read yet
  bool eof;
  int enc;  // the encoding from p on
  bool cr;  // the last line ended with CR: a LF right after belongs to it
  // The current line: n units (bytes, or UTF-16 code units) at s, without
  // its line end.
  const unsigned char *s;
  size_t n;
  unsigned long line;
  // Loading.
  const char *err;  // the input is not an export, or cannot be read
  unsigned long errline;
  regskipfn skip;
  void *ctx;
  bool halt;    // nothing more is read
  bool haskey;  // a key line was seen
  DWORD key;    // where values go; MRNONE when nowhere
  buf name, data, text, path, prev;
  comp *comps;
  size_t ncomp, compcap;
};

bool fail(rd *r, unsigned long line, const char *msg) {
  if (!r->err) {
    r->err = msg;
    r->errline = line;
  }
  return false;
}

void skipped(rd *r, unsigned long line, const char *what) {
  if (r->skip)
    r->skip(line, what, r->ctx);
}

// Makes room for need bytes in b; a failed allocation ends the load.
bool reserve(rd *r, buf *b, size_t need) {
  if (need <= b->cap)
    return true;
  size_t cap = b->cap ? b->cap : 256;
  while (cap < need && cap <= SIZE_MAX / 2)
    cap *= 2;
  char *p = cap >= need ? (char *)realloc(b->p, cap) : nullptr;
  if (!p)
    return fail(r, r->line, "out of memory");
  b->p = p;
  b->cap = cap;
  return true;
}

// Input.

// Reads more of the file behind what is not read yet, which moves to the
// front of the buffer (grown when it fills half of it, so that a long line
// is moved no more often than its length doubles). False when nothing more
// came.
bool readmore(rd *r) {
  if (r->eof)
    return false;
  size_t left = r->e - r->p;
  if (r->p != r->in)
    memmove(r->in, r->p, left);
  r->p = r->in;
  r->e = r->in + left;
  if (left > r->incap / 2) {
    unsigned char *p = (unsigned char *)realloc(r->in, r->incap * 2);
    if (!p) {
      r->eof = true;
      return fail(r, r->line, "out of memory");
    }
    r->in = p;
    r->p = p;
    r->e = p + left;
    r->incap *= 2;
  }
  size_t want = r->incap - left;
  size_t got = fread(r->in + left, 1, want, r->f);
  if (got < want) {
    r->eof = true;
    if (ferror(r->f))
      fail(r, r->line + 1, "could not read the input");
  }
  r->e += got;
  return got > 0;
}

// Whether s starts (after blanks) with a header line written in 8 bits.
bool rawheader(const unsigned char *s, const unsigned char *se) {
  while (s < se && (*s == ' ' || *s == '\t'))
    s++;
  if (se - s < 2 || s[1] == 0)
    return false;
  const char *h = s < se && *s == 'W' ? HEADER5 : HEADER4;
  size_t n = strlen(h);
  return (size_t)(se - s) >= n && memcmp(s, h, n) == 0;
}

// At a line start: finishes a CR LF, then looks for a byte-order mark or an
// 8-bit header line, either of which sets the encoding from here on.
void linestart(rd *r) {
  while ((size_t)(r->e - r->p) < LOOKAHEAD && readmore(r)) {
  }
  const unsigned char *s = r->p, *se = r->e;
  if (r->cr) {
    if (r->enc == ENCUTF16) {
      if (se - s >= 2 && s[0] == '\n' && s[1] == 0)
        s += 2;
    } else if (s < se && *s == '\n') {
      s++;
    }
    r->cr = false;
  }
  // A mark or an 8-bit header line has a second byte that is not zero; a
  // line of UTF-16 that starts with ASCII has a zero one.
  if (se - s < 2 || s[1] != 0) {
    if (se - s >= 2 && s[0] == 0xff && s[1] == 0xfe) {
      s += 2;
      r->enc = ENCUTF16;
    } else if (se - s >= 3 && s[0] == 0xef && s[1] == 0xbb && s[2] == 0xbf) {
      s += 3;
      r->enc = ENCUTF8;
    } else if (r->enc != ENC8 && rawheader(s, se)) {
      r->enc = ENC8;
    }
  }
  r->p = s;
}

// Bytes from s up to the first line end (CR or LF), or up to se; *nul is set
// to the bytes before the first NUL if there is one.
size_t scan8(const unsigned char *s, const unsigned char *se, size_t *nul) {
  const unsigned char *t = s;
  for (; t < se; t++) {
    if (*t > '\r')
      continue;
    if (*t == '\r' || *t == '\n')
      break;
    if (*t == 0 && *nul == SIZE_MAX)
      *nul = t - s;
  }
  return t - s;
}

#ifdef __SSE2__
// Bits for the bytes of the eight units at t that are at or below '\r'.
inline unsigned lowunits(const unsigned char *t) {
  __m128i v = _mm_loadu_si128((const __m128i *)t);
  return (unsigned)_mm_movemask_epi8(
      _mm_cmpeq_epi16(_mm_subs_epu16(v, _mm_set1_epi16('\r')), _mm_setzero_si128()));
}
#endif

// From t, past the UTF-16LE units above '\r', many at a time: to the first
// unit at or below it, or to where fewer than four units are left.
inline const unsigned char *skipplain16(const unsigned char *t, const unsigned char *se) {
#ifdef __SSE2__
  // Sixteen units, then eight; a unit's two bits are the lowest set.
  for (; se - t >= 32; t += 32) {
    unsigned m = lowunits(t) | lowunits(t + 16) << 16;
    if (m != 0)
      return t + __builtin_ctz(m);
  }
  if (se - t >= 16) {
    unsigned m = lowunits(t);
    if (m != 0)
      return t + __builtin_ctz(m);
    t += 16;
  }
#endif
  for (; se - t >= 8; t += 8) {
    uint64_t w;
    memcpy(&w, t, 8);
    const uint64_t ones = 0x0001000100010001ull, tops = 0x8000800080008000ull;
    if (((w - ones * 14) & ~w & tops) != 0)
      break;
  }
  return t;
}

// The same as scan8 over UTF-16LE code units, up to the last whole one
// before se.
size_t scan16(const unsigned char *s, const unsigned char *se, size_t *nul) {
  const unsigned char *t = s;
  for (;;) {
    t = skipplain16(t, se);
    if (se - t < 2)
      break;
    unsigned c = t[0] | t[1] << 8;
    if (c == '\r' || c == '\n')
      break;
    if (c == 0 && *nul == SIZE_MAX)
      *nul = t - s;
    t += 2;
  }
  return t - s;
}

// Reads the next line into r->s and r->n. False at the end of the input.
bool nextline(rd *r) {
  if (r->halt)
    return false;
  linestart(r);
  size_t w = r->enc == ENCUTF16 ? 2 : 1;
  size_t len = 0, nul = SIZE_MAX;
  bool end;  // the line has its line end
  for (;;) {
    const unsigned char *s = r->p + len;
    size_t at = SIZE_MAX;
    size_t k = w == 2 ? scan16(s, r->e, &at) : scan8(s, r->e, &at);
    if (at != SIZE_MAX && nul == SIZE_MAX)
      nul = len + at;
    len += k;
    end = (size_t)(r->e - r->p) >= len + w;
    if (end || !readmore(r))
      break;
  }
  if (!end && len == 0) {
    r->p = r->e;  // an odd byte after the last UTF-16 unit is no text
    return false;
  }
  r->s = r->p;
  r->n = len / w;
  r->p += len;
  if (end) {
    r->cr = *r->p == '\r';
    r->p += w;
  }
  r->line++;
  // A NUL ends the text, as it ends regedit's import: the line holding it
  // is incomplete, and nothing after it is read.
  if (nul < len) {
    r->halt = true;
    if (r->line > 1)
      skipped(r, r->line, "expected no NUL character (nothing from here on is read)");
    return r->line == 1;
  }
  return true;
}

// Parsing, over units of W bytes: 1 for 8-bit text, 2 for UTF-16LE.

template <int W>
inline uint32_t at(const unsigned char *s, size_t i) {
  if constexpr (W == 1)
    return s[i];
  else
    return s[2 * i] | (uint32_t)s[2 * i + 1] << 8;
}

inline bool isblank(uint32_t c) {
  return c == ' ' || c == '\t';
}

constexpr bool ishex(uint32_t c) {
  return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

constexpr uint32_t hexval(uint32_t c) {
  return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// Each byte's value as a hex digit, or 0x10.
struct hextable {
  unsigned char v[256];
  constexpr hextable() : v() {
    for (int c = 0; c < 256; c++)
      v[c] = ishex(c) ? hexval(c) : 0x10;
  }
};
constexpr hextable HEXTAB;
const unsigned char *const HEXVAL = HEXTAB.v;

template <int W>
size_t blanks(const unsigned char *s, size_t n, size_t i) {
  while (i < n && isblank(at<W>(s, i)))
    i++;
  return i;
}

// Whether the line holds from i on nothing but blanks and perhaps a comment.
template <int W>
bool rest(const unsigned char *s, size_t n, size_t i) {
  i = blanks<W>(s, n, i);
  return i == n || at<W>(s, i) == ';';
}

// Whether the line from i on is a header line.
template <int W>
bool header(const unsigned char *s, size_t n, size_t i) {
  const char *h = i < n && at<W>(s, i) == 'W' ? HEADER5 : HEADER4;
  size_t k = 0;
  for (; h[k] && i < n; k++, i++)
    if (at<W>(s, i) != (unsigned char)h[k])
      return false;
  return !h[k] && i == n;
}

// Appends the text of units from to to, as UTF-8, to b. From UTF-16, a unit
// beyond ASCII takes more than one byte: b stays ASCII while every unit took one.
template <int W>
bool decode(rd *r, const unsigned char *s, size_t from, size_t to, buf *b) {
  if (to == from)
    return true;
  if (!reserve(r, b, b->n + (to - from) * (W == 1 ? 1 : 3)))
    return false;
  if constexpr (W == 1) {
    memcpy(b->p + b->n, s + from, to - from);
    b->n += to - from;
    b->ascii = false;  // not looked at
  } else {
    size_t k = utf16to8(s + 2 * from, to - from, b->p + b->n);
    b->n += k;
    b->ascii &= k == to - from;
  }
  return true;
}

const long UNTERMINATED = -1, BADESCAPE = -2;

// quoted() over UTF-16LE: decoded as it is scanned, each unit read once.
// Runs of ASCII go eight units at a time up to a quote, a backslash or a
// unit beyond ASCII, which are taken one at a time.
long quoted16(rd *r, const unsigned char *s, size_t n, size_t i, buf *b) {
  // Room for the rest of the line: at most three bytes a unit.
  if (!reserve(r, b, 3 * (n - i)))
    return UNTERMINATED;
  char *o = b->p;
  for (;;) {
#ifdef __SSE2__
    const __m128i q = _mm_set1_epi16('"'), e = _mm_set1_epi16('\\'), high = _mm_set1_epi16((short)0xff80);
    while (i + 8 <= n) {
      __m128i v = _mm_loadu_si128((const __m128i *)(s + 2 * i));
      unsigned ascii = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, high), _mm_setzero_si128()));
      unsigned stop = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, q), _mm_cmpeq_epi16(v, e)));
      stop |= ~ascii & 0xffff;
      // All eight are stored; only those before the first stop count.
      _mm_storel_epi64((__m128i *)o, _mm_packus_epi16(v, v));
      size_t k = stop ? __builtin_ctz(stop) / 2 : 8;
      o += k;
      i += k;
      if (k < 8)
        break;
    }
#endif
    if (i == n)
      break;
    uint32_t c = at<2>(s, i);
    if (c == '"') {
      b->n = o - b->p;
      return (long)i + 1;
    }
    if (c == '\\') {
      if (++i == n)
        break;
      c = at<2>(s, i);
      if (c == '0')
        return BADESCAPE;
      if (c == 'n' || c == 'r') {
        *o++ = c == 'n' ? '\n' : '\r';
        i++;
        continue;
      }
      // Any other character stands for itself.
    }
    if (c < 0x80) {
      *o++ = (char)c;
      i++;
      continue;
    }
    // A surrogate pair converts as one character.
    size_t u = c - 0xd800 < 0x400 && i + 1 < n && at<2>(s, i + 1) - 0xdc00 < 0x400 ? 2 : 1;
    o += utf16to8(s + 2 * i, u, o);
    i += u;
    b->ascii = false;
  }
  b->n = o - b->p;
  return UNTERMINATED;
}

// A quoted name or string from i (after its opening quote), with its
// escapes, into b. Returns the index after the closing quote, UNTERMINATED
// or BADESCAPE. A backslash before any other character than n, r or 0
// stands for that character.
template <int W>
long quoted(rd *r, const unsigned char *s, size_t n, size_t i, buf *b) {
  b->n = 0;
  b->ascii = true;
  if constexpr (W == 2)
    return quoted16(r, s, n, i, b);
  size_t from = i;
  for (; i < n; i++) {
    uint32_t c = at<W>(s, i);
    if (c == '"') {
      if (!decode<W>(r, s, from, i, b))
        return UNTERMINATED;
      return (long)i + 1;
    }
    if (c != '\\')
      continue;
    if (!decode<W>(r, s, from, i, b))
      return UNTERMINATED;
    if (++i == n)
      return UNTERMINATED;
    c = at<W>(s, i);
    from = i;
    if (c == '0')
      return BADESCAPE;
    if (c == 'n' || c == 'r') {
      if (!reserve(r, b, b->n + 1))
        return UNTERMINATED;
      b->p[b->n++] = c == 'n' ? '\n' : '\r';
      from = i + 1;
    }
  }
  return UNTERMINATED;
}

// A number in hex from i, as regedit reads one: blanks, a sign, a 0x, any
// number of digits. Returns the index after it, or i when there is none;
// *over tells a value it refuses (beyond 32 bits, or negative).
template <int W>
size_t number(const unsigned char *s, size_t n, size_t i, uint32_t *v, bool *over) {
  size_t k = i;
  while (k < n && (isblank(at<W>(s, k)) || at<W>(s, k) == '\v' || at<W>(s, k) == '\f'))
    k++;
  bool neg = false;
  if (k < n && (at<W>(s, k) == '-' || at<W>(s, k) == '+'))
    neg = at<W>(s, k++) == '-';
  if (k + 2 < n && at<W>(s, k) == '0' && (at<W>(s, k + 1) | 0x20) == 'x' && ishex(at<W>(s, k + 2)))
    k += 2;
  uint64_t x = 0;
  size_t d = k;
  for (; d < n && ishex(at<W>(s, d)); d++)
    if ((x = x << 4 | hexval(at<W>(s, d))) > 0xffffffffu)
      x = 0x100000000ull;
  // regedit takes no negative number but -0.
  *over = x > 0xffffffffu || (neg && x != 0);
  *v = *over ? 0xffffffffu : (uint32_t)x;
  return d == k ? i : d;
}

const char *const BADHEX = "expected hex bytes (00 to ff) separated by commas";

const char *const BADEND = "expected end of line or a comment after '\\'";

// Hex bytes separated by commas, from i, appended to r->data. Returns what
// was expected if the line is bad, else null, and sets *more when it ends
// in a backslash that continues the list on the next line.
template <int W>
const char *hexbytes(rd *r, const unsigned char *s, size_t n, size_t i, bool *more) {
  buf *d = &r->data;
  *more = false;
  if (!reserve(r, d, d->n + n / 2 + 1))
    return nullptr;
  while (i < n) {
    // Bytes as regedit writes them, two digits and a comma, need none of
    // the checks below.
    if constexpr (W == 2) {
      while (i + 4 <= n) {
        uint64_t w;
        memcpy(&w, s + 2 * i, 8);
        unsigned hi = HEXVAL[w & 0xff], lo = HEXVAL[(w >> 16) & 0xff];
        if ((w & 0x0000ff00ff00ff00ull) != 0 || ((w >> 32) & 0xff) != ',' || ((hi | lo) & 0x10))
          break;
        d->p[d->n++] = (char)(hi << 4 | lo);
        i += 3;
      }
    }
    while (i + 2 < n && ishex(at<W>(s, i)) && ishex(at<W>(s, i + 1)) && at<W>(s, i + 2) == ',') {
      d->p[d->n++] = (char)(hexval(at<W>(s, i)) << 4 | hexval(at<W>(s, i + 1)));
      i += 3;
    }
    if (i == n)
      break;
    uint32_t v;
    bool over;
    size_t e = number<W>(s, n, i, &v, &over);
    if (e == i) {
      e = blanks<W>(s, n, i);
      if (e < n && at<W>(s, e) == '\\') {
        *more = true;
        return rest<W>(s, n, e + 1) ? nullptr : BADEND;
      }
      return e < n && at<W>(s, e) == ';' ? nullptr : BADHEX;
    }
    if (over || v > 0xff)
      return BADHEX;
    d->p[d->n++] = (char)v;
    if (e < n && at<W>(s, e) != ',')
      return rest<W>(s, n, e) ? nullptr : BADHEX;
    i = e + 1;
  }
  return nullptr;
}

// The hex data of a value from i, running on over the lines that follow
// while a line ends in a backslash; blank and comment lines between them are
// passed over. Returns what was expected, or null.
template <int W>
const char *hexdata(rd *r, size_t i) {
  r->data.n = 0;
  r->data.ascii = false;
  bool more;
  if (i == r->n)
    return nullptr;
  const char *why = hexbytes<W>(r, r->s, r->n, i, &more);
  int enc = r->enc;
  while (more && !why && !r->err) {
    if (!nextline(r))
      return nullptr;  // a backslash at the end of the input ends the data
    if (r->enc != enc)
      return "expected hex bytes in the same encoding on the line after '\\'";
    size_t k = blanks<W>(r->s, r->n, 0);
    if (k == r->n || at<W>(r->s, k) == ';')
      continue;
    if (!ishex(at<W>(r->s, k)))
      return "expected hex bytes on the line after '\\'";
    why = hexbytes<W>(r, r->s, r->n, k, &more);
  }
  return why;
}

// "dword:" data: one to eight hex digits.
template <int W>
const char *dword(rd *r, const unsigned char *s, size_t n, size_t i) {
  const char *why = "expected 1 to 8 hex digits after 'dword:'";
  i = blanks<W>(s, n, i);
  if (i == n)
    return why;
  uint32_t v = 0;
  size_t k = i;
  for (; k < n && ishex(at<W>(s, k)); k++)
    v = v << 4 | hexval(at<W>(s, k));
  if (k - i > 8 || (k == i && !rest<W>(s, n, k)))
    return why;
  if (!rest<W>(s, n, k))
    return "expected end of line or a comment after the dword";
  if (!reserve(r, &r->data, 4))
    return nullptr;
  for (int b = 0; b < 4; b++)
    r->data.p[b] = (char)(v >> (8 * b));
  r->data.n = 4;
  r->data.ascii = false;
  return nullptr;
}

// A string's data: its text and a terminating zero.
template <int W>
const char *string(rd *r, const unsigned char *s, size_t n, size_t i) {
  long e = quoted<W>(r, s, n, i, &r->data);
  if (r->err)
    return nullptr;
  if (e == BADESCAPE)
    return "expected no \\0 in the string";
  if (e == UNTERMINATED)
    return "expected '\"' to end the string";
  if (!rest<W>(s, n, (size_t)e))
    return "expected end of line or a comment after the string";
  if (!reserve(r, &r->data, r->data.n + 1))
    return nullptr;
  r->data.p[r->data.n++] = 0;
  return nullptr;
}

bool tag(const unsigned char *s, size_t n, size_t i, const char *t, int w) {
  for (; *t; t++, i++)
    if (i >= n || (w == 1 ? s[i] : at<2>(s, i)) != (unsigned char)*t)
      return false;
  return true;
}

// hex(type): the type in hex, at most ffffffff, as regedit reads it (no
// 0x right after the parenthesis). Returns the index after the colon, or 0.
template <int W>
size_t hextype(const unsigned char *s, size_t n, size_t i, DWORD *type) {
  if (i == n || (i + 1 < n && (at<W>(s, i + 1) | 0x20) == 'x'))
    return 0;
  uint32_t v;
  bool over;
  size_t e = number<W>(s, n, i, &v, &over);
  if (over || e + 1 >= n || at<W>(s, e) != ')' || at<W>(s, e + 1) != ':')
    return 0;
  *type = v;
  return e + 2;
}

// Text types hold UTF-16LE in a Unicode export, as regedit reads them, and
// are stored as the UTF-8 the "A" calls hand back: whole characters, as they
// convert an odd byte count. A UTF-8 export (with its mark) is one re-saved
// from a Unicode one, so its hex text is UTF-16LE too; in an 8-bit export the
// bytes are the text as it is.
const buf *astext(rd *r, int enc, DWORD type) {
  buf *d = &r->data;
  if (enc == ENC8 || (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ))
    return d;
  buf *t = &r->text;
  if (!reserve(r, t, d->n / 2 * 3 + 1))
    return nullptr;
  t->n = utf16to8((const unsigned char *)d->p, d->n / 2, t->p);
  t->ascii = t->n == d->n / 2;
  return t;
}

// A value's data from i: its type, and in *d the bytes to store. Returns what
// was expected, or null.
template <int W>
const char *data(rd *r, size_t i, DWORD *type, const buf **d) {
  const unsigned char *s = r->s;
  size_t n = r->n;
  int enc = r->enc;  // this line's, before continuation lines are read
  *d = &r->data;
  if (i < n && at<W>(s, i) == '"') {
    *type = REG_SZ;
    return string<W>(r, s, n, i + 1);
  }
  if (tag(s, n, i, "dword:", W)) {
    *type = REG_DWORD;
    return dword<W>(r, s, n, i + 6);
  }
  size_t k;
  if (tag(s, n, i, "hex:", W)) {
    *type = REG_BINARY;
    k = i + 4;
  } else if (tag(s, n, i, "hex(", W)) {
    k = hextype<W>(s, n, i + 4, type);
    if (!k)
      return "expected hex(type): with the type in hex, at most ffffffff";
  } else {
    return "expected \"string\", dword:, hex: or hex(type): after '='";
  }
  const char *why = hexdata<W>(r, k);
  if (!why && !r->err)
    *d = astext(r, enc, *type);
  return why;
}

// A value line, from i (after the '"' of its name, or after '@').
template <int W>
void value(rd *r, size_t i, bool dflt) {
  const unsigned char *s = r->s;
  size_t n = r->n;
  unsigned long vline = r->line;
  buf *name = &r->name;
  name->n = 0;
  name->ascii = true;
  if (!dflt) {
    long e = quoted<W>(r, s, n, i, name);
    if (e < 0) {
      if (!r->err)
        skipped(r, vline,
                e == BADESCAPE ? "expected no \\0 in the value name" : "expected '\"' to end the value name");
      return;
    }
    i = (size_t)e;
  }
  i = blanks<W>(s, n, i);
  if (i == n || at<W>(s, i) != '=')
    return skipped(r, vline, dflt ? "expected '=' after '@'" : "expected '=' after the value name");
  i = blanks<W>(s, n, i + 1);
  while (n > i && isblank(at<W>(s, n - 1)))
    n--;
  r->n = n;
  if (!r->haskey)
    return skipped(r, vline, "expected a [key] line before the first value");
  if (i < n && at<W>(s, i) == '-') {
    if (!rest<W>(s, n, i + 1))
      return skipped(r, vline, "expected end of line or a comment after '-'");
    if (r->key != MRNONE)
      mrdelvalue(r->key, name->p, name->n);
    return;
  }
  DWORD type;
  const buf *d;
  const char *why = data<W>(r, i, &type, &d);
  if (r->err)
    return;
  if (why)
    return skipped(r, vline, why);
  if (r->key != MRNONE)
    mrsetvalue(r->key, name->p, name->n, type, d->p, d->n,
               (name->ascii ? MRNAMEASCII : 0) | (d->ascii ? MRDATAASCII : 0));
}

// Opens (creating it and its parents) the key a path names, and makes it the
// one values go to. The names the path shares with the last one opened are
// not looked up again. ascii: the path is known to be all ASCII.
void openkey(rd *r, const char *s, size_t n, bool ascii) {
  r->key = MRNONE;
  buf *prev = &r->prev;
  size_t lim = n < prev->n ? n : prev->n;
  size_t common = 0;
  for (uint64_t a, b; common + 8 <= lim; common += 8) {
    memcpy(&a, s + common, 8);
    memcpy(&b, prev->p + common, 8);
    if (a != b)
      break;
  }
  while (common < lim && s[common] == prev->p[common])
    common++;
  size_t same = 0;  // names shared with the last path, its root first
  while (same < r->ncomp && r->comps[same].end <= common &&
         (r->comps[same].end == n || s[r->comps[same].end] == '\\'))
    same++;
  size_t k = same ? r->comps[0].end : nameend(s, n, 0);
  int root = same ? (int)r->comps[0].id : rootbyname(s, k);
  if (root < 0)
    return skipped(r, r->line, "expected a root key such as HKEY_LOCAL_MACHINE");
  if (k + 1 < n && s[k + 1] == '\\')
    return skipped(r, r->line, "expected a key name after the root key's backslash");
  if (r->compcap < n / 2 + 2) {
    size_t cap = n / 2 + 16;
    comp *c = (comp *)realloc(r->comps, cap * sizeof(comp));
    if (!c) {
      fail(r, r->line, "out of memory");
      return;
    }
    r->comps = c;
    r->compcap = cap;
  }
  if (same == 0) {
    r->comps[0] = {k, mrroot(root)};
    same = 1;
  }
  DWORD id = r->comps[same - 1].id;
  // Empty names, as a doubled or a trailing backslash makes, are passed over.
  for (size_t i = r->comps[same - 1].end; i + 1 < n;) {
    size_t e = nameend(s, n, i + 1);
    if (e > i + 1) {
      id = mrkey(id, s + i + 1, e - i - 1, ascii ? MRNAMEASCII : 0);
      r->comps[same++] = {e, id};
    }
    i = e;
  }
  r->ncomp = same;
  r->key = id;
  prev->n = 0;
  if (n == 0 || !reserve(r, prev, n))
    return;
  memcpy(prev->p, s, n);
  prev->n = n;
}

// Deletes the key a path names and everything below it, if it is there. A
// path that starts with an H but no root ends the import, as it ends
// regedit's; one that starts otherwise deletes nothing.
void delkey(rd *r, const char *s, size_t n) {
  r->key = MRNONE;
  r->ncomp = 0;
  if (n == 0 || (s[0] != 'H' && s[0] != 'h'))
    return;
  size_t k = nameend(s, n, 0);
  int root = rootbyname(s, k);
  if (root < 0) {
    r->halt = true;
    return skipped(
        r, r->line,
        "expected a root key such as HKEY_LOCAL_MACHINE after '[-' (nothing from here on is read)");
  }
  DWORD id = mrroot(root);
  for (size_t i = k; i + 1 < n && id != MRNONE;) {
    size_t e = nameend(s, n, i + 1);
    if (e > i + 1)
      id = mrfind(id, s + i + 1, e - i - 1);
    i = e;
  }
  if (id != MRNONE && id != (DWORD)root)
    mrdelkey(id);
}

// A key line, from i (after its '['). The name runs to the last ']' on the
// line; whatever follows that is passed over.
template <int W>
void keyline(rd *r, size_t i) {
  const unsigned char *s = r->s;
  size_t n = r->n;
  if (i < n && isblank(at<W>(s, i)))
    return skipped(r, r->line, "expected the key name right after '['");
  size_t end = n;
  while (end > i && at<W>(s, end - 1) != ']')
    end--;
  if (end == i)
    return skipped(r, r->line, "expected ']' to end the key name");
  end--;
  bool del = i < end && at<W>(s, i) == '-';
  r->haskey = true;
  buf *p = &r->path;
  p->n = 0;
  p->ascii = true;
  if (!decode<W>(r, s, i + del, end, p))
    return;
  if (del)
    delkey(r, p->p, p->n);
  else
    openkey(r, p->p, p->n, p->ascii);
}

template <int W>
void parseline(rd *r) {
  const unsigned char *s = r->s;
  size_t n = r->n;
  size_t i = blanks<W>(s, n, 0);
  if (i == n)
    return;
  switch (at<W>(s, i)) {
    case '[':
      return keyline<W>(r, i + 1);
    case '"':
      return value<W>(r, i + 1, false);
    case '@':
      return value<W>(r, i + 1, true);
    case ';':
    case '#':
      return;
    default:
      // Another export's header: concatenated exports merge.
      if (!header<W>(s, n, i))
        skipped(r, r->line, "expected a [key] line, a \"name\"= or @= value, or a comment");
  }
}

// An offline export has ControlSet001 and so on, and Select\Current naming
// the one in use, but no CurrentControlSet: link it as a live system has it.
void linkccs(void) {
  DWORD sys = mrfind(mrroot(MRHKLM), "SYSTEM", 6);
  if (sys == MRNONE || mrfind(sys, "CurrentControlSet", 17) != MRNONE)
    return;
  DWORD sel = mrfind(sys, "Select", 6);
  DWORD type;
  const char *d;
  size_t n;
  if (sel == MRNONE || mrgetvalue(sel, "Current", 7, &type, &d, &n) != 0 || n != 4)
    return;
  const unsigned char *u = (const unsigned char *)d;
  unsigned v = u[0] | u[1] << 8 | u[2] << 16 | (unsigned)u[3] << 24;
  char name[32];
  int len = snprintf(name, sizeof name, "ControlSet%03u", v);
  DWORD target = mrfind(sys, name, len);
  if (target != MRNONE)
    mrlink(sys, "CurrentControlSet", 17, target);
}

bool parse(rd *r) {
  // The header: the first line, blanks before it allowed. A stream with no
  // line at all (empty, or a byte-order mark alone) has none either.
  if (!nextline(r))
    return r->err ? false : fail(r, 1, NOHEADER);
  bool ok = r->enc == ENCUTF16 ? header<2>(r->s, r->n, blanks<2>(r->s, r->n, 0))
                               : header<1>(r->s, r->n, blanks<1>(r->s, r->n, 0));
  if (!ok || r->halt)
    return fail(r, 1, NOHEADER);
  int form = -1;
  while (!r->err && nextline(r)) {
    // Names and strings of an 8-bit export are in the machine's code page.
    if (form != (r->enc == ENC8 ? MRACP : MRUTF8)) {
      form = r->enc == ENC8 ? MRACP : MRUTF8;
      mrtextform(form);
    }
    if (r->enc == ENCUTF16)
      parseline<2>(r);
    else
      parseline<1>(r);
  }
  return !r->err;
}

int load(rd *r, unsigned long *line, char *msg, size_t msgsize) {
  r->enc = ENC8;
  r->key = MRNONE;
  bool ok = !r->err && parse(r);
  mrtextform(MRUTF8);
  if (ok)
    linkccs();
  free(r->in);
  free(r->comps);
  buf *bufs[] = {&r->name, &r->data, &r->text, &r->path, &r->prev};
  for (buf *b : bufs)
    free(b->p);
  if (ok)
    return 0;
  if (line)
    *line = r->errline;
  if (msg && msgsize)
    snprintf(msg, msgsize, "%s", r->err);
  return -1;
}

}  // namespace

int regloadfile(FILE *in, unsigned long *line, char *msg, size_t msgsize, regskipfn skip, void *ctx) {
  rd r = {};
  r.f = in;
  r.skip = skip;
  r.ctx = ctx;
  r.incap = 2 * CHUNK;
  r.in = (unsigned char *)malloc(r.incap);
  r.p = r.e = r.in;
  r.eof = !in;
  if (!r.in)
    fail(&r, 1, "out of memory");
  else if (!in)
    fail(&r, 1, "could not read the input");
  return load(&r, line, msg, msgsize);
}

int regloadmem(const void *data, size_t size, unsigned long *line, char *msg, size_t msgsize, regskipfn skip,
               void *ctx) {
  rd r = {};
  r.p = (const unsigned char *)data;
  r.e = r.p + size;
  r.eof = true;
  r.skip = skip;
  r.ctx = ctx;
  return load(&r, line, msg, msgsize);
}
