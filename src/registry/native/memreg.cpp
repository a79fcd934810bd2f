// The in-memory registry: one object holding the keys, the open handles and
// the code page the "A" calls hand text over in, and the five calls as
// Windows answers them. regcalls.cpp puts fault injection and call tracing
// in front of the calls.
#include "memreg.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "codepage.h"
#include "regcalls.h"

namespace {

// Values few enough to be looked through in order (findval), and subkeys
// enough to be found by hash once the registry is ready (kidplace).
const size_t FEWVALS = 16, MANYKIDS = 64;
const DWORD MEMOS = 64;  // keys that memofind remembers a subkey of

// A name in the registry's text.
struct mname {
  DWORD at, len;  // in code units
};

// A subkey as its parent keeps it.
struct mkid {
  DWORD id;
  mname name;
  uint32_t hash;  // namehash(name)
};

struct mvalue {
  mname name;
  DWORD at;    // where its data starts in the registry's text
  DWORD size;  // of its data, in bytes
  DWORD type;
};

// What a key with many subkeys or values keeps besides, to find names fast.
struct mindex {
  std::vector<std::pair<uint32_t, DWORD>> byhash;  // with MANYKIDS (mrready): kids' hashes and places, sorted
  std::vector<DWORD> byname;  // with more than FEWVALS values: indices into vals, sorted by name
};

struct mkey {
  DWORD parent;                // MRNONE for a root
  mname name;                  // as created
  DWORD link;                  // MRNONE, or the key this one stands for
  std::unique_ptr<mindex> ix;  // made when first needed: few keys need one
  std::vector<mkid> kids;      // live subkeys, in Windows' order
  std::vector<mvalue> vals;    // in creation order
};

struct memreg {
  std::deque<mkey> keys;  // by id; the roots first, in MRHKLM order
  // Keys' and values' names, and values' data as Windows stores it (an odd
  // size takes half a unit), as they came; a value set again goes at the end.
  std::u16string text;
  std::vector<DWORD> links;             // keys that are links
  DWORD handles[MRHANDLES];             // key id + 1 of each open handle's key, 0 for a free slot
  const cpage *cp;                      // what the calls hand text over in
  char16_t wide[MRNAMEMAX + 1];         // a name or path handed to a call, in UTF-16
  std::pair<DWORD, DWORD> memo[MEMOS];  // memofind's: a key, and the subkey last found under it
};

// The registry, holding the roots from the first call on. It lasts as long
// as the process: freeing half a million items at its end is time for nothing.
memreg &reg() {
  static memreg *r = nullptr;
  if (r == nullptr) {
    r = new memreg;
    mrclear();
  }
  return *r;
}

std::u16string_view textof(mname n) {
  return std::u16string_view(reg().text.data() + n.at, n.len);
}

mname addtext(std::u16string_view s) {
  mname n = {(DWORD)reg().text.size(), (DWORD)s.size()};
  reg().text += s;
  return n;
}

DWORD follow(DWORD k) {  // a link's target is a real key: links never chain
  return reg().keys[k].link != MRNONE ? reg().keys[k].link : k;
}

// Where name is, or would go, among items sorted by the names that nameof
// gives them. Exports list names in order, so a name is usually the last
// one or goes after it: that is looked at first.
template <typename T, typename F>
typename std::vector<T>::iterator place(std::vector<T> &items, std::u16string_view name, F nameof) {
  if (items.empty() || nameless(nameof(items.back()), name))
    return items.end();
  if (!nameless(name, nameof(items.back())))
    return items.end() - 1;
  return std::lower_bound(items.begin(), items.end(), name,
                          [&](const T &item, std::u16string_view n) { return nameless(nameof(item), n); });
}

uint32_t namehash(std::u16string_view name) {  // FNV-1a, of the name upper-cased
  uint32_t h = 2166136261u;
  for (char16_t c : name)
    h = (h ^ upper(c)) * 16777619u;
  return h;
}

// Where name is, or would go, among p's subkeys; *found tells which. Among
// many, the scans' opens come in no order of theirs: their hashes tell.
std::vector<mkid>::iterator kidplace(mkey &p, std::u16string_view name, bool *found) {
  static const mindex none;
  const auto &byhash = (p.ix ? *p.ix : none).byhash;
  std::pair<uint32_t, DWORD> h = {byhash.empty() ? 0 : namehash(name), 0};
  for (auto at = std::lower_bound(byhash.begin(), byhash.end(), h);
       at != byhash.end() && at->first == h.first; ++at)
    if ((*found = samename(textof(p.kids[at->second].name), name)))
      return p.kids.begin() + at->second;
  auto at = place(p.kids, name, [&](const mkid &c) { return textof(c.name); });
  *found = at != p.kids.end() && samename(textof(at->name), name);
  return at;
}

// The index in k.vals of the value called name, or MRNONE. A few values are
// looked through, their lengths first, so that few of their names are read.
DWORD findval(mkey &k, std::u16string_view name) {
  bool few = k.vals.size() <= FEWVALS;  // else k.ix->byname is there
  for (DWORD v = 0; few && v < k.vals.size(); v++)
    if (k.vals[v].name.len == name.size() && samename(textof(k.vals[v].name), name))
      return v;
  if (few)
    return MRNONE;
  auto at = place(k.ix->byname, name, [&](DWORD v) { return textof(k.vals[v].name); });
  return at != k.ix->byname.end() && samename(textof(k.vals[*at].name), name) ? *at : MRNONE;
}

mindex &ixof(mkey &k) {  // made when first needed
  return k.ix ? *k.ix : *(k.ix = std::make_unique<mindex>());
}

// Writes a value's data at the end of the registry's text.
mvalue writeval(mname name, DWORD type, const void *data, size_t size) {
  std::u16string &t = reg().text;
  mvalue v = {name, (DWORD)t.size(), (DWORD)size, type};
  t.resize(t.size() + (size + 1) / 2);
  if (size > 0)
    memcpy(t.data() + v.at, data, size);
  return v;
}

// The key an HKEY stands for, or MRNONE.
DWORD keyof(HKEY h) {
  uintptr_t v = (uintptr_t)h;
  if (v >= 16 && v % 16 == 0 && v / 16 - 1 < (uintptr_t)MRHANDLES)
    return reg().handles[v / 16 - 1] - 1;  // a free slot's 0 gives MRNONE
  int r = rootbyhandle(h);
  return r >= 0 ? (DWORD)r : MRNONE;
}

// UTF-16 text as the calls hand it over, into out (cap bytes at most, no
// terminator); returns its whole length in the code page.
size_t atext(const char16_t *s, size_t n, char *out, size_t cap) {
  // What surely fits is converted in one go.
  if (out != nullptr && n <= cap / CPMAXBYTES)
    return cpfromwide(reg().cp, s, n, out);
  // Else a character at a time (a surrogate pair is one), keeping what fits.
  size_t len = 0;
  char b[2 * CPMAXBYTES];
  for (size_t k = 0, step; k < n; k += step) {
    step = k + 1 < n && s[k] >= 0xd800 && s[k] < 0xdc00 && s[k + 1] >= 0xdc00 && s[k + 1] < 0xe000 ? 2 : 1;
    size_t m = cpfromwide(reg().cp, s + k, step, b);
    for (size_t i = 0; i < m; i++, len++)
      if (len < cap)
        out[len] = b[i];
  }
  return len;
}

// Hands a name over into buf, of *size bytes with room for a terminator.
LONG aname(std::u16string_view name, LPSTR buf, LPDWORD size) {
  size_t n = atext(name.data(), name.size(), buf, *size);
  if (n >= *size)
    return ERROR_MORE_DATA;
  buf[n] = 0;
  *size = (DWORD)n;
  return ERROR_SUCCESS;
}

// Hands a value's data over: string types converted unit by unit (an odd
// last byte dropped, no terminator added), the rest as stored.
LONG adata(const mvalue &v, LPDWORD type, LPBYTE data, LPDWORD datasize) {
  size_t size = v.size, cap = data != nullptr ? *datasize : 0;
  if (istext(v.type))
    size = atext(reg().text.data() + v.at, v.size / 2, (char *)data, cap);
  else if (data != nullptr && size <= cap)
    memcpy(data, reg().text.data() + v.at, size);
  if (data != nullptr && size > cap) {
    *datasize = (DWORD)size;
    return ERROR_MORE_DATA;
  }
  if (type != nullptr)
    *type = v.type;
  if (datasize != nullptr)
    *datasize = (DWORD)size;
  return ERROR_SUCCESS;
}

// Text handed to a call, in the code page, as UTF-16 in reg().wide; false
// when it is longer than max bytes.
bool widen(LPCSTR s, size_t max, std::u16string_view *out) {
  size_t n = strnlen(s, max + 1);
  if (n > max)
    return false;
  *out = std::u16string_view(reg().wide, cptowide(reg().cp, (const unsigned char *)s, n, reg().wide));
  return true;
}

// mrfind's fast path for the opens: the subkey found last under each of a
// few keys. The scans open path after path that share their first names,
// and a name spelt exactly as that subkey's is it.
DWORD memofind(DWORD parent, std::u16string_view name) {
  std::pair<DWORD, DWORD> &m = reg().memo[parent % MEMOS];
  if (m.first != parent || m.second == MRNONE || textof(reg().keys[m.second].name) != name)
    m = {parent, mrfind(parent, name)};
  return m.second;
}

}  // namespace

void mrclear(void) {
  memreg &r = reg();
  r.keys.clear();
  r.links.clear();
  r.text.clear();
  for (int root = 0; root < MRNROOTS; root++)
    r.keys.push_back(mkey{MRNONE, {}, MRNONE, {}, {}, {}});
  memset(r.handles, 0, sizeof r.handles);
  std::fill(std::begin(r.memo), std::end(r.memo), std::pair(MRNONE, MRNONE));
  r.cp = cpfind(CPFALLBACK);
  regcallsreset();
}

void mrreserve(size_t size) {
  try {  // only a hint: without the room, the text grows as it goes
    reg().text.reserve(reg().text.size() + size / 2);
  } catch (const std::exception &) {
  }
}

DWORD mrfind(DWORD parent, std::u16string_view name) {
  bool found;
  auto at = kidplace(reg().keys[follow(parent)], name, &found);
  return found ? at->id : MRNONE;
}

DWORD mrkey(DWORD parent, std::u16string_view name) {
  std::deque<mkey> &keys = reg().keys;
  mkey &p = keys[parent = follow(parent)];
  bool found;
  auto at = kidplace(p, name, &found);
  if (found)
    return at->id;
  DWORD k = (DWORD)keys.size();
  mname n = addtext(name);
  p.kids.insert(at, mkid{k, n, namehash(name)});
  if (p.ix)
    p.ix->byhash.clear();
  keys.push_back(mkey{parent, n, MRNONE, {}, {}, {}});
  return k;
}

void mrdelkey(DWORD key) {
  std::deque<mkey> &keys = reg().keys;
  std::fill(std::begin(reg().memo), std::end(reg().memo), std::pair(MRNONE, MRNONE));
  if (key < MRNROOTS || key >= keys.size())
    return;
  mkey &p = keys[keys[key].parent];
  if (std::erase_if(p.kids, [&](const mkid &c) { return c.id == key; }) == 0)
    return;  // deleted already
  if (p.ix)
    p.ix->byhash.clear();
  // Everything below is unreachable from here on. A link into the subtree
  // would dangle, so it goes too.
  for (DWORD l : reg().links) {
    DWORD t = keys[l].link;
    while (t >= MRNROOTS && t != key)
      t = keys[t].parent;
    if (t == key)
      mrdelkey(l);
  }
}

void mrlink(DWORD parent, std::u16string_view name, DWORD target) {
  DWORD k = mrkey(parent, name);
  reg().keys[k].link = follow(target);
  reg().links.push_back(k);
}

void mrsetvalue(DWORD key, std::u16string_view name, DWORD type, const void *data, size_t size) {
  mkey &k = reg().keys[follow(key)];
  DWORD v = findval(k, name);
  if (v != MRNONE) {
    k.vals[v] = writeval(k.vals[v].name, type, data, size);  // the name stays as first spelt
    return;
  }
  if (k.vals.size() > FEWVALS)
    k.ix->byname.insert(place(k.ix->byname, name, [&](DWORD v) { return textof(k.vals[v].name); }),
                        (DWORD)k.vals.size());
  k.vals.push_back(writeval(addtext(name), type, data, size));
  if (k.vals.size() == FEWVALS + 1) {
    std::vector<DWORD> &byname = ixof(k).byname;
    byname.resize(k.vals.size());
    std::iota(byname.begin(), byname.end(), 0);
    std::sort(byname.begin(), byname.end(),
              [&](DWORD a, DWORD b) { return nameless(textof(k.vals[a].name), textof(k.vals[b].name)); });
  }
}

void mrdelvalue(DWORD key, std::u16string_view name) {
  mkey &k = reg().keys[follow(key)];
  DWORD v = findval(k, name);
  if (v == MRNONE)
    return;
  if (k.vals.size() > FEWVALS) {
    std::erase(k.ix->byname, v);
    for (DWORD &o : k.ix->byname)
      o -= o > v;
  }
  k.vals.erase(k.vals.begin() + v);
}

int mrgetvalue(DWORD key, std::u16string_view name, DWORD *type, const char **data, size_t *size) {
  mkey &k = reg().keys[follow(key)];
  DWORD v = findval(k, name);
  if (v == MRNONE)
    return -1;
  *type = k.vals[v].type;
  *data = (const char *)(reg().text.data() + k.vals[v].at);
  *size = k.vals[v].size;
  return 0;
}

unsigned mracp(void) {
  DWORD k = MRHKLM;
  for (const char16_t *n : {u"SYSTEM", u"CurrentControlSet", u"Control", u"Nls", u"CodePage"})
    if ((k = mrfind(k, n)) == MRNONE)
      return CPFALLBACK;
  DWORD type;
  const char *data;
  size_t size;
  if (mrgetvalue(k, u"ACP", &type, &data, &size) != 0)
    return CPFALLBACK;
  // The digits of the UTF-16 text, up to its first other character.
  unsigned acp = 0;
  for (size_t n = 0; n + 1 < size && data[n + 1] == 0 && data[n] >= '0' && data[n] <= '9' && acp < 100000;
       n += 2)
    acp = acp * 10 + (unsigned)(data[n] - '0');
  return acp;
}

int mrready(unsigned *acp) {
  for (mkey &k : reg().keys)
    if (k.kids.size() >= MANYKIDS && (!k.ix || k.ix->byhash.empty())) {
      auto &byhash = ixof(k).byhash;
      for (DWORD i = 0; i < k.kids.size(); i++)
        byhash.emplace_back(k.kids[i].hash, i);
      std::sort(byhash.begin(), byhash.end());
    }
  unsigned cp = mracp();
  if (acp)
    *acp = cp;
  reg().cp = cpfor(cp);
  return cpfind(cp) ? 0 : -1;
}

int mrhandles(HKEY *out, int max) {
  int n = 0;
  for (int slot = 0; slot < MRHANDLES; slot++)
    if (reg().handles[slot] != 0 && n++ < max)
      out[n - 1] = (HKEY)(uintptr_t)((slot + 1) * 16);
  return n;
}

int mrkeypath(HKEY h, char *buf, size_t cap) {
  DWORD k = keyof(h);
  if (k == MRNONE || cap == 0)
    return -1;
  std::u16string path;
  for (; k >= MRNROOTS; k = reg().keys[k].parent)
    path.insert(0, std::u16string(textof(reg().keys[k].name)) + (path.empty() ? u"" : u"\\"));
  size_t n = std::min(atext(path.data(), path.size(), buf, cap - 1), cap - 1);
  buf[n] = 0;
  return (int)n;
}

DWORD mrnkeys(void) {
  return (DWORD)reg().keys.size();
}

// The five calls, as Windows answers them.

LONG mropenkey(HKEY hkey, LPCSTR subkey, PHKEY result) {
  DWORD k = keyof(hkey);
  if (k == MRNONE || result == nullptr)
    return ERROR_INVALID_HANDLE;
  std::u16string_view path;
  if (!widen(subkey ? subkey : "", MRPATHMAX, &path))
    return ERROR_INVALID_PARAMETER;
  // Windows refuses a path that starts with a backslash; one at the end is
  // accepted and means nothing.
  if (!path.empty() && path[0] == u'\\')
    return ERROR_BAD_PATHNAME;
  k = follow(k);
  for (size_t i = 0, e; i < path.size(); i = e + 1) {
    e = std::min(path.find(u'\\', i), path.size());
    if (e == i || (k = memofind(k, path.substr(i, e - i))) == MRNONE)
      return ERROR_FILE_NOT_FOUND;
    k = follow(k);
  }
  for (int slot = 0; slot < MRHANDLES; slot++)
    if (reg().handles[slot] == 0) {
      reg().handles[slot] = k + 1;
      *result = (HKEY)(uintptr_t)((slot + 1) * 16);
      return ERROR_SUCCESS;
    }
  return ERROR_TOO_MANY_OPEN_FILES;
}

LONG mrenumvalue(HKEY hkey, DWORD index, LPSTR name, LPDWORD namesize, LPDWORD reserved, LPDWORD type,
                 LPBYTE data, LPDWORD datasize) {
  DWORD k = keyof(hkey);
  if (k == MRNONE)
    return ERROR_INVALID_HANDLE;
  if (name == nullptr || namesize == nullptr || reserved != nullptr ||
      (data != nullptr && datasize == nullptr))
    return ERROR_INVALID_PARAMETER;
  const mkey &key = reg().keys[follow(k)];
  if (index >= key.vals.size())
    return ERROR_NO_MORE_ITEMS;
  const mvalue &v = key.vals[index];
  DWORD room = *namesize;
  LONG ret = aname(textof(v.name), name, &room);
  if (ret == ERROR_SUCCESS)
    ret = adata(v, type, data, datasize);
  if (ret == ERROR_SUCCESS)
    *namesize = room;
  return ret;
}

LONG mrenumkey(HKEY hkey, DWORD index, LPSTR name, LPDWORD namesize, LPDWORD reserved, LPSTR cls,
               LPDWORD clssize, PFILETIME lastwrite) {
  DWORD k = keyof(hkey);
  if (k == MRNONE)
    return ERROR_INVALID_HANDLE;
  if (name == nullptr || namesize == nullptr || reserved != nullptr)
    return ERROR_INVALID_PARAMETER;
  const mkey &key = reg().keys[follow(k)];
  if (index >= key.kids.size())
    return ERROR_NO_MORE_ITEMS;
  LONG ret = aname(textof(key.kids[index].name), name, namesize);
  if (ret != ERROR_SUCCESS)
    return ret;
  if (cls != nullptr && clssize != nullptr && *clssize > 0) {
    cls[0] = 0;
    *clssize = 0;
  }
  if (lastwrite != nullptr)
    lastwrite->dwLowDateTime = lastwrite->dwHighDateTime = 0;
  return ERROR_SUCCESS;
}

LONG mrqueryvalue(HKEY hkey, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD datasize) {
  DWORD k = keyof(hkey);
  if (k == MRNONE)
    return ERROR_INVALID_HANDLE;
  if (reserved != nullptr || (data != nullptr && datasize == nullptr))
    return ERROR_INVALID_PARAMETER;
  // Longer names than Windows allows find nothing.
  std::u16string_view n;
  mkey &key = reg().keys[follow(k)];
  DWORD v = widen(name ? name : "", MRNAMEMAX, &n) ? findval(key, n) : MRNONE;
  if (v == MRNONE)
    return ERROR_FILE_NOT_FOUND;
  return adata(key.vals[v], type, data, datasize);
}

LONG mrclosekey(HKEY hkey) {
  if (rootbyhandle(hkey) >= 0)
    return ERROR_SUCCESS;
  DWORD k = keyof(hkey);
  if (k == MRNONE)
    return ERROR_INVALID_HANDLE;
  reg().handles[(uintptr_t)hkey / 16 - 1] = 0;
  return ERROR_SUCCESS;
}
