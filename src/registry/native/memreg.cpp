// The in-memory registry: one object holding the keys, the open handles and
// the code page the "A" calls hand text over in (memregdata.h), and the five
// calls as Windows answers them.
#include "memreg.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "codepage.h"
#include "memregdata.h"

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

int slotof(HKEY h) {
  uintptr_t v = (uintptr_t)h;
  if (v >= 16 && v % 16 == 0 && v / 16 - 1 < (uintptr_t)MRHANDLES && reg().handles[v / 16 - 1] != 0)
    return (int)(v / 16 - 1);
  return -1;
}

DWORD keyof(HKEY h) {
  int slot = slotof(h);
  if (slot >= 0)
    return reg().handles[slot] - 1;
  int r = rootbyhandle(h);
  return r >= 0 ? (DWORD)r : MRNONE;
}

namespace {

mname addtext(std::u16string_view s) {
  mname n = {(DWORD)reg().text.size(), (DWORD)s.size()};
  reg().text += s;
  return n;
}

DWORD follow(DWORD k) {  // a link's target is a real key: links never chain
  return reg().keys[k].link != MRNONE ? reg().keys[k].link : k;
}

// Where name is among p's subkeys, or where it would go; *found tells which.
std::vector<mkid>::iterator kidplace(mkey &p, std::u16string_view name, bool *found) {
  auto at = std::lower_bound(p.kids.begin(), p.kids.end(), name, [](const mkid &c, std::u16string_view n) {
    return nameless(textof(c.name), n);
  });
  *found = at != p.kids.end() && samename(textof(at->name), name);
  return at;
}

// The index in k.vals of the value called name, or MRNONE: looked through
// in order (lengths first, so that few names are read), or, among many, in
// name order (k.byname).
DWORD findval(const mkey &k, std::u16string_view name) {
  if (k.byname.empty()) {
    for (DWORD v = 0; v < k.vals.size(); v++)
      if (k.vals[v].name.len == name.size() && samename(textof(k.vals[v].name), name))
        return v;
    return MRNONE;
  }
  auto at = std::lower_bound(k.byname.begin(), k.byname.end(), name, [&](DWORD v, std::u16string_view n) {
    return nameless(textof(k.vals[v].name), n);
  });
  return at != k.byname.end() && samename(textof(k.vals[*at].name), name) ? *at : MRNONE;
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
    step = cpcharunits(s + k, n - k);
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

// Sorts the indices of k's values by name, once it has more than FEWVALS.
void sortbyname(mkey &k) {
  k.byname.resize(k.vals.size());
  std::iota(k.byname.begin(), k.byname.end(), 0);
  std::sort(k.byname.begin(), k.byname.end(),
            [&](DWORD a, DWORD b) { return nameless(textof(k.vals[a].name), textof(k.vals[b].name)); });
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
  r.cp = cpfind(CPFALLBACK);
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
  p.kids.insert(at, mkid{k, n});
  keys.push_back(mkey{parent, n, MRNONE, {}, {}, {}});
  return k;
}

void mrdelkey(DWORD key) {
  std::deque<mkey> &keys = reg().keys;
  if (key < MRNROOTS || key >= keys.size())
    return;
  mkey &p = keys[keys[key].parent];
  if (std::erase_if(p.kids, [&](const mkid &c) { return c.id == key; }) == 0)
    return;  // deleted already
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
  k.vals.push_back(writeval(addtext(name), type, data, size));
  if (k.vals.size() == FEWVALS + 1) {
    sortbyname(k);
  } else if (!k.byname.empty()) {
    auto at = std::lower_bound(k.byname.begin(), k.byname.end(), name, [&](DWORD i, std::u16string_view n) {
      return nameless(textof(k.vals[i].name), n);
    });
    k.byname.insert(at, (DWORD)k.vals.size() - 1);
  }
}

void mrdelvalue(DWORD key, std::u16string_view name) {
  mkey &k = reg().keys[follow(key)];
  DWORD v = findval(k, name);
  if (v == MRNONE)
    return;
  k.vals.erase(k.vals.begin() + v);
  k.byname.clear();
  if (k.vals.size() > FEWVALS)
    sortbyname(k);
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
  unsigned cp = mracp();
  if (acp)
    *acp = cp;
  reg().cp = cpfor(cp);
  return cpfind(cp) ? 0 : -1;
}

unsigned mrcodepage(void) {
  unsigned cp = mracp();
  return cpfind(cp) ? cp : CPFALLBACK;
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
    if (e == i || (k = mrfind(k, path.substr(i, e - i))) == MRNONE)
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
  int slot = slotof(hkey);
  if (slot < 0)
    return ERROR_INVALID_HANDLE;
  reg().handles[slot] = 0;
  return ERROR_SUCCESS;
}
