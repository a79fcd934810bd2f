// The registry calls over an in-memory registry, for the native build.
//
// Keys and values live in chunked arrays of fixed-size records, so that
// growing never copies or moves what is stored; names and data live in a
// chunked arena likewise. Each key keeps its subkeys and its values in
// lists, in creation order. Most keys have a handful of each, and a name is
// looked up by walking the list; a key that gets more than SMALL of them has
// them indexed in an open-addressing hash table keyed by (key, upper-cased
// name). Deleted keys and values are unlinked and marked dead; their hash
// entries stay, until mrclear, and are skipped.
//
// Before the first call after a change, each key's subkeys are laid out
// sorted and its values in creation order, so that enumeration by index is
// direct. Exports list subkeys sorted already; a key whose subkeys came in
// order is not sorted again.
//
// Names and string data are kept as the export recorded them: Unicode (in
// UTF-8) or, from an 8-bit export, bytes in the machine's code page. The "A" calls hand text over in
// that code page, which only the loaded registry tells (ACP under
// SYSTEM\CurrentControlSet\Control\Nls\CodePage), so before the first call
// after loading every text that is not plain ASCII is converted once: each
// name gets its code-page form beside its Unicode one (names match in
// Unicode, by Windows' upper case), and string data is replaced by its
// code-page form. ASCII text is the same in both and costs nothing more.
#include "memreg.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "codepage.h"

namespace {

// What a name is in: ASCII (the same in every form), UTF-8, 8-bit text in
// the machine's code page, or UTF-8 with its code-page form after it (see
// convertName).
enum { TASCII, TUTF8, T8, TBOTH };
// What string data is in until it is converted: the bytes the calls hand
// over, or UTF-8.
enum { DRAW, DUTF8 };

struct atext {
  const char *p;
  DWORD n;
};

struct mkey {
  DWORD parent;
  DWORD namelen;
  const char *name;
  DWORD firstkid, lastkid, nextsib;  // subkeys in creation order
  DWORD firstval, lastval;           // values in creation order
  DWORD nkids, nvals;                // live subkeys and values
  DWORD link;                        // MRNONE, or the key this one stands for
  DWORD kidstart, valstart;          // laid out by layout()
  bool dead;
  bool unsorted;  // subkeys were created out of order
  bool kidhash;   // subkeys are in keyhash
  bool valhash;   // values are in valhash
  uint8_t form;   // of the name
  bool pend;      // in pendkeys
};

struct mval {
  DWORD key;
  DWORD namelen;
  const char *name;
  const char *data;
  DWORD size;
  DWORD type;
  DWORD next;
  bool dead;
  uint8_t form;      // of the name
  uint8_t dataform;  // of string data
  bool pend;         // in pendvals
};

struct freer {
  void operator()(void *p) const { free(p); }
};

// Chunks of records and of names are carved from blocks of 2 MiB. A
// registry that needs more than one block is a big one: its further blocks
// are left for the system to back each with one huge page, so that filling
// it takes a few dozen page faults instead of thousands.
const size_t BLOCK = 2 << 20;
std::vector<std::unique_ptr<char[], freer>> blocks;
size_t blockleft;
char *blockpos;

// n bytes (at most BLOCK, a multiple of 16) from the current block, or from a new one.
void *carve(size_t n) {
  if (n > blockleft) {
    char *p = (char *)aligned_alloc(BLOCK, BLOCK);
    if (p == nullptr)
      throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    if (!blocks.empty())
      madvise(p, BLOCK, MADV_HUGEPAGE);
#endif
    blocks.emplace_back(p);
    blockpos = p;
    blockleft = BLOCK;
  }
  void *at = blockpos;
  blockpos += n;
  blockleft -= n;
  return at;
}

// Records in chunks of a fixed size: an id indexes them as an array would,
// and adding one never moves the others.
template <class T>
struct chunked {
  static const DWORD SHIFT = 12;
  std::vector<T *> chunks;
  DWORD n = 0;
  T &operator[](DWORD i) { return chunks[i >> SHIFT][i & ((1u << SHIFT) - 1)]; }
  DWORD add(const T &r) {
    if ((n >> SHIFT) == chunks.size())
      chunks.push_back((T *)carve(sizeof(T) << SHIFT));
    (*this)[n] = r;
    return n++;
  }
  void clear() {
    chunks.clear();
    n = 0;
  }
};

struct mfault {
  int op;
  char path[MRPATHMAX + 1];
  LONG code;
};

const size_t CHUNK = 1 << 20;
const int MAXFAULTS = 16;
const DWORD MAXMASKS = 1 << 16;
const DWORD SMALL = 32;  // subkeys or values a key keeps unindexed

chunked<mkey> keys;
chunked<mval> vals;
std::vector<DWORD> kidorder, valorder;
std::vector<uint64_t> keyhash, valhash;  // see entry()
size_t keyused, valused;
std::vector<DWORD> links;                          // keys made by mrlink
std::vector<std::unique_ptr<char[], freer>> bigs;  // names or data too big for a chunk
std::vector<DWORD> pendkeys, pendvals;             // text to convert
bool pending;                                      // either holds some
bool rawdata;                                      // mrdata is storing
int textform = MRUTF8;
size_t chunkleft;
char *chunkpos;
bool dirty;

DWORD handles[MRHANDLES];  // key id + 1; 0 is free
DWORD calls[MRNOPS];
DWORD faultnth[MRNOPS];
LONG faultcode[MRNOPS];
mfault faults[MAXFAULTS];
int nfaults;
DWORD masks[MAXMASKS];
DWORD nmasks;
mrwatchfn watcher;

uint32_t hashName(DWORD parent, const char *name, size_t len) {
  uint64_t h = foldhash(1469598103934665603ull ^ parent, name, len);
  return (uint32_t)((h ^ (h >> 29)) * 0x9e3779b97f4a7c15ull >> 32);
}

inline bool isascii(const void *p, size_t n) {
  // Words, the last one overlapping the one before: no byte loop.
  const unsigned char *s = (const unsigned char *)p;
  uint64_t acc = 0, w;
  uint32_t v;
  if (n >= 8) {
    for (size_t k = 0; k + 8 < n; k += 8) {
      memcpy(&w, s + k, 8);
      acc |= w;
    }
    memcpy(&w, s + n - 8, 8);
    acc |= w;
  } else if (n >= 4) {
    memcpy(&v, s, 4);
    acc = v;
    memcpy(&v, s + n - 4, 4);
    acc |= v;
  } else {
    for (size_t k = 0; k < n; k++)
      acc |= s[k];
  }
  return (acc & 0x8080808080808080ull) == 0;
}

const char *store(const void *p, size_t n) {
  if (n == 0)
    return "";
  if (n > chunkleft) {
    if (n > CHUNK / 4) {  // big items get memory of their own
      char *c = (char *)malloc(n);
      if (c == nullptr)
        throw std::bad_alloc();
      bigs.emplace_back(c);
      memcpy(c, p, n);
      return c;
    }
    chunkpos = (char *)carve(CHUNK);
    chunkleft = CHUNK;
  }
  char *at = chunkpos;
  memcpy(at, p, n);
  chunkpos += n;
  chunkleft -= n;
  return at;
}

// Names and data repeat from key to key (every adapter's instance key has
// its "FriendlyName", its ClassGUID, its Service): what was stored lately is
// remembered by content, one item per slot, so that a repeat shares the
// stored copy instead of taking memory again. Nothing stored is changed in
// place, so sharing is safe.
const size_t SHAREMAX = 256;  // longer items are stored every time
const size_t SHARESLOTS = 4096;
struct shared {
  const char *p;
  uint32_t n, h;
};
shared sharecache[SHARESLOTS];

// A cheap hash of n bytes: their length and first and last eight.
inline uint32_t sharehash(const unsigned char *s, size_t n) {
  uint64_t a, b;
  if (n >= 8) {
    memcpy(&a, s, 8);
    memcpy(&b, s + n - 8, 8);
  } else if (n >= 4) {
    uint32_t x, y;
    memcpy(&x, s, 4);
    memcpy(&y, s + n - 4, 4);
    a = x;
    b = y;
  } else {
    a = s[0] | (uint64_t)s[n / 2] << 8 | (uint64_t)s[n - 1] << 16;
    b = 0;
  }
  uint64_t h = (a * 0x9e3779b97f4a7c15ull) ^ (b * 0xc2b2ae3d27d4eb4full) ^ n;
  return (uint32_t)((h ^ (h >> 29)) >> 16);
}

// Whether n bytes at a and b are the same: short ones word by word.
inline bool samebytes(const char *a, const char *b, size_t n) {
  if (n < 8 || n > 16)
    return memcmp(a, b, n) == 0;
  uint64_t x, y, z, w;
  memcpy(&x, a, 8);
  memcpy(&y, b, 8);
  memcpy(&z, a + n - 8, 8);
  memcpy(&w, b + n - 8, 8);
  return x == y && z == w;
}

// Stores n bytes as store does, or finds the same bytes stored lately.
inline const char *storeshared(const void *p, size_t n) {
  if (n == 0 || n > SHAREMAX)
    return store(p, n);
  uint32_t h = sharehash((const unsigned char *)p, n);
  shared &c = sharecache[h % SHARESLOTS];
  if (c.n == n && c.h == h && samebytes(c.p, (const char *)p, n))
    return c.p;
  const char *at = store(p, n);
  c = shared{at, (uint32_t)n, h};
  return at;
}

// Stores n bytes as storeshared does, telling whether they are all ASCII.
inline const char *storetext(const void *p, size_t n, bool *ascii) {
  *ascii = isascii(p, n);
  return storeshared(p, n);
}

// Hash tables hold the 32-bit hash of an entry's (owner, name) above its id
// + 1, 0 being an empty slot. The hash picks the slot and, compared first,
// saves looking at the records of other names; growing needs no record.
inline uint64_t entry(uint32_t h, DWORD id) {
  return (uint64_t)h << 32 | (id + 1);
}

// Finds the live entry for (owner, name), of hash h, in a table, or MRNONE.
template <class T>
DWORD probe(const std::vector<uint64_t> &table, chunked<T> &recs, DWORD owner, const char *name, size_t len,
            uint32_t h, DWORD T::*ownerof) {
  size_t mask = table.size() - 1;
  for (size_t s = h & mask; table[s] != 0; s = (s + 1) & mask) {
    if ((uint32_t)(table[s] >> 32) != h)
      continue;
    DWORD id = (DWORD)table[s] - 1;
    const T &r = recs[id];
    if (!r.dead && r.*ownerof == owner && samefold(r.name, r.namelen, name, len))
      return id;
  }
  return MRNONE;
}

void place(std::vector<uint64_t> &table, uint64_t e) {
  size_t mask = table.size() - 1;
  size_t s = (size_t)(e >> 32) & mask;
  while (table[s] != 0)
    s = (s + 1) & mask;
  table[s] = e;
}

// Adds an entry, doubling the table when it would be more than half full.
// h is its hash, when a probe for its name has just found it; else null.
template <class T>
void index(std::vector<uint64_t> &table, size_t &used, chunked<T> &recs, DWORD id, DWORD T::*ownerof,
           const uint32_t *h = nullptr) {
  if ((used + 1) * 2 > table.size()) {
    std::vector<uint64_t> old;
    old.swap(table);
    table.assign(old.empty() ? 1024 : old.size() * 2, 0);
    for (uint64_t e : old)
      if (e != 0)
        place(table, e);
  }
  const T &r = recs[id];
  place(table, entry(h ? *h : hashName(r.*ownerof, r.name, r.namelen), id));
  used++;
}

// Looks a name up among an owner's subkeys or values: probed where they are
// hashed, and then *h (when asked) gets the name's hash, for adding it;
// otherwise the owner's list from first on, linked by next, is walked.
template <class T>
DWORD findname(bool hashed, const std::vector<uint64_t> &table, chunked<T> &recs, DWORD T::*ownerof,
               DWORD T::*next, DWORD owner, DWORD first, const char *name, size_t len, uint32_t *h) {
  if (hashed) {
    uint32_t hash = hashName(owner, name, len);
    if (h)
      *h = hash;
    return probe(table, recs, owner, name, len, hash, ownerof);
  }
  // An ASCII name matches only ASCII of its length (no other character
  // upper-cases to ASCII); most siblings differ so.
  for (DWORD c = first; c != MRNONE; c = recs[c].*next) {
    const T &r = recs[c];
    if (!(r.form == TASCII && r.namelen != len) && samefold(r.name, r.namelen, name, len))
      return c;
  }
  return MRNONE;
}

DWORD findkid(DWORD parent, const char *name, size_t len, uint32_t *h = nullptr) {
  const mkey &p = keys[parent];
  return findname(p.kidhash, keyhash, keys, &mkey::parent, &mkey::nextsib, parent, p.firstkid, name, len, h);
}

DWORD findval(DWORD key, const char *name, size_t len, uint32_t *h = nullptr) {
  const mkey &k = keys[key];
  return findname(k.valhash, valhash, vals, &mval::key, &mval::next, key, k.firstval, name, len, h);
}

bool kidLess(DWORD a, DWORD b) {
  const mkey &x = keys[a];
  const mkey &y = keys[b];
  return foldless(x.name, x.namelen, y.name, y.namelen);
}

// The form of a name handed in, in the current text form.
uint8_t formOf(bool ascii) {
  return ascii ? TASCII : textform == MRACP ? T8 : TUTF8;
}

// Adds a subkey; h is its name's hash if findkid just told it (its parent's
// subkeys hashed), else null.
DWORD newKey(DWORD parent, const char *name, size_t len, int known, const uint32_t *h = nullptr) {
  mkey k = {};
  k.parent = parent;
  k.namelen = (DWORD)len;
  bool ascii = true;
  k.name = known & MRNAMEASCII ? storeshared(name, len) : storetext(name, len, &ascii);
  k.firstkid = k.lastkid = k.nextsib = MRNONE;
  k.firstval = k.lastval = MRNONE;
  k.link = MRNONE;
  k.form = formOf(ascii);
  k.pend = k.form != TASCII;
  DWORD id = keys.add(k);
  dirty = true;
  if (k.pend)
    pendkeys.push_back(id);
  pending = true;
  if (parent == MRNONE)
    return id;
  mkey &p = keys[parent];
  if (p.lastkid == MRNONE) {
    p.firstkid = id;
  } else {
    keys[p.lastkid].nextsib = id;
    if (kidLess(id, p.lastkid))
      p.unsorted = true;
  }
  p.lastkid = id;
  p.nkids++;
  if (p.kidhash) {
    index(keyhash, keyused, keys, id, &mkey::parent, h);
  } else if (p.nkids > SMALL) {
    p.kidhash = true;
    for (DWORD c = p.firstkid; c != MRNONE; c = keys[c].nextsib)
      index(keyhash, keyused, keys, c, &mkey::parent);
  }
  return id;
}

// Lays out every live key's subkeys (sorted) and values (in creation order).
void layout() {
  kidorder.resize(keys.n);
  valorder.resize(vals.n);
  DWORD nk = 0, nv = 0;
  for (DWORD id = 0; id < keys.n; id++) {
    mkey &k = keys[id];
    k.kidstart = nk;
    k.valstart = nv;
    if (k.dead)
      continue;
    for (DWORD c = k.firstkid; c != MRNONE; c = keys[c].nextsib)
      kidorder[nk++] = c;
    if (k.unsorted)
      std::sort(kidorder.begin() + k.kidstart, kidorder.begin() + nk, kidLess);
    for (DWORD v = k.firstval; v != MRNONE; v = vals[v].next)
      valorder[nv++] = v;
  }
  dirty = false;
}

DWORD follow(DWORD k) {
  // A link's target is a real key; links never chain.
  return keys[k].link != MRNONE ? keys[k].link : k;
}

// The key an HKEY stands for, or MRNONE.
DWORD keyOf(HKEY h) {
  // Open handles first: the scans pass them far more often than roots.
  uintptr_t v = (uintptr_t)h;
  if (v >= 16 && (v & 15) == 0 && v / 16 - 1 < (size_t)MRHANDLES)
    return handles[v / 16 - 1] != 0 ? handles[v / 16 - 1] - 1 : MRNONE;
  int r = rootbyhandle(h);
  return r >= 0 ? (DWORD)r : MRNONE;
}

// Writes a key's full path, without its root, into buf; returns its length.
size_t pathOf(DWORD k, char *buf, size_t cap) {
  DWORD chain[256];
  int n = 0;
  for (DWORD c = k; c >= MRNROOTS && n < 256; c = keys[c].parent)
    chain[n++] = c;
  size_t len = 0;
  for (int m = n - 1; m >= 0; m--) {
    const mkey &c = keys[chain[m]];
    if (len + c.namelen + 2 > cap)
      break;
    if (len > 0)
      buf[len++] = '\\';
    memcpy(buf + len, c.name, c.namelen);
    len += c.namelen;
  }
  buf[len] = 0;
  return len;
}

bool pathFault(int op, DWORD key, const char *tail, LONG *code) {
  if (nfaults == 0)
    return false;
  static char full[MRPATHMAX * 2 + 2];
  size_t len = pathOf(key, full, MRPATHMAX + 1);
  size_t tlen = tail ? strlen(tail) : 0;
  if (tail && len + tlen + 1 < sizeof full) {
    if (len > 0 && tlen > 0)
      full[len++] = '\\';
    memcpy(full + len, tail, tlen + 1);
    len += tlen;
  }
  for (int f = 0; f < nfaults; f++)
    if (faults[f].op == op && samefold(faults[f].path, strlen(faults[f].path), full, len)) {
      *code = faults[f].code;
      return true;
    }
  return false;
}

// Counts the call and says whether an injected fault answers it.
bool nthFault(int op, LONG *code) {
  calls[op]++;
  if (faultnth[op] != 0 && calls[op] == faultnth[op]) {
    *code = faultcode[op];
    return true;
  }
  return false;
}

// The export's ANSI code page: ACP under Control\Nls\CodePage as a
// number, 0 when it is not one, and 1252 when it is not there.
unsigned findacp() {
  static const char *const path[] = {"SYSTEM", "CurrentControlSet", "Control", "Nls", "CodePage"};
  DWORD k = MRHKLM;
  for (const char *n : path) {
    k = findkid(follow(k), n, strlen(n));
    if (k == MRNONE)
      return CPFALLBACK;
  }
  DWORD v = findval(follow(k), "ACP", 3);
  if (v == MRNONE)
    return CPFALLBACK;
  const mval &r = vals[v];
  unsigned acp = 0;
  size_t n = 0;
  for (; n < r.size && r.data[n] >= '0' && r.data[n] <= '9' && acp < 100000; n++)
    acp = acp * 10 + (unsigned)(r.data[n] - '0');
  return acp;
}

// Gives a name its code-page form, or (8-bit text) its Unicode one. A
// converted name is stored anew as its UTF-8 bytes, then the length of its
// code-page form (a DWORD) and that form, so that records need no field for
// it. True when the name itself changed, which moves it in its table and
// order.
bool convertName(const char *&name, DWORD &len, uint8_t &form, std::vector<char> &buf,
                 std::vector<uint16_t> &units) {
  if (form != TUTF8 && form != T8)
    return false;
  size_t ulen, alen;
  if (form == TUTF8) {
    units.resize(len);
    size_t n = u8to16(name, len, units.data());
    buf.resize(len + sizeof(DWORD) + 2 * n);
    memcpy(buf.data(), name, len);
    ulen = len;
    alen = cpfrom16(units.data(), n, buf.data() + ulen + sizeof(DWORD));
  } else {
    buf.resize(3 * (size_t)len + sizeof(DWORD) + len);
    ulen = cpto8((const unsigned char *)name, len, buf.data());
    alen = len;
    memcpy(buf.data() + ulen + sizeof(DWORD), name, len);
  }
  DWORD a = (DWORD)alen;
  memcpy(buf.data() + ulen, &a, sizeof a);
  bool moved = form == T8;
  name = store(buf.data(), ulen + sizeof a + alen);
  len = (DWORD)ulen;
  form = TBOTH;
  return moved;
}

// String data in the code page, as the "A" calls hand it over. Wine's
// RegEnumValueA and RegQueryValueExA, given UTF-16 data stored byte for byte
// with RegSetValueExW, convert unit by unit, add no terminator the data lacks
// and keep zeros inside it (and drop an odd last byte, which the export
// reader does before); we do the same.
void convertData(mval &r, std::vector<char> &buf, std::vector<uint16_t> &units) {
  units.resize(r.size);
  size_t n = u8to16(r.data, r.size, units.data());
  buf.resize(2 * n);
  size_t m = cpfrom16(units.data(), n, buf.data());
  r.data = store(buf.data(), m);
  r.size = (DWORD)m;
  r.dataform = DRAW;
}

void rehash() {
  std::fill(keyhash.begin(), keyhash.end(), 0);
  std::fill(valhash.begin(), valhash.end(), 0);
  keyused = valused = 0;
  for (DWORD id = MRNROOTS; id < keys.n; id++)
    if (!keys[id].dead && keys[keys[id].parent].kidhash)
      index(keyhash, keyused, keys, id, &mkey::parent);
  for (DWORD id = 0; id < vals.n; id++)
    if (!vals[id].dead && keys[vals[id].key].valhash)
      index(valhash, valused, vals, id, &mval::key);
}

// Converts the text that is not ASCII with the export's code page.
void convert() {
  cpselect(findacp());
  bool names = false;
  for (DWORD id : pendkeys)
    names |= keys[id].form == TUTF8 || keys[id].form == T8;
  for (DWORD id : pendvals)
    names |= vals[id].form == TUTF8 || vals[id].form == T8;
  // Names not in ASCII: those handed to the calls will need converting.
  if (names)
    cpready();
  std::vector<char> buf;
  std::vector<uint16_t> units;
  bool moved = false;
  for (DWORD id : pendkeys) {
    mkey &k = keys[id];
    if (convertName(k.name, k.namelen, k.form, buf, units)) {
      moved = true;
      if (k.parent != MRNONE)
        keys[k.parent].unsorted = true;
    }
    k.pend = false;
  }
  for (DWORD id : pendvals) {
    mval &r = vals[id];
    moved |= convertName(r.name, r.namelen, r.form, buf, units);
    if (r.dataform != DRAW)
      convertData(r, buf, units);
    r.pend = false;
  }
  pendkeys.clear();
  pendvals.clear();
  pending = false;
  cpdone();
  if (moved)
    rehash();
  dirty = true;
}

void prepare() {
  if (pending)
    convert();
  if (dirty)
    layout();
}

// A name as the calls hand it over.
inline atext aname(const char *name, DWORD len, uint8_t form) {
  if (form != TBOTH)
    return atext{name, len};
  DWORD n;
  memcpy(&n, name + len, sizeof n);
  return atext{name + len + sizeof n, n};
}

// Text handed to the calls, in the code page, as UTF-8 in buf (of three
// times n bytes). Until a name beyond ASCII is held (cpready), such text
// matches nothing as it is, however it splits.
const char *fromcp(const char *s, size_t n, char *buf) {
  if (!cpisready() || isascii(s, n))
    return s;
  buf[cpto8((const unsigned char *)s, n, buf)] = 0;
  return buf;
}

}  // namespace

void mrclear(void) {
  keys.clear();
  vals.clear();
  kidorder.clear();
  valorder.clear();
  keyhash.assign(1024, 0);
  valhash.assign(1024, 0);
  keyused = valused = 0;
  links.clear();
  bigs.clear();
  pendkeys.clear();
  pendvals.clear();
  pending = false;
  textform = MRUTF8;
  chunkleft = 0;
  chunkpos = nullptr;
  memset(sharecache, 0, sizeof sharecache);
  blocks.clear();
  blockleft = 0;
  blockpos = nullptr;
  for (const rootkey &r : rootkeys)
    newKey(MRNONE, r.name, strlen(r.name), MRNAMEASCII);
  memset(handles, 0, sizeof handles);
  memset(faultnth, 0, sizeof faultnth);
  nfaults = 0;
  watcher = nullptr;
  mrresetcalls();
  layout();
}

DWORD mrroot(int root) {
  if (keys.n == 0)
    mrclear();
  return (DWORD)root;
}

DWORD mrfind(DWORD parent, const char *name, size_t len) {
  return findkid(parent, name, len);
}

DWORD mrkey(DWORD parent, const char *name, size_t len, int ascii) {
  parent = follow(parent);
  uint32_t h;
  DWORD k = findkid(parent, name, len, &h);
  return k != MRNONE ? k : newKey(parent, name, len, ascii, keys[parent].kidhash ? &h : nullptr);
}

void mrdelkey(DWORD key) {
  if (key < MRNROOTS || key >= keys.n || keys[key].dead)
    return;
  mkey &k = keys[key];
  mkey &p = keys[k.parent];
  DWORD prev = MRNONE;
  for (DWORD c = p.firstkid; c != MRNONE; prev = c, c = keys[c].nextsib) {
    if (c != key)
      continue;
    if (prev == MRNONE)
      p.firstkid = k.nextsib;
    else
      keys[prev].nextsib = k.nextsib;
    if (p.lastkid == key)
      p.lastkid = prev;
    p.nkids--;
    break;
  }
  // Everything below is unreachable from here on. A link into the subtree
  // would dangle, so it goes too.
  k.dead = true;
  dirty = true;
  for (size_t l = 0; l < links.size(); l++) {
    DWORD o = links[l];
    if (keys[o].dead || keys[o].link == MRNONE)
      continue;
    DWORD t = keys[o].link;
    while (t >= MRNROOTS && t != key)
      t = keys[t].parent;
    if (t == key)
      mrdelkey(o);
  }
}

void mrlink(DWORD parent, const char *name, size_t len, DWORD target) {
  DWORD k = mrkey(parent, name, len);
  keys[k].link = follow(target);
  links.push_back(k);
}

void mrsetvalue(DWORD key, const char *name, size_t namelen, DWORD type, const void *data, size_t size,
                int known) {
  int dataform = textform == MRACP || rawdata ? DRAW : DUTF8;
  key = follow(key);
  uint32_t h;
  DWORD v = findval(key, name, namelen, &h);
  if (v == MRNONE) {
    mval r = {};
    r.key = key;
    r.namelen = (DWORD)namelen;
    bool ascii = true;
    r.name = known & MRNAMEASCII ? storeshared(name, namelen) : storetext(name, namelen, &ascii);
    r.next = MRNONE;
    r.form = formOf(ascii);
    v = vals.add(r);
    mkey &k = keys[key];
    if (k.lastval == MRNONE)
      k.firstval = v;
    else
      vals[k.lastval].next = v;
    k.lastval = v;
    k.nvals++;
    if (k.valhash) {
      index(valhash, valused, vals, v, &mval::key, &h);
    } else if (k.nvals > SMALL) {
      k.valhash = true;
      for (DWORD c = k.firstval; c != MRNONE; c = vals[c].next)
        index(valhash, valused, vals, c, &mval::key);
    }
  }
  mval &r = vals[v];
  r.type = type;
  r.size = (DWORD)size;
  if ((known & MRDATAASCII) || (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ))
    dataform = DRAW;
  // ASCII text is stored as it will be handed over.
  bool ascii = true;
  r.data = dataform == DRAW ? storeshared(data, size) : storetext(data, size, &ascii);
  if (ascii)
    dataform = DRAW;
  r.dataform = (uint8_t)dataform;
  if (!r.pend && (dataform != DRAW || r.form == TUTF8 || r.form == T8)) {
    r.pend = true;
    pendvals.push_back(v);
    pending = true;
  }
  dirty = true;
}

void mrtextform(int form) {
  textform = form;
}

void mrdelvalue(DWORD key, const char *name, size_t namelen) {
  key = follow(key);
  DWORD v = findval(key, name, namelen);
  if (v == MRNONE)
    return;
  mkey &k = keys[key];
  DWORD prev = MRNONE;
  for (DWORD c = k.firstval; c != MRNONE; prev = c, c = vals[c].next) {
    if (c != v)
      continue;
    if (prev == MRNONE)
      k.firstval = vals[v].next;
    else
      vals[prev].next = vals[v].next;
    if (k.lastval == v)
      k.lastval = prev;
    k.nvals--;
    break;
  }
  vals[v].dead = true;
  dirty = true;
}

int mrgetvalue(DWORD key, const char *name, size_t namelen, DWORD *type, const char **data, size_t *size) {
  DWORD v = findval(follow(key), name, namelen);
  if (v == MRNONE)
    return -1;
  *type = vals[v].type;
  *data = vals[v].data;
  *size = vals[v].size;
  return 0;
}

int mrready(unsigned *acp) {
  unsigned cp = findacp();
  bool known = cpselect(cp);
  prepare();
  if (acp)
    *acp = cp;
  return known ? 0 : -1;
}

DWORD mrpath(const char *path) {
  DWORD k = mrroot(MRHKLM);
  size_t n = strlen(path);
  for (size_t i = 0; i < n; i++) {
    size_t e = nameend(path, n, i);
    if (e > i)
      k = follow(mrkey(k, path + i, e - i));
    i = e;
  }
  return k;
}

void mrsz(const char *path, const char *name, const char *text) {
  mrsetvalue(mrpath(path), name, strlen(name), REG_SZ, text, strlen(text) + 1);
}

void mrdata(const char *path, const char *name, DWORD type, const void *data, size_t size) {
  rawdata = true;
  mrsetvalue(mrpath(path), name, strlen(name), type, data, size);
  rawdata = false;
}

void mrfault(int op, DWORD nth, LONG code) {
  faultnth[op] = nth;
  faultcode[op] = code;
}

void mrfaultpath(int op, const char *path, LONG code) {
  if (nfaults == MAXFAULTS || strlen(path) > (size_t)MRPATHMAX)
    return;
  faults[nfaults].op = op;
  strcpy(faults[nfaults].path, path);
  faults[nfaults].code = code;
  nfaults++;
}

void mrresetcalls(void) {
  memset(calls, 0, sizeof calls);
  nmasks = 0;
}

DWORD mrcalls(int op) {
  return calls[op];
}

int mropenhandles(void) {
  int n = 0;
  for (DWORD h : handles)
    n += h != 0;
  return n;
}

DWORD mrmasks(DWORD *out, DWORD max) {
  DWORD n = std::min(nmasks, MAXMASKS);
  for (DWORD k = 0; k < n && k < max; k++)
    out[k] = masks[k];
  return nmasks;
}

int mrhandles(HKEY *out, int max) {
  int n = 0;
  for (int slot = 0; slot < MRHANDLES; slot++)
    if (handles[slot] != 0) {
      if (n < max)
        out[n] = (HKEY)(uintptr_t)((slot + 1) * 16);
      n++;
    }
  return n;
}

int mrkeypath(HKEY h, char *buf, size_t cap) {
  DWORD k = keyOf(h);
  if (k == MRNONE || cap == 0)
    return -1;
  return (int)pathOf(k, buf, cap);
}

DWORD mrnkeys(void) {
  return keys.n;
}

void mrwatch(mrwatchfn fn) {
  watcher = fn;
}

// The five calls.

LONG RegOpenKeyExA(HKEY hkey, LPCSTR subkey, DWORD options, REGSAM sam, PHKEY result) {
  (void)options;
  if (watcher != nullptr)
    watcher(MROPEN, hkey, 0, subkey);
  if (nmasks < MAXMASKS)
    masks[nmasks] = sam;
  nmasks++;
  LONG code;
  if (nthFault(MROPEN, &code))
    return code;
  if (keys.n == 0)
    mrclear();
  prepare();
  DWORD k = keyOf(hkey);
  if (k == MRNONE || result == nullptr)
    return ERROR_INVALID_HANDLE;
  if (subkey == nullptr)
    subkey = "";
  size_t total = strnlen(subkey, MRPATHMAX + 1);
  if (total > (size_t)MRPATHMAX)
    return ERROR_INVALID_PARAMETER;
  if (pathFault(MROPEN, k, subkey, &code))
    return code;
  k = follow(k);
  // Windows refuses a path that starts with a backslash; one at the end is
  // accepted and means nothing.
  if (*subkey == '\\')
    return ERROR_INVALID_PARAMETER;
  // A path in the code page is split after converting it: a double-byte
  // character's second byte may be a backslash.
  static char upath[3 * MRPATHMAX + 1];
  const char *p = fromcp(subkey, total, upath);
  if (p != subkey)
    total = strlen(p);
  for (size_t i = 0; i < total; i++) {
    size_t e = nameend(p, total, i);
    if (e == i)
      return ERROR_FILE_NOT_FOUND;
    DWORD c = mrfind(k, p + i, e - i);
    if (c == MRNONE)
      return ERROR_FILE_NOT_FOUND;
    k = follow(c);
    i = e;
  }
  for (int slot = 0; slot < MRHANDLES; slot++)
    if (handles[slot] == 0) {
      handles[slot] = k + 1;
      *result = (HKEY)(uintptr_t)((slot + 1) * 16);
      return ERROR_SUCCESS;
    }
  return ERROR_TOO_MANY_OPEN_FILES;
}

LONG RegEnumValueA(HKEY hkey, DWORD index, LPSTR name, LPDWORD namesize, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD datasize) {
  if (watcher != nullptr)
    watcher(MRENUMVALUE, hkey, index, nullptr);
  LONG code;
  if (nthFault(MRENUMVALUE, &code))
    return code;
  prepare();
  DWORD k = keyOf(hkey);
  if (k == MRNONE)
    return ERROR_INVALID_HANDLE;
  if (name == nullptr || namesize == nullptr || reserved != nullptr ||
      (data != nullptr && datasize == nullptr))
    return ERROR_INVALID_PARAMETER;
  const mkey &key = keys[follow(k)];
  if (index >= key.nvals)
    return ERROR_NO_MORE_ITEMS;
  const mval &v = vals[valorder[key.valstart + index]];
  atext vn = aname(v.name, v.namelen, v.form);
  // The name must leave room for its terminating zero.
  if (vn.n >= *namesize)
    return ERROR_MORE_DATA;
  if (data != nullptr && v.size > *datasize) {
    *datasize = v.size;
    return ERROR_MORE_DATA;
  }
  memcpy(name, vn.p, vn.n);
  name[vn.n] = 0;
  *namesize = vn.n;
  if (type != nullptr)
    *type = v.type;
  if (data != nullptr)
    memcpy(data, v.data, v.size);
  if (datasize != nullptr)
    *datasize = v.size;
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY hkey, DWORD index, LPSTR name, LPDWORD namesize, LPDWORD reserved, LPSTR cls,
                   LPDWORD clssize, PFILETIME lastwrite) {
  if (watcher != nullptr)
    watcher(MRENUMKEY, hkey, index, nullptr);
  LONG code;
  if (nthFault(MRENUMKEY, &code))
    return code;
  prepare();
  DWORD k = keyOf(hkey);
  if (k == MRNONE)
    return ERROR_INVALID_HANDLE;
  if (name == nullptr || namesize == nullptr || reserved != nullptr)
    return ERROR_INVALID_PARAMETER;
  const mkey &key = keys[follow(k)];
  if (index >= key.nkids)
    return ERROR_NO_MORE_ITEMS;
  const mkey &c = keys[kidorder[key.kidstart + index]];
  atext cn = aname(c.name, c.namelen, c.form);
  if (cn.n >= *namesize)
    return ERROR_MORE_DATA;
  memcpy(name, cn.p, cn.n);
  name[cn.n] = 0;
  *namesize = cn.n;
  if (cls != nullptr && clssize != nullptr && *clssize > 0) {
    cls[0] = 0;
    *clssize = 0;
  }
  if (lastwrite != nullptr)
    lastwrite->dwLowDateTime = lastwrite->dwHighDateTime = 0;
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hkey, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD datasize) {
  if (watcher != nullptr)
    watcher(MRQUERY, hkey, 0, name);
  LONG code;
  if (nthFault(MRQUERY, &code))
    return code;
  prepare();
  DWORD k = keyOf(hkey);
  if (k == MRNONE)
    return ERROR_INVALID_HANDLE;
  if (reserved != nullptr || (data != nullptr && datasize == nullptr))
    return ERROR_INVALID_PARAMETER;
  if (name == nullptr)
    name = "";
  if (pathFault(MRQUERY, k, name, &code))
    return code;
  // Longer names than Windows allows find nothing.
  static char uname[3 * MRNAMEMAX + 1];
  size_t len = strnlen(name, MRNAMEMAX + 1);
  const char *u = len > MRNAMEMAX ? nullptr : fromcp(name, len, uname);
  DWORD v = u == nullptr ? MRNONE : findval(follow(k), u, strlen(u));
  if (v == MRNONE)
    return ERROR_FILE_NOT_FOUND;
  const mval &r = vals[v];
  if (data != nullptr && r.size > *datasize) {
    *datasize = r.size;
    return ERROR_MORE_DATA;
  }
  if (type != nullptr)
    *type = r.type;
  if (data != nullptr)
    memcpy(data, r.data, r.size);
  if (datasize != nullptr)
    *datasize = r.size;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hkey) {
  if (watcher != nullptr)
    watcher(MRCLOSE, hkey, 0, nullptr);
  LONG code;
  if (nthFault(MRCLOSE, &code))
    return code;
  if (rootbyhandle(hkey) >= 0)
    return ERROR_SUCCESS;
  DWORD k = keyOf(hkey);
  if (k == MRNONE)
    return ERROR_INVALID_HANDLE;
  handles[(uintptr_t)hkey / 16 - 1] = 0;
  return ERROR_SUCCESS;
}
