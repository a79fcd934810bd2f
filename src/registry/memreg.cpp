// The registry calls over an in-memory registry, for the native build.
//
// Keys and values live in flat arrays, found through two open-addressing hash
// tables keyed by (parent, upper-cased name); names and data live in a chunked
// arena so that growing never copies what is stored. Deleted keys and values
// are unlinked and marked dead; their hash entries stay and are skipped.
// Before the first call after a change, each key's subkeys are laid out
// sorted and its values in creation order, so enumeration by index is direct.
#include "memreg.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct mkey {
  DWORD parent;
  DWORD namelen;
  const char *name;
  DWORD firstkid, lastkid, nextsib;  // subkeys in creation order
  DWORD firstval, lastval;           // values in creation order
  DWORD link;                        // MRNONE, or the key this one stands for
  DWORD kidstart, nkids;             // laid out by layout()
  DWORD valstart, nvals;
  bool dead;
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
};

struct mfault {
  int op;
  char path[MRPATHMAX + 1];
  LONG code;
};

const size_t CHUNK = 1 << 20;
const int MAXFAULTS = 16;
const DWORD MAXMASKS = 1 << 16;

std::vector<mkey> keys;
std::vector<mval> vals;
std::vector<DWORD> kidorder, valorder;
std::vector<DWORD> keyhash, valhash;  // ids + 1; 0 is an empty slot
size_t keyused, valused;
std::vector<std::unique_ptr<char[]>> chunks;
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

inline unsigned char fold(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

bool sameName(const char *a, size_t alen, const char *b, size_t blen) {
  if (alen != blen)
    return false;
  for (size_t k = 0; k < alen; k++)
    if (fold(a[k]) != fold(b[k]))
      return false;
  return true;
}

size_t hashName(DWORD parent, const char *name, size_t len) {
  uint64_t h = 1469598103934665603ull ^ parent;
  for (size_t k = 0; k < len; k++)
    h = (h ^ fold(name[k])) * 1099511628211ull;
  return (size_t)(h ^ (h >> 29));
}

const char *store(const void *p, size_t n) {
  if (n == 0)
    return "";
  if (n > chunkleft) {
    size_t sz = n > CHUNK / 4 ? n : CHUNK;
    chunks.push_back(std::make_unique<char[]>(sz));
    char *c = chunks.back().get();
    if (sz != CHUNK) {  // big items get a chunk of their own
      memcpy(c, p, n);
      return c;
    }
    chunkpos = c;
    chunkleft = CHUNK;
  }
  char *at = chunkpos;
  memcpy(at, p, n);
  chunkpos += n;
  chunkleft -= n;
  return at;
}

// Finds the live entry for (parent, name) in a table, or the empty slot where
// it would go; *slot receives the slot either way.
template <class T>
DWORD probe(const std::vector<DWORD> &table, const std::vector<T> &recs, DWORD parent, const char *name,
            size_t len, size_t *slot, DWORD T::*owner) {
  size_t mask = table.size() - 1;
  size_t s = hashName(parent, name, len) & mask;
  while (table[s] != 0) {
    const T &r = recs[table[s] - 1];
    if (!r.dead && r.*owner == parent && sameName(r.name, r.namelen, name, len)) {
      *slot = s;
      return table[s] - 1;
    }
    s = (s + 1) & mask;
  }
  *slot = s;
  return MRNONE;
}

template <class T>
void grow(std::vector<DWORD> &table, size_t used, const std::vector<T> &recs, DWORD T::*owner) {
  if ((used + 1) * 2 <= table.size())
    return;
  std::vector<DWORD> old;
  old.swap(table);
  table.assign(old.empty() ? 1024 : old.size() * 2, 0);
  size_t mask = table.size() - 1;
  for (DWORD e : old) {
    if (e == 0 || recs[e - 1].dead)
      continue;
    const T &r = recs[e - 1];
    size_t s = hashName(r.*owner, r.name, r.namelen) & mask;
    while (table[s] != 0)
      s = (s + 1) & mask;
    table[s] = e;
  }
}

DWORD newKey(DWORD parent, const char *name, size_t len) {
  mkey k = {};
  k.parent = parent;
  k.namelen = (DWORD)len;
  k.name = store(name, len);
  k.firstkid = k.lastkid = k.nextsib = MRNONE;
  k.firstval = k.lastval = MRNONE;
  k.link = MRNONE;
  keys.push_back(k);
  DWORD id = (DWORD)keys.size() - 1;
  if (parent != MRNONE) {
    mkey &p = keys[parent];
    if (p.lastkid == MRNONE)
      p.firstkid = id;
    else
      keys[p.lastkid].nextsib = id;
    p.lastkid = id;
  }
  dirty = true;
  return id;
}

bool kidLess(DWORD a, DWORD b) {
  const mkey &x = keys[a];
  const mkey &y = keys[b];
  size_t n = std::min(x.namelen, y.namelen);
  for (size_t k = 0; k < n; k++) {
    unsigned char c = fold(x.name[k]);
    unsigned char d = fold(y.name[k]);
    if (c != d)
      return c < d;
  }
  return x.namelen < y.namelen;
}

// Lays out every live key's subkeys (sorted) and values (in creation order).
void layout() {
  kidorder.clear();
  valorder.clear();
  for (mkey &k : keys) {
    k.kidstart = (DWORD)kidorder.size();
    k.nkids = 0;
    for (DWORD c = k.firstkid; c != MRNONE; c = keys[c].nextsib) {
      kidorder.push_back(c);
      k.nkids++;
    }
    std::sort(kidorder.begin() + k.kidstart, kidorder.end(), kidLess);
    k.valstart = (DWORD)valorder.size();
    k.nvals = 0;
    for (DWORD v = k.firstval; v != MRNONE; v = vals[v].next) {
      valorder.push_back(v);
      k.nvals++;
    }
  }
  dirty = false;
}

DWORD follow(DWORD k) {
  // A link's target is a real key; links never chain.
  return keys[k].link != MRNONE ? keys[k].link : k;
}

int rootIndex(HKEY h) {
  uintptr_t v = (uintptr_t)h;
  switch (v) {
    case 0x80000002u:
      return MRHKLM;
    case 0x80000001u:
      return MRHKCU;
    case 0x80000003u:
      return MRHKU;
    case 0x80000000u:
      return MRHKCR;
    case 0x80000005u:
      return MRHKCC;
    default:
      return -1;
  }
}

// The key an HKEY stands for, or MRNONE.
DWORD keyOf(HKEY h) {
  int r = rootIndex(h);
  if (r >= 0)
    return (DWORD)r;
  uintptr_t v = (uintptr_t)h;
  if (v < 16 || (v & 15) != 0)
    return MRNONE;
  size_t slot = v / 16 - 1;
  if (slot >= (size_t)MRHANDLES || handles[slot] == 0)
    return MRNONE;
  return handles[slot] - 1;
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
    if (faults[f].op == op && sameName(faults[f].path, strlen(faults[f].path), full, len)) {
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

void prepare() {
  if (dirty)
    layout();
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
  chunks.clear();
  chunkleft = 0;
  chunkpos = nullptr;
  static const char *const names[MRNROOTS] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS",
                                              "HKEY_CLASSES_ROOT", "HKEY_CURRENT_CONFIG"};
  for (const char *n : names)
    newKey(MRNONE, n, strlen(n));
  memset(handles, 0, sizeof handles);
  memset(faultnth, 0, sizeof faultnth);
  nfaults = 0;
  watcher = nullptr;
  mrresetcalls();
  layout();
}

DWORD mrroot(int root) {
  if (keys.empty())
    mrclear();
  return (DWORD)root;
}

DWORD mrfind(DWORD parent, const char *name, size_t len) {
  size_t slot;
  return probe(keyhash, keys, parent, name, len, &slot, &mkey::parent);
}

DWORD mrkey(DWORD parent, const char *name, size_t len) {
  parent = follow(parent);
  DWORD k = mrfind(parent, name, len);
  if (k != MRNONE)
    return k;
  grow(keyhash, keyused, keys, &mkey::parent);
  size_t slot;
  probe(keyhash, keys, parent, name, len, &slot, &mkey::parent);
  k = newKey(parent, name, len);
  keyhash[slot] = k + 1;
  keyused++;
  return k;
}

void mrdelkey(DWORD key) {
  if (key < MRNROOTS || key >= keys.size() || keys[key].dead)
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
    break;
  }
  // Everything below is unreachable from here on. A link into the subtree
  // would dangle, so it goes too.
  k.dead = true;
  dirty = true;
  for (DWORD o = MRNROOTS; o < keys.size(); o++) {
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
}

void mrsetvalue(DWORD key, const char *name, size_t namelen, DWORD type, const void *data, size_t size) {
  key = follow(key);
  size_t slot;
  DWORD v = probe(valhash, vals, key, name, namelen, &slot, &mval::key);
  if (v == MRNONE) {
    grow(valhash, valused, vals, &mval::key);
    probe(valhash, vals, key, name, namelen, &slot, &mval::key);
    mval r = {};
    r.key = key;
    r.namelen = (DWORD)namelen;
    r.name = store(name, namelen);
    r.next = MRNONE;
    vals.push_back(r);
    v = (DWORD)vals.size() - 1;
    valhash[slot] = v + 1;
    valused++;
    mkey &k = keys[key];
    if (k.lastval == MRNONE)
      k.firstval = v;
    else
      vals[k.lastval].next = v;
    k.lastval = v;
  }
  vals[v].type = type;
  vals[v].size = (DWORD)size;
  vals[v].data = store(data, size);
  dirty = true;
}

void mrdelvalue(DWORD key, const char *name, size_t namelen) {
  key = follow(key);
  size_t slot;
  DWORD v = probe(valhash, vals, key, name, namelen, &slot, &mval::key);
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
    break;
  }
  vals[v].dead = true;
  dirty = true;
}

int mrgetvalue(DWORD key, const char *name, size_t namelen, DWORD *type, const char **data, size_t *size) {
  size_t slot;
  DWORD v = probe(valhash, vals, follow(key), name, namelen, &slot, &mval::key);
  if (v == MRNONE)
    return -1;
  *type = vals[v].type;
  *data = vals[v].data;
  *size = vals[v].size;
  return 0;
}

void mrready(void) { prepare(); }

DWORD mrpath(const char *path) {
  DWORD k = mrroot(MRHKLM);
  const char *p = path;
  while (*p) {
    const char *e = strchr(p, '\\');
    size_t n = e ? (size_t)(e - p) : strlen(p);
    if (n > 0)
      k = follow(mrkey(k, p, n));
    p += n;
    if (*p == '\\')
      p++;
  }
  return k;
}

void mrsz(const char *path, const char *name, const char *text) {
  mrsetvalue(mrpath(path), name, strlen(name), REG_SZ, text, strlen(text) + 1);
}

void mrdata(const char *path, const char *name, DWORD type, const void *data, size_t size) {
  mrsetvalue(mrpath(path), name, strlen(name), type, data, size);
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

DWORD mrcalls(int op) { return calls[op]; }

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

DWORD mrnkeys(void) { return (DWORD)keys.size(); }

void mrwatch(mrwatchfn fn) { watcher = fn; }

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
  if (keys.empty())
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
  const char *p = subkey;
  // Windows refuses a path that starts with a backslash; one at the end is
  // accepted and means nothing.
  if (*p == '\\')
    return ERROR_INVALID_PARAMETER;
  while (*p) {
    const char *e = strchr(p, '\\');
    size_t n = e ? (size_t)(e - p) : strlen(p);
    if (n == 0)
      return ERROR_FILE_NOT_FOUND;
    DWORD c = mrfind(k, p, n);
    if (c == MRNONE)
      return ERROR_FILE_NOT_FOUND;
    k = follow(c);
    p += n;
    if (*p == '\\')
      p++;
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
  if (name == nullptr || namesize == nullptr || reserved != nullptr || (data != nullptr && datasize == nullptr))
    return ERROR_INVALID_PARAMETER;
  const mkey &key = keys[follow(k)];
  if (index >= key.nvals)
    return ERROR_NO_MORE_ITEMS;
  const mval &v = vals[valorder[key.valstart + index]];
  // The name must leave room for its terminating zero.
  if (v.namelen >= *namesize)
    return ERROR_MORE_DATA;
  if (data != nullptr && v.size > *datasize) {
    *datasize = v.size;
    return ERROR_MORE_DATA;
  }
  memcpy(name, v.name, v.namelen);
  name[v.namelen] = 0;
  *namesize = v.namelen;
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
  if (c.namelen >= *namesize)
    return ERROR_MORE_DATA;
  memcpy(name, c.name, c.namelen);
  name[c.namelen] = 0;
  *namesize = c.namelen;
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
  size_t slot;
  DWORD v = probe(valhash, vals, follow(k), name, strlen(name), &slot, &mval::key);
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
  if (rootIndex(hkey) >= 0)
    return ERROR_SUCCESS;
  DWORD k = keyOf(hkey);
  if (k == MRNONE)
    return ERROR_INVALID_HANDLE;
  handles[(uintptr_t)hkey / 16 - 1] = 0;
  return ERROR_SUCCESS;
}
