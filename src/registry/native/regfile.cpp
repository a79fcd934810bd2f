// Reads a registry export by regedit's rules: lines it would skip are skipped
// and reported; only input that is no export at all fails. Each line is
// decoded to UTF-16 first: UTF-16LE or UTF-8 after its byte-order mark, other
// text in the export's code page. A byte-order mark or an 8-bit header line at
// a line start begins another export (`cat a.reg b.reg`).
#include "regfile.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "codepage.h"
#include "memreg.h"
#include "regtext.h"

namespace {

enum { ENC8, ENCUTF8, ENCUTF16 };

// UTF-16LE text is read as char16_t as it lies.
static_assert(std::endian::native == std::endian::little);

using u16view = std::u16string_view;

const size_t CHUNK = 65536;
// Bytes a line start looks at for a byte-order mark or an 8-bit header line.
const size_t LOOKAHEAD = 96;

const char HEADER5[] = "Windows Registry Editor Version 5.00";
const char HEADER4[] = "REGEDIT4";
const char NOHEADER[] = "expected 'Windows Registry Editor Version 5.00' or 'REGEDIT4'";
const char BADHEX[] = "expected hex bytes (00 to ff) separated by commas";

// The input's bytes, as far as they are read.
struct input {
  FILE *f = nullptr;                    // the file, or null when all the input is in memory
  std::vector<unsigned char> buf{};     // a file's bytes in memory
  const unsigned char *base = nullptr;  // the bytes in memory (buf's, or the caller's)
  size_t pos = 0;                       // the next byte to read
  size_t len = 0;                       // the end of the bytes in memory
  bool eof = true;                      // nothing more comes from f
  bool again = false;                   // all the input is in memory, to be read again
};

// The line decoder: the current line, cut from the input and decoded to UTF-16.
struct decoder {
  int enc = ENC8;             // the encoding from the input's pos on
  const cpage *cp = nullptr;  // the code page 8-bit text is decoded with
  bool used8 = false;         // some 8-bit text was decoded with cp
  bool cr = false;            // the last line ended with CR: a LF right after belongs to it
  bool ended = true;          // the last line had its line end
  bool halt = false;          // nothing more is read (after a NUL, or what ends regedit's import)
  unsigned long line = 0;     // the current line's number
  u16view text{};             // the current line, without its line end, until the next
  std::u16string decoded{};   // text, unless it is UTF-16 read where it lies in the input
};

// What the parser keeps from line to line.
struct parser {
  bool haskey = false;    // this export has had a key line
  DWORD key = MRNONE;     // where values go; MRNONE when nowhere
  std::u16string name{};  // the value name being read
  std::u16string wide{};  // a string's text, or 8-bit data decoded
  std::string data{};     // the value's data, as it is stored
};

// What the load reports: the lines skipped, or why the input is no export.
struct report {
  std::vector<std::pair<unsigned long, const char *>> skips{};  // each line skipped and why, for the end
  const char *err = nullptr;  // why the input is no export or cannot be read
  unsigned long errline = 0;  // where
};

struct reader {
  input in{};
  decoder dec{};
  parser p{};
  report rep{};
};

bool fail(reader &r, unsigned long line, const char *msg) {
  if (!r.rep.err) {
    r.rep.err = msg;
    r.rep.errline = line;
  }
  return false;
}

void skipped(reader &r, unsigned long line, const char *what) {
  r.rep.skips.emplace_back(line, what);
}

// Reads more of the file behind what is not read yet. False when none came.
bool more(reader &r) {
  if (r.in.eof)
    return false;
  if (r.in.pos > 0) {
    memmove(r.in.buf.data(), r.in.buf.data() + r.in.pos, r.in.len - r.in.pos);
    r.in.len -= r.in.pos;
    r.in.pos = 0;
  }
  if (r.in.buf.size() < r.in.len + CHUNK)
    r.in.buf.resize(std::max(r.in.len + CHUNK, 2 * r.in.buf.size()));
  size_t want = r.in.buf.size() - r.in.len;
  size_t got = fread(r.in.buf.data() + r.in.len, 1, want, r.in.f);
  if (got < want) {
    r.in.eof = true;
    if (ferror(r.in.f))
      fail(r, r.dec.line + 1, "could not read the input");
  }
  r.in.len += got;
  r.in.base = r.in.buf.data();
  return got > 0;
}

// The length of the byte-order mark at s, setting *enc; 0 when there is none.
size_t mark(const unsigned char *s, size_t n, int *enc) {
  if (n >= 2 && s[0] == 0xff && s[1] == 0xfe) {
    *enc = ENCUTF16;
    return 2;
  }
  if (n >= 3 && memcmp(s, "\xef\xbb\xbf", 3) == 0) {
    *enc = ENCUTF8;
    return 3;
  }
  return 0;
}

// Whether s starts (after blanks) with a header line written in 8 bits.
bool rawheader(const unsigned char *s, size_t n) {
  size_t i = 0;
  while (i < n && (s[i] == ' ' || s[i] == '\t'))
    i++;
  const char *h = i < n && s[i] == 'W' ? HEADER5 : HEADER4;
  size_t k = strlen(h);
  return n - i >= k && memcmp(s + i, h, k) == 0;
}

// Finishes a CR LF; a byte-order mark or an 8-bit header line here starts
// another export, whatever the encoding before it.
void linestart(reader &r) {
  while (r.in.len - r.in.pos < LOOKAHEAD && more(r)) {
  }
  size_t w = r.dec.enc == ENCUTF16 ? 2 : 1;
  const unsigned char *s = r.in.base + r.in.pos;
  if (r.dec.cr && r.in.len - r.in.pos >= w && s[0] == '\n' && (w == 1 || s[1] == 0)) {
    r.in.pos += w;
    s += w;
  }
  r.dec.cr = false;
  size_t n = r.in.len - r.in.pos;
  // A mark or an 8-bit header line has a second byte that is not zero; a
  // line of UTF-16 that starts with ASCII has a zero one.
  if (n >= 2 && s[1] == 0)
    return;
  int enc = ENC8;
  size_t k = mark(s, n, &enc);
  if (k == 0 && !rawheader(s, n))
    return;
  r.in.pos += k;
  r.dec.enc = enc;
  r.p.haskey = false;
  r.p.key = MRNONE;
  // Without a second pass, in the code page named so far.
  if (enc == ENC8 && !r.in.again)
    r.dec.cp = cpfor(mracp());
}

// Where the line stops from byte from on: at a CR, LF or NUL, or at the end.
size_t linestop(const reader &r, size_t from) {
  const unsigned char *s = r.in.base;
  if (r.dec.enc != ENCUTF16) {
    while (from < r.in.len && (s[from] > '\r' || (s[from] != '\r' && s[from] != '\n' && s[from] != 0)))
      from++;
    return from;
  }
  for (char16_t c; from + 1 < r.in.len; from += 2) {
    memcpy(&c, s + from, 2);
    if (c <= '\r' && (c == '\r' || c == '\n' || c == 0))
      break;
  }
  return from;
}

// Reads the next line into r.dec.text, decoded. False at the end of the input.
bool nextline(reader &r) {
  if (r.dec.halt)
    return false;
  linestart(r);
  size_t w = r.dec.enc == ENCUTF16 ? 2 : 1;
  size_t n = 0;  // bytes of the line so far
  while ((n = linestop(r, r.in.pos + n) - r.in.pos) + w > r.in.len - r.in.pos && more(r)) {
  }
  bool end = n + w <= r.in.len - r.in.pos;  // the line has its line end (or a NUL)
  if (!end && n == 0) {
    // A truncated UTF-16 file leaves an odd byte after its last character.
    if (r.in.pos < r.in.len)
      skipped(r, r.dec.ended ? r.dec.line + 1 : r.dec.line,
              "expected two bytes to each UTF-16 character (the odd last byte is not read)");
    r.in.pos = r.in.len;
    return false;
  }
  const unsigned char *s = r.in.base + r.in.pos;
  unsigned stop = end ? s[n] : '\n';
  // An aligned UTF-16 line is read where it lies; any other is decoded first.
  bool inplace = r.dec.enc == ENCUTF16 && (uintptr_t)s % 2 == 0;
  if (r.dec.enc == ENCUTF16 && !inplace) {
    r.dec.decoded.resize(n / 2);
    memcpy(r.dec.decoded.data(), s, n);
  } else if (r.dec.enc == ENCUTF8) {
    r.dec.decoded = utf8to16(std::string_view((const char *)s, n));
  } else if (r.dec.enc == ENC8) {
    r.dec.decoded.resize(n);
    r.dec.decoded.resize(cptowide(r.dec.cp, s, n, r.dec.decoded.data()));
    r.dec.used8 = true;
  }
  r.dec.text = inplace ? u16view((const char16_t *)s, n / 2) : u16view(r.dec.decoded);
  r.in.pos += end ? n + w : n;
  r.dec.line++;
  r.dec.cr = stop == '\r';
  r.dec.ended = end;
  // A NUL ends the text, as it ends regedit's import: the line holding it
  // is incomplete, and nothing after it is read.
  if (stop == 0) {
    r.dec.halt = true;
    if (r.dec.line > 1)
      skipped(r, r.dec.line, "expected no NUL character (nothing from here on is read)");
    return r.dec.line == 1;
  }
  return true;
}

bool isblank16(char16_t c) {
  return c == ' ' || c == '\t';
}

bool ishex(char16_t c) {
  return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

unsigned hexval(char16_t c) {
  return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

size_t blanks(u16view s, size_t i) {
  while (i < s.size() && isblank16(s[i]))
    i++;
  return i;
}

// Whether the line holds from i on nothing but blanks and perhaps a comment.
bool rest(u16view s, size_t i) {
  i = blanks(s, i);
  return i == s.size() || s[i] == ';';
}

// Whether s holds the ASCII text t at i.
bool tag(u16view s, size_t i, std::string_view t) {
  return s.size() - i >= t.size() && std::equal(t.begin(), t.end(), s.begin() + i);
}

bool header(u16view s, size_t i) {
  std::string_view h = i < s.size() && s[i] == 'W' ? HEADER5 : HEADER4;
  return s.size() - i == h.size() && tag(s, i, h);
}

const long UNTERMINATED = -1, BADESCAPE = -2;

// A quoted name or string from i (after its quote) into out, unescaped (a
// backslash before another character than n, r or 0 stands for it). Returns
// the index after the closing quote, UNTERMINATED or BADESCAPE.
long quoted(u16view s, size_t i, std::u16string &out) {
  out.clear();
  for (;;) {
    size_t k = i;
    while (k < s.size() && s[k] != '"' && s[k] != '\\')
      k++;
    out.append(s.substr(i, k - i));
    if (k == s.size())
      return UNTERMINATED;
    if (s[k] == '"')
      return (long)k + 1;
    if (++k == s.size())
      return UNTERMINATED;
    char16_t c = s[k];
    if (c == '0')
      return BADESCAPE;
    if (c == 'n')
      c = u'\n';
    else if (c == 'r')
      c = u'\r';
    out += c;
    i = k + 1;
  }
}

// A number in hex from i, as regedit reads one: blanks, a sign, a 0x, any
// number of digits. Returns the index after it, or i when there is none;
// *over tells a value it refuses (beyond 32 bits, or negative).
size_t number(u16view s, size_t i, uint32_t *v, bool *over) {
  size_t n = s.size(), k = i;
  while (k < n && (isblank16(s[k]) || s[k] == '\v' || s[k] == '\f'))
    k++;
  bool neg = false;
  if (k < n && (s[k] == '-' || s[k] == '+'))
    neg = s[k++] == '-';
  if (k + 2 < n && s[k] == '0' && (s[k + 1] | 0x20) == 'x' && ishex(s[k + 2]))
    k += 2;
  uint64_t x = 0;
  size_t d = k;
  for (; d < n && ishex(s[d]); d++)
    if ((x = x << 4 | hexval(s[d])) > 0xffffffffu)
      x = 0x100000000ull;
  // regedit takes no negative number but -0.
  *over = x > 0xffffffffu || (neg && x != 0);
  *v = *over ? 0xffffffffu : (uint32_t)x;
  return d == k ? i : d;
}

// Hex bytes separated by commas, from i, into d. Returns what was expected.
// After a comma the list may end in a comment, or in a backslash that
// continues it on the next line (setting *more).
const char *hexbytes(u16view s, size_t i, std::string &d, bool *more) {
  *more = false;
  while (i < s.size()) {
    // Mostly two digits and a comma, as exports write them: read as number would.
    if (i + 2 < s.size() && ishex(s[i]) && ishex(s[i + 1]) && s[i + 2] == ',') {
      d += (char)(hexval(s[i]) << 4 | hexval(s[i + 1]));
      i += 3;
      continue;
    }
    uint32_t v;
    bool over;
    size_t e = number(s, i, &v, &over);
    if (e == i)
      break;
    if (over || v > 0xff)
      return BADHEX;
    d += (char)v;
    if (e < s.size() && s[e] != ',')
      return rest(s, e) ? nullptr : BADHEX;
    i = e + 1;
  }
  if (i >= s.size())
    return nullptr;
  i = blanks(s, i);
  *more = i < s.size() && s[i] == '\\';
  if (*more)
    return rest(s, i + 1) ? nullptr : "expected end of line or a comment after '\\'";
  return i < s.size() && s[i] == ';' ? nullptr : BADHEX;
}

// A value's hex data from i on its line s, and on the lines after while a line
// ends in a backslash (blank and comment lines pass). Returns what was expected.
const char *hexdata(reader &r, u16view s, size_t i) {
  bool more;
  const char *why = hexbytes(s, i, r.p.data, &more);
  int enc = r.dec.enc;
  while (more && !why && !r.rep.err) {
    if (!nextline(r))
      return nullptr;  // a backslash at the end of the input ends the data
    if (r.dec.enc != enc)
      return "expected hex bytes in the same encoding on the line after '\\'";
    u16view t = r.dec.text;
    size_t k = blanks(t, 0);
    if (k == t.size() || t[k] == ';')
      continue;
    if (!ishex(t[k]))
      return "expected hex bytes on the line after '\\'";
    why = hexbytes(t, k, r.p.data, &more);
  }
  return why;
}

// "dword:" data from i: one to eight hex digits.
const char *dword(reader &r, u16view s, size_t i) {
  i = blanks(s, i);
  size_t k = i;
  uint32_t v = 0;
  for (; k < s.size() && ishex(s[k]); k++)
    v = v << 4 | hexval(s[k]);
  if (i == s.size() || k - i > 8 || (k == i && !rest(s, k)))
    return "expected 1 to 8 hex digits after 'dword:'";
  if (!rest(s, k))
    return "expected end of line or a comment after the dword";
  r.p.data.append((const char *)&v, 4);
  return nullptr;
}

// A value's data from i on its line s into r.p.data, as it is stored, and its type.
const char *data(reader &r, u16view s, size_t i, DWORD *type) {
  int enc = r.dec.enc;  // this line's, before continuation lines are read
  r.p.data.clear();
  if (i < s.size() && s[i] == '"') {
    *type = REG_SZ;
    long e = quoted(s, i + 1, r.p.wide);
    if (e == BADESCAPE)
      return "expected no \\0 in the string";
    if (e == UNTERMINATED)
      return "expected '\"' to end the string";
    if (!rest(s, (size_t)e))
      return "expected end of line or a comment after the string";
    r.p.wide += u'\0';
    r.p.data.assign((const char *)r.p.wide.data(), 2 * r.p.wide.size());
    return nullptr;
  }
  if (tag(s, i, "dword:")) {
    *type = REG_DWORD;
    return dword(r, s, i + 6);
  }
  size_t k = i + 4;
  if (tag(s, i, "hex:")) {
    *type = REG_BINARY;
  } else if (tag(s, i, "hex(")) {
    // The type in hex, at most ffffffff; regedit takes no 0x right after the '('.
    uint32_t v;
    bool over;
    bool x = k + 1 < s.size() && (s[k + 1] | 0x20) == 'x';
    k = number(s, k, &v, &over);
    if (x || over || k + 1 >= s.size() || s[k] != ')' || s[k + 1] != ':')
      return "expected hex(type): with the type in hex, at most ffffffff";
    *type = v;
    k += 2;
  } else {
    return "expected \"string\", dword:, hex: or hex(type): after '='";
  }
  const char *why = hexdata(r, s, k);
  // Text-typed hex data of an 8-bit export is text in its code page: stored
  // in UTF-16 as RegSetValueExA stores it, no terminator added. From a UTF-16
  // or UTF-8 export it is UTF-16LE already, kept as recorded.
  if (why || enc != ENC8 || !istext(*type))
    return why;
  r.p.wide.resize(r.p.data.size());
  r.p.wide.resize(
      cptowide(r.dec.cp, (const unsigned char *)r.p.data.data(), r.p.data.size(), r.p.wide.data()));
  r.dec.used8 = true;
  r.p.data.assign((const char *)r.p.wide.data(), 2 * r.p.wide.size());
  return nullptr;
}

// A value line, from i (after the '"' of its name, or after '@').
void value(reader &r, size_t i, bool dflt) {
  u16view s = r.dec.text;
  unsigned long vline = r.dec.line;
  r.p.name.clear();
  if (!dflt) {
    long e = quoted(s, i, r.p.name);
    if (e < 0)
      return skipped(
          r, vline,
          e == BADESCAPE ? "expected no \\0 in the value name" : "expected '\"' to end the value name");
    i = (size_t)e;
  }
  i = blanks(s, i);
  if (i == s.size() || s[i] != '=')
    return skipped(r, vline, dflt ? "expected '=' after '@'" : "expected '=' after the value name");
  i = blanks(s, i + 1);
  size_t n = s.size();
  while (n > i && isblank16(s[n - 1]))
    n--;
  s = s.substr(0, n);
  if (!r.p.haskey)
    return skipped(r, vline, "expected a [key] line before the first value");
  if (i < n && s[i] == '-') {
    if (!rest(s, i + 1))
      return skipped(r, vline, "expected end of line or a comment after '-'");
    if (r.p.key != MRNONE)
      mrdelvalue(r.p.key, r.p.name);
    return;
  }
  DWORD type;
  const char *why = data(r, s, i, &type);
  if (r.rep.err)
    return;
  if (why)
    return skipped(r, vline, why);
  if (r.p.key != MRNONE)
    mrsetvalue(r.p.key, r.p.name, type, r.p.data.data(), r.p.data.size());
}

// The key the names of path from k on (k at a backslash, or at the end) lead
// to from id, created when create is set; MRNONE when one is missing. Empty
// names are passed over.
DWORD walk(DWORD id, u16view path, size_t k, bool create) {
  while (k < path.size() && id != MRNONE) {
    size_t e = std::min(path.find(u'\\', k + 1), path.size());
    if (e > k + 1) {
      u16view name = path.substr(k + 1, e - k - 1);
      id = create ? mrkey(id, name) : mrfind(id, name);
    }
    k = e;
  }
  return id;
}

// Opens (creating) the key a path names as the one values go to, or deletes
// it if it is there. A deleted path starting with an H but no root ends the
// import, as it ends regedit's, and so does a deleted root (with one
// backslash after it or none); another deletes nothing.
void openkey(reader &r, u16view path, bool del) {
  r.p.key = MRNONE;
  if (del && (path.empty() || (path[0] != 'H' && path[0] != 'h')))
    return;
  size_t k = path.find(u'\\');
  int root = rootbyname(path.substr(0, k));
  if (root < 0 && del) {
    r.dec.halt = true;
    return skipped(
        r, r.dec.line,
        "expected a root key such as HKEY_LOCAL_MACHINE after '[-' (nothing from here on is read)");
  }
  if (root < 0)
    return skipped(r, r.dec.line, "expected a root key such as HKEY_LOCAL_MACHINE");
  if (del && (k == u16view::npos || k + 1 == path.size())) {
    r.dec.halt = true;
    return skipped(r, r.dec.line,
                   "expected a key below the root key after '[-' (nothing from here on is read)");
  }
  if (del) {
    DWORD id = walk((DWORD)root, path, k, false);
    if (id != MRNONE && id != (DWORD)root)
      mrdelkey(id);
  } else if (k != u16view::npos && k + 1 < path.size() && path[k + 1] == '\\') {
    skipped(r, r.dec.line, "expected a key name after the root key's backslash");
  } else {
    r.p.key = walk((DWORD)root, path, k, true);
  }
}

// A key line, from i (after its '['). The name runs to the last ']' on the
// line; whatever follows that is passed over.
void keyline(reader &r, size_t i) {
  u16view s = r.dec.text;
  if (i < s.size() && isblank16(s[i]))
    return skipped(r, r.dec.line, "expected the key name right after '['");
  size_t end = s.rfind(u']');
  if (end == u16view::npos || end < i)
    return skipped(r, r.dec.line, "expected ']' to end the key name");
  bool del = i < end && s[i] == '-';
  r.p.haskey = true;
  openkey(r, s.substr(i + del, end - i - del), del);
}

// A line: a key line, a value line, a comment, a blank one, or a header line
// (inside an export it changes nothing).
void parseline(reader &r) {
  u16view s = r.dec.text;
  size_t i = blanks(s, 0);
  char16_t c = i < s.size() ? s[i] : u';';
  if (c == '[')
    keyline(r, i + 1);
  else if (c == '"' || c == '@')
    value(r, i + 1, c == '@');
  else if (c != ';' && c != '#' && !header(s, i))
    skipped(r, r.dec.line, "expected a [key] line, a \"name\"= or @= value, or a comment");
}

// An offline export has ControlSet001 and so on, and Select\Current naming
// the one in use, but no CurrentControlSet: link it as a live system has it.
void linkccs(void) {
  DWORD sys = mrfind(MRHKLM, u"SYSTEM");
  if (sys == MRNONE || mrfind(sys, u"CurrentControlSet") != MRNONE)
    return;
  DWORD sel = mrfind(sys, u"Select"), type, v;
  const char *d;
  size_t n;
  if (sel == MRNONE || mrgetvalue(sel, u"Current", &type, &d, &n) != 0 || n != 4)
    return;
  memcpy(&v, d, 4);
  char name[32];
  int len = snprintf(name, sizeof name, "ControlSet%03u", v);
  DWORD target = mrfind(sys, std::u16string(name, name + len));
  if (target != MRNONE)
    mrlink(sys, u"CurrentControlSet", target);
}

// One pass over the input, from its start.
bool parse(reader &r) {
  // The header: the first line, blanks before it allowed.
  if (!nextline(r))
    return r.rep.err ? false : fail(r, 1, NOHEADER);
  if (r.dec.halt || !header(r.dec.text, blanks(r.dec.text, 0))) {
    r.rep.skips.clear();
    return fail(r, 1, NOHEADER);
  }
  while (!r.rep.err && nextline(r))
    parseline(r);
  if (!r.rep.err)
    linkccs();
  return !r.rep.err;
}

// Loads the input; when its first export is 8-bit, all of it is in memory,
// to be read again if it names another code page than it was read in.
void load(reader &r) {
  while (r.in.len - r.in.pos < 3 && more(r)) {
  }
  int enc = ENC8;
  r.in.again = mark(r.in.base + r.in.pos, r.in.len - r.in.pos, &enc) == 0;
  while (r.in.again && more(r)) {
  }
  r.dec.cp = cpfor(mracp());
  if (r.rep.err || !parse(r))
    return;
  const cpage *acp = cpfor(mracp());
  if (!r.in.again || !r.dec.used8 || acp == r.dec.cp)
    return;
  // From the first byte again, over an empty registry.
  r = reader{.in = {.buf = std::move(r.in.buf), .base = r.in.base, .len = r.in.len, .again = true},
             .dec = {.cp = acp}};
  mrclear();
  parse(r);
}

// Loads, reports the lines skipped and says whether the input was an
// export. Loading allocates as it goes: a failed allocation ends it.
int run(reader &r, regskipfn skip, void *ctx, unsigned long *line, char *msg, size_t msgsize) {
  try {
    if (!r.rep.err)
      load(r);
  } catch (const std::bad_alloc &) {
    fail(r, r.dec.line, "out of memory");
  }
  for (const auto &[n, what] : r.rep.skips)
    if (skip)
      skip(n, what, ctx);
  if (!r.rep.err)
    return 0;
  if (line)
    *line = r.rep.errline;
  if (msg && msgsize)
    snprintf(msg, msgsize, "%s", r.rep.err);
  return -1;
}

}  // namespace

int regloadfile(FILE *in, unsigned long *line, char *msg, size_t msgsize, regskipfn skip, void *ctx) {
  reader r{.in = {.f = in, .eof = !in}};
  struct stat st;
  if (!in)
    fail(r, 1, "could not read the input");
  else if (fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode))
    mrreserve((size_t)st.st_size);
  return run(r, skip, ctx, line, msg, msgsize);
}

int regloadmem(const void *data, size_t size, unsigned long *line, char *msg, size_t msgsize, regskipfn skip,
               void *ctx) {
  reader r{.in = {.base = (const unsigned char *)data, .len = size}};
  mrreserve(size);
  return run(r, skip, ctx, line, msg, msgsize);
}
