// Reads a registry export into the in-memory registry.
//
// The input is taken in chunks and decoded a chunk at a time into UTF-8 (or
// passed through, for 8-bit text), with every line end turned into '\n'. The
// parser pulls characters from that and keeps only what it is about to store:
// a key path, a value name, a value's data. So neither the size of an export
// nor the length of one of its lines costs more memory than the registry
// itself will hold.
//
// Exports are often concatenated (`cat a.reg b.reg`), so each line start may
// carry a byte-order mark again and switch the encoding; a header line with no
// mark in front of it starts an 8-bit file.
#include "regfile.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "memreg.h"

namespace {

enum { ENC8, ENCUTF8, ENCUTF16 };

const size_t RAWSIZE = 65536;
const size_t OUTSIZE = 65536;
// Bytes a line start looks at: a byte-order mark, or an 8-bit header line
// (with some blanks before it) after a UTF-16 export.
const size_t LOOKAHEAD = 96;

const char *const HEADER5 = "Windows Registry Editor Version 5.00";
const char *const HEADER4 = "REGEDIT4";

// A growable byte buffer, reused from line to line. A failed allocation
// marks it bad and drops the bytes; whoever stores it checks.
struct buf {
  char *p;
  size_t n, cap;
  bool bad;
};

bool grow(buf *b, size_t need) {
  size_t cap = b->cap ? b->cap : 256;
  while (cap < need) {
    if (cap > SIZE_MAX / 2) {
      b->bad = true;
      return false;
    }
    cap *= 2;
  }
  char *p = (char *)realloc(b->p, cap);
  if (!p) {
    b->bad = true;
    return false;
  }
  b->p = p;
  b->cap = cap;
  return true;
}

inline void put(buf *b, char c) {
  if (b->n == b->cap && !grow(b, b->n + 1))
    return;
  b->p[b->n++] = c;
}

inline void putn(buf *b, const char *s, size_t n) {
  if (n == 0 || (b->cap - b->n < n && !grow(b, b->n + n)))
    return;
  memcpy(b->p + b->n, s, n);
  b->n += n;
}

// One component of the last key path opened, kept so that the next path
// (usually a sibling or a child) finds its common prefix without lookups.
struct comp {
  size_t off, len;
  DWORD id;
};

struct rd {
  // Raw input: a file read in chunks, or memory taken as it is.
  FILE *f;
  bool nofile;
  unsigned char *raw;
  const unsigned char *rp, *re;
  bool rawend;
  // Decoding.
  int mode;          // encoding from the current raw position on
  int bmode;         // encoding of the text in out
  bool atstart;      // the raw position is at a line start
  bool cr;           // the last line ended with CR: a LF right after belongs to it
  const char *derr;  // decoding error, reported once the text before it is parsed
  char *out;
  const char *p, *e;
  // Parsing.
  unsigned long line;
  const char *err;
  unsigned long errline;
  char errbuf[96];
  bool haskey;  // a key line was seen since the header
  DWORD key;    // where values go; MRNONE after a deleted key
  buf path, name, data;
  int croot;
  size_t ncomp;
  buf ctext, comps;
};

inline bool hexdigit(int c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

inline unsigned hexval(int c) {
  return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// Decoding.

void fill(rd *r) {
  if (!r->f || r->rawend)
    return;
  size_t left = r->re - r->rp;
  memmove(r->raw, r->rp, left);
  size_t want = RAWSIZE - left;
  size_t got = fread(r->raw + left, 1, want, r->f);
  if (got < want) {
    if (ferror(r->f))
      r->derr = "could not read the input";
    r->rawend = true;
  }
  r->rp = r->raw;
  r->re = r->raw + left + got;
}

// Whether s starts (after blanks) with a header line written in 8 bits.
bool rawheader(const unsigned char *s, const unsigned char *se) {
  while (s < se && (*s == ' ' || *s == '\t'))
    s++;
  const char *h = s < se && *s == 'W' ? HEADER5 : HEADER4;
  size_t n = strlen(h);
  return (size_t)(se - s) >= n && memcmp(s, h, n) == 0;
}

// At a line start: finishes a CR LF, then looks for a byte-order mark or an
// 8-bit header line, either of which sets the encoding from here on.
void linestart(rd *r) {
  if ((size_t)(r->re - r->rp) < LOOKAHEAD)
    fill(r);
  const unsigned char *s = r->rp, *se = r->re;
  if (r->cr) {
    if (r->mode == ENCUTF16) {
      if (se - s >= 2 && s[0] == '\n' && s[1] == 0)
        s += 2;
    } else if (s < se && *s == '\n') {
      s++;
    }
    r->cr = false;
  }
  if (se - s >= 2 && s[0] == 0xff && s[1] == 0xfe) {
    s += 2;
    r->mode = ENCUTF16;
  } else if (se - s >= 3 && s[0] == 0xef && s[1] == 0xbb && s[2] == 0xbf) {
    s += 3;
    r->mode = ENCUTF8;
  } else if (r->mode != ENC8 && rawheader(s, se)) {
    r->mode = ENC8;
  }
  r->rp = s;
  r->atstart = false;
}

// Copies 8-bit (or UTF-8) text up to the end of the line, of the raw bytes at
// hand or of the room in out.
char *dec8(rd *r, char *o, char *oe) {
  const unsigned char *s = r->rp;
  size_t n = r->re - s;
  if (n > (size_t)(oe - o))
    n = oe - o;
  const unsigned char *lim = s + n;
  while (s < lim) {
    unsigned char c = *s++;
    if (c == '\r' || c == '\n') {
      *o++ = '\n';
      r->cr = c == '\r';
      r->atstart = true;
      break;
    }
    *o++ = (char)c;
  }
  r->rp = s;
  return o;
}

inline char *put8(char *o, uint32_t c) {
  if (c < 0x80) {
    *o++ = (char)c;
  } else if (c < 0x800) {
    *o++ = (char)(0xc0 | c >> 6);
    *o++ = (char)(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    *o++ = (char)(0xe0 | c >> 12);
    *o++ = (char)(0x80 | ((c >> 6) & 0x3f));
    *o++ = (char)(0x80 | (c & 0x3f));
  } else {
    *o++ = (char)(0xf0 | c >> 18);
    *o++ = (char)(0x80 | ((c >> 12) & 0x3f));
    *o++ = (char)(0x80 | ((c >> 6) & 0x3f));
    *o++ = (char)(0x80 | (c & 0x3f));
  }
  return o;
}

// Converts UTF-16LE text to UTF-8 up to the end of the line. Stops early,
// leaving the rest, when a surrogate pair straddles the raw bytes at hand.
char *dec16(rd *r, char *o, char *oe) {
  const unsigned char *s = r->rp, *se = r->re;
  while (se - s >= 2 && oe - o >= 4) {
    // Most of an export is plain ASCII: take four characters at once while
    // none of them is a line end or beyond ASCII.
    if (std::endian::native == std::endian::little && se - s >= 8) {
      uint64_t w;
      memcpy(&w, s, 8);
      const uint64_t ones = 0x0001000100010001ull, tops = 0x8000800080008000ull;
      uint64_t cr = w ^ 0x000d000d000d000dull, lf = w ^ 0x000a000a000a000aull;
      if ((w & 0xff80ff80ff80ff80ull) == 0 && ((cr - ones) & ~cr & tops) == 0 &&
          ((lf - ones) & ~lf & tops) == 0) {
        o[0] = (char)w;
        o[1] = (char)(w >> 16);
        o[2] = (char)(w >> 32);
        o[3] = (char)(w >> 48);
        o += 4;
        s += 8;
        continue;
      }
    }
    uint32_t c = s[0] | (uint32_t)s[1] << 8;
    if (c < 0x80) {
      s += 2;
      if (c == '\r' || c == '\n') {
        *o++ = '\n';
        r->cr = c == '\r';
        r->atstart = true;
        break;
      }
      *o++ = (char)c;
      continue;
    }
    if (c - 0xd800 < 0x800) {
      if (c >= 0xdc00) {
        r->derr = "expected valid UTF-16 text, found an unpaired low surrogate";
        break;
      }
      if (se - s < 4) {
        if (r->rawend)
          r->derr = "expected valid UTF-16 text, found an unpaired high surrogate";
        break;
      }
      uint32_t d = s[2] | (uint32_t)s[3] << 8;
      if (d - 0xdc00 >= 0x400) {
        r->derr = "expected valid UTF-16 text, found an unpaired high surrogate";
        break;
      }
      c = 0x10000 + ((c - 0xd800) << 10) + (d - 0xdc00);
      s += 2;
    }
    s += 2;
    o = put8(o, c);
  }
  r->rp = s;
  return o;
}

// Decodes the next piece of text into out. False at the end of the input, or
// at a decoding error (r->derr), once all text before it has been handed out.
// A piece never spans a change of encoding, so bmode tells the encoding of
// every character in it.
bool more(rd *r) {
  char *o = r->out, *oe = r->out + OUTSIZE;
  r->bmode = r->mode;
  while (!r->derr) {
    if (r->atstart) {
      linestart(r);
      if (r->mode != r->bmode) {
        if (o > r->out)
          break;
        r->bmode = r->mode;
      }
      continue;
    }
    if (oe - o < 4)
      break;
    size_t avail = r->re - r->rp;
    if (avail < 4 && !r->rawend) {
      fill(r);
      continue;
    }
    if (avail == 0)
      break;
    if (r->mode != ENCUTF16) {
      o = dec8(r, o, oe);
    } else if (avail < 2) {
      r->rp = r->re;
      r->derr = "expected UTF-16 text to end on a whole character, found an odd byte";
    } else {
      o = dec16(r, o, oe);
    }
  }
  r->p = r->out;
  r->e = o;
  return o > r->out;
}

// Parsing. Every function leaves the '\n' that ends its line for the main
// loop, except where a hex list continues on the next line.

inline int peek(rd *r) {
  if (r->p == r->e && !more(r))
    return -1;
  return (unsigned char)*r->p;
}

inline int blanks(rd *r) {
  for (;;) {
    int c = peek(r);
    if (c != ' ' && c != '\t')
      return c;
    r->p++;
  }
}

// Moves to the end of the line (onto its '\n', or the end of the input).
void toeol(rd *r) {
  for (;;) {
    const char *s = (const char *)memchr(r->p, '\n', r->e - r->p);
    if (s) {
      r->p = s;
      return;
    }
    r->p = r->e;
    if (peek(r) < 0)
      return;
  }
}

bool failat(rd *r, unsigned long line, const char *msg) {
  if (r->err)
    return false;
  // Text cut short by bad UTF-16 shows up as a syntax error; name the cause.
  if (r->derr) {
    msg = r->derr;
    line = r->line;
  }
  r->err = msg;
  r->errline = line;
  return false;
}

bool fail(rd *r, const char *msg) {
  return failat(r, r->line, msg);
}

// Accepts the end of a line, blanks and a ';' comment included.
bool endline(rd *r, const char *msg) {
  int c = blanks(r);
  if (c == ';')
    toeol(r);
  else if (c >= 0 && c != '\n')
    return fail(r, msg);
  return true;
}

bool literal(rd *r, const char *s) {
  for (; *s; s++) {
    if (peek(r) != (unsigned char)*s)
      return false;
    r->p++;
  }
  return true;
}

bool header(rd *r) {
  int c = peek(r);
  if (!(c == 'W' && literal(r, HEADER5)) && !(c == 'R' && literal(r, HEADER4)))
    return false;
  c = blanks(r);
  return c < 0 || c == '\n';
}

// A quoted name or string, with its escapes, into b.
bool quoted(rd *r, buf *b, const char *unterminated) {
  r->p++;
  b->n = 0;
  for (;;) {
    const char *s = r->p, *e = r->e;
    while (s < e && *s != '"' && *s != '\\' && *s != '\n')
      s++;
    putn(b, r->p, s - r->p);
    r->p = s;
    int c = peek(r);
    if (c == '"') {
      r->p++;
      return true;
    }
    if (c < 0 || c == '\n')
      return fail(r, unterminated);
    if (c != '\\')
      continue;
    r->p++;
    c = peek(r);
    if (c < 0 || c == '\n')
      return fail(r, unterminated);
    switch (c) {
      case '\\':
      case '"':
        put(b, (char)c);
        break;
      case 'n':
        put(b, '\n');
        break;
      case 'r':
        put(b, '\r');
        break;
      default:
        return fail(r, "expected \\\\, \\\", \\n or \\r after a backslash");
    }
    r->p++;
  }
}

// Opens (creating it and its parents) or deletes the key a path names. The
// path is the root's name, then components separated by backslashes; empty
// components, as a trailing backslash makes, are skipped.
bool openkey(rd *r, const char *s, size_t n, bool del) {
  size_t k = nameend(s, n, 0);
  int root = rootbyname(s, k);
  if (root < 0)
    return fail(r, "expected a root key such as HKEY_LOCAL_MACHINE after '['");
  s += k;
  n -= k;
  DWORD id = mrroot(root);
  r->haskey = true;
  if (del) {
    // Deleting a missing key is no error. Roots stay.
    for (size_t i = 0; i < n && id != MRNONE;) {
      while (i < n && s[i] == '\\')
        i++;
      size_t j = nameend(s, n, i);
      if (j > i)
        id = mrfind(id, s + i, j - i);
      i = j;
    }
    if (id != MRNONE)
      mrdelkey(id);
    r->croot = -1;
    r->ncomp = 0;
    r->key = MRNONE;
    return true;
  }
  bool same = r->croot == root;
  size_t c = 0;
  for (size_t i = 0; i < n;) {
    while (i < n && s[i] == '\\')
      i++;
    size_t j = nameend(s, n, i);
    if (j == i)
      break;
    if ((c + 1) * sizeof(comp) > r->comps.cap && !grow(&r->comps, (c + 1) * sizeof(comp)))
      return fail(r, "out of memory");
    comp *cp = (comp *)r->comps.p + c;
    if (same && c < r->ncomp && samefold(r->ctext.p + cp->off, cp->len, s + i, j - i)) {
      id = cp->id;
    } else {
      same = false;
      id = mrkey(id, s + i, j - i);
    }
    cp->off = i;
    cp->len = j - i;
    cp->id = id;
    c++;
    i = j;
  }
  r->ctext.n = 0;
  putn(&r->ctext, s, n);
  r->croot = r->ctext.bad ? -1 : root;
  r->ncomp = c;
  r->key = id;
  return true;
}

// Names and strings of an 8-bit export are in the machine's code page.
void textform(rd *r) {
  mrtextform(r->bmode == ENC8 ? MRACP : MRUTF8);
}

bool keyline(rd *r) {
  textform(r);
  r->p++;
  bool del = peek(r) == '-';
  if (del)
    r->p++;
  buf *b = &r->path;
  b->n = 0;
  for (;;) {
    const char *s = (const char *)memchr(r->p, '\n', r->e - r->p);
    const char *e = s ? s : r->e;
    putn(b, r->p, e - r->p);
    r->p = e;
    if (s || peek(r) < 0)
      break;
  }
  if (b->bad)
    return fail(r, "out of memory");
  // Key names may hold ']' themselves: the name ends at the ']' that only
  // blanks or a comment follow.
  size_t end = 0;
  bool found = false;
  for (size_t i = 0; i < b->n && !found; i++) {
    if (b->p[i] != ']')
      continue;
    size_t j = i + 1;
    while (j < b->n && (b->p[j] == ' ' || b->p[j] == '\t'))
      j++;
    if (j == b->n || b->p[j] == ';') {
      end = i;
      found = true;
    }
  }
  if (!found)
    return fail(r, "expected ']' at the end of the key line");
  return openkey(r, b->p, end, del);
}

// "hex:" data: bytes of one or two hex digits, separated by commas, running
// on over lines that end in ",\".
bool hexlist(rd *r) {
  buf *d = &r->data;
  d->n = 0;
  bool cont = false;
  int c = blanks(r);
  for (;;) {
    // Bytes as regedit writes them, two digits and a comma with another
    // byte after it, need none of the checks below.
    while (c >= 0 && r->e - r->p >= 4 && hexdigit(r->p[0]) && hexdigit(r->p[1]) && r->p[2] == ',' &&
           hexdigit(r->p[3])) {
      put(d, (char)(hexval(r->p[0]) << 4 | hexval(r->p[1])));
      r->p += 3;
      c = (unsigned char)*r->p;
      cont = false;
    }
    if (c == '\\') {
      r->p++;
      if (!endline(r, "expected end of line after '\\'"))
        return false;
      if (peek(r) < 0)
        return fail(r, "expected a continuation line after '\\'");
      r->p++;
      r->line++;
      c = blanks(r);
      if (c < 0)
        return failat(r, r->line - 1, "expected a continuation line after '\\'");
      cont = true;
    } else if (!cont && (c < 0 || c == '\n' || c == ';')) {
      break;  // empty, or a trailing comma
    }
    if (!hexdigit(c))
      return fail(r, cont ? "expected a hex byte on the continuation line" : "expected a hex byte");
    unsigned v = hexval(c);
    r->p++;
    c = peek(r);
    if (hexdigit(c)) {
      v = v << 4 | hexval(c);
      r->p++;
      if (hexdigit(peek(r)))
        return fail(r, "expected a hex byte of at most two digits (00 to ff)");
    }
    put(d, (char)v);
    c = blanks(r);
    if (c < 0 || c == '\n' || c == ';')
      break;
    if (c != ',')
      return fail(r, "expected ',' or end of line after hex byte");
    r->p++;
    c = blanks(r);
    cont = false;
  }
  return endline(r, "expected end of line after hex data");
}

bool value(rd *r, int first) {
  unsigned long vline = r->line;
  textform(r);
  if (!r->haskey)
    return fail(r, "expected a [key] line before the first value");
  buf *name = &r->name;
  if (first == '@') {
    r->p++;
    name->n = 0;
  } else if (!quoted(r, name, "expected '\"' to end the value name")) {
    return false;
  }
  if (blanks(r) != '=')
    return fail(r, first == '@' ? "expected '=' after '@'" : "expected '=' after the value name");
  r->p++;
  int c = blanks(r);
  buf *d = &r->data;
  DWORD type;
  bool wide = false;
  if (c == '-') {
    r->p++;
    if (!endline(r, "expected end of line after '-'"))
      return false;
    if (r->key != MRNONE)
      mrdelvalue(r->key, name->p, name->n);
    return true;
  }
  if (c == '"') {
    if (!quoted(r, d, "expected '\"' to end the string"))
      return false;
    put(d, 0);  // the terminating zero is stored and counted
    if (!endline(r, "expected end of line after the string"))
      return false;
    type = REG_SZ;
  } else {
    char tag[8];
    size_t n = 0;
    while (n < sizeof tag && ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')) {
      tag[n++] = (char)c;
      r->p++;
      c = peek(r);
    }
    if (samefold(tag, n, "DWORD", 5) && c == ':') {
      r->p++;
      c = blanks(r);
      uint32_t v = 0;
      int digits = 0;
      while (hexdigit(c)) {
        if (++digits > 8)
          return fail(r, "expected at most 8 hex digits after 'dword:'");
        v = v << 4 | hexval(c);
        r->p++;
        c = peek(r);
      }
      if (digits == 0)
        return fail(r, "expected 1 to 8 hex digits after 'dword:'");
      if (!endline(r, "expected end of line after the dword"))
        return false;
      d->n = 0;
      for (int i = 0; i < 4; i++)
        put(d, (char)(v >> (8 * i)));
      type = REG_DWORD;
    } else if (samefold(tag, n, "HEX", 3) && (c == ':' || c == '(')) {
      type = REG_BINARY;
      if (c == '(') {
        r->p++;
        uint64_t t = 0;
        int digits = 0;
        for (c = peek(r); hexdigit(c); c = peek(r)) {
          t = t << 4 | hexval(c);
          if (++digits > 8 || t > 0xffffffffu)
            return fail(r, "expected a type of at most ffffffff in hex(type):");
          r->p++;
        }
        if (digits == 0 || c != ')')
          return fail(r, "expected hex(type): with the type in hex");
        r->p++;
        if (peek(r) != ':')
          return fail(r, "expected ':' after hex(type)");
        type = (DWORD)t;
      }
      int mode = r->bmode;  // still this line's: the ':' is not taken yet
      r->p++;
      if (!hexlist(r))
        return false;
      // Text types hold UTF-16LE in a Unicode export, as regedit reads them,
      // and are stored so. A UTF-8 export (with its mark) is one that was
      // re-saved from a Unicode one, so its hex text is UTF-16LE too; in an
      // 8-bit export the bytes are the text as it is.
      if (mode != ENC8 && (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
        if (d->n % 2) {
          snprintf(r->errbuf, sizeof r->errbuf,
                   "expected an even number of bytes of UTF-16 text in hex(%x):", (unsigned)type);
          return failat(r, vline, r->errbuf);
        }
        wide = true;
      }
    } else {
      return fail(r, "expected \"string\", dword:, hex: or hex(type): after '='");
    }
  }
  if (d->bad || name->bad)
    return fail(r, "out of memory");
  if (r->key != MRNONE)
    (wide ? mrsetvaluew : mrsetvalue)(r->key, name->p, name->n, type, d->p, d->n);
  return true;
}

bool parse(rd *r) {
  bool seen = false;  // a header line
  for (;;) {
    int c = blanks(r);
    if (c < 0)
      break;
    if (c == '\n') {
      r->p++;
      r->line++;
      continue;
    }
    bool ok;
    if (!seen) {
      ok = header(r);
      if (!ok)
        fail(r, "expected 'Windows Registry Editor Version 5.00' or 'REGEDIT4'");
      seen = true;
      r->haskey = false;
    } else if (c == ';' || c == '#') {
      toeol(r);
      ok = true;
    } else if (c == '[') {
      ok = keyline(r);
    } else if (c == '"' || c == '@') {
      ok = value(r, c);
    } else {
      // Another export's header: concatenated exports merge.
      ok = header(r);
      if (!ok)
        fail(r, "expected a [key] line, a \"name\"= or @= value, or a comment");
      r->haskey = false;
    }
    if (!ok)
      return false;
  }
  if (r->derr)
    return fail(r, r->derr);
  return true;
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

int load(rd *r, unsigned long *line, char *msg, size_t msgsize) {
  r->mode = ENC8;
  r->atstart = true;
  r->line = 1;
  r->key = MRNONE;
  r->croot = -1;
  r->out = (char *)malloc(OUTSIZE);
  bool ok;
  if (!r->out || (r->f && !r->raw)) {
    ok = fail(r, "out of memory");
  } else if (r->nofile) {
    ok = fail(r, "could not read the input");
  } else {
    r->p = r->e = r->out;
    ok = parse(r);
  }
  if (ok)
    linkccs();
  mrtextform(MRUTF8);
  free(r->out);
  free(r->raw);
  buf *bufs[] = {&r->path, &r->name, &r->data, &r->ctext, &r->comps};
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

int regloadfile(FILE *in, unsigned long *line, char *msg, size_t msgsize) {
  rd r = {};
  r.f = in;
  r.nofile = !in;
  r.rawend = !in;
  r.raw = (unsigned char *)malloc(RAWSIZE);
  r.rp = r.re = r.raw;
  return load(&r, line, msg, msgsize);
}

int regloadmem(const void *data, size_t size, unsigned long *line, char *msg, size_t msgsize) {
  rd r = {};
  r.rp = (const unsigned char *)data;
  r.re = r.rp + size;
  r.rawend = true;
  return load(&r, line, msg, msgsize);
}
