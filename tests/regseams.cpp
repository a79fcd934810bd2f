// The registry calls as the tests and the fuzzers have them: each counts
// itself, tells the watcher, lets an injected fault answer it, and otherwise
// asks the in-memory registry.
#include "regseams.h"

#include <cstring>
#include <string>

#include "memregdata.h"

namespace {

const int MAXFAULTS = 16;  // path faults a test may set at once

struct pathfault {
  int op;          // MROPEN or MRQUERY
  char path[256];  // below HKLM, in the calls' code page: those of a test's registry are short
  LONG code;       // what the call returns
};

struct seams {
  DWORD calls[MRNOPS];     // calls of each op so far
  DWORD faultnth[MRNOPS];  // the call of each op that fails (from 1), 0 for none
  LONG faultcode[MRNOPS];  // and what it returns
  pathfault faults[MAXFAULTS];
  int nfaults;                   // path faults set
  mrwatchfn watcher;             // told of every call, or null
  char full[2 * MRPATHMAX + 2];  // a path fault's candidate
};

seams &seam() {
  static seams t;
  return t;
}

// Path faults compare without case.
bool samepath(const char *a, const char *b) {
  for (; *a && *b; a++, b++)
    if (upper((unsigned char)*a) != upper((unsigned char)*b))
      return false;
  return *a == *b;
}

bool pathfaults(int op, HKEY key, const char *name, LONG *code) {
  seams &t = seam();
  if (t.nfaults == 0 || name == nullptr || mrkeypath(key, t.full, MRPATHMAX + 1) < 0)
    return false;
  size_t len = strlen(t.full), n = strnlen(name, MRPATHMAX);
  if (len > 0 && n > 0)
    t.full[len++] = '\\';
  memcpy(t.full + len, name, n);
  t.full[len + n] = 0;
  for (int f = 0; f < t.nfaults; f++)
    if (t.faults[f].op == op && samepath(t.faults[f].path, t.full)) {
      *code = t.faults[f].code;
      return true;
    }
  return false;
}

// What every call does first: true when an injected fault answers it.
bool intercept(int op, HKEY key, DWORD arg, const char *name, LONG *code) {
  seams &t = seam();
  if (t.watcher != nullptr)
    t.watcher(op, key, arg, name);
  t.calls[op]++;
  if (t.faultnth[op] != 0 && t.calls[op] == t.faultnth[op]) {
    *code = t.faultcode[op];
    return true;
  }
  return (op == MROPEN || op == MRQUERY) && pathfaults(op, key, name ? name : "", code);
}

}  // namespace

void testreset(void) {
  mrclear();
  memset(&seam(), 0, sizeof(seams));
}

void mrfault(int op, DWORD nth, LONG code) {
  seam().faultnth[op] = nth;
  seam().faultcode[op] = code;
}

void mrfaultpath(int op, const char *path, LONG code) {
  seams &t = seam();
  if (t.nfaults == MAXFAULTS || strlen(path) >= sizeof t.faults[0].path)
    return;
  t.faults[t.nfaults].op = op;
  strcpy(t.faults[t.nfaults].path, path);
  t.faults[t.nfaults].code = code;
  t.nfaults++;
}

void mrresetcalls(void) {
  memset(seam().calls, 0, sizeof seam().calls);
}

DWORD mrcalls(int op) {
  return seam().calls[op];
}

void mrwatch(mrwatchfn fn) {
  seam().watcher = fn;
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
  // At most CPMAXBYTES bytes a unit; what does not fit is cut.
  std::string a(path.size() * CPMAXBYTES, '\0');
  a.resize(cpfromwide(reg().cp, path.data(), path.size(), a.data()));
  size_t n = std::min(a.size(), cap - 1);
  memcpy(buf, a.data(), n);
  buf[n] = 0;
  return (int)n;
}

LONG RegOpenKeyExA(HKEY hkey, LPCSTR subkey, DWORD options, REGSAM sam, PHKEY result) {
  (void)options;
  LONG code;
  return intercept(MROPEN, hkey, sam, subkey, &code) ? code : mropenkey(hkey, subkey, result);
}

LONG RegEnumValueA(HKEY hkey, DWORD index, LPSTR name, LPDWORD namesize, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD datasize) {
  LONG code;
  return intercept(MRENUMVALUE, hkey, index, nullptr, &code)
             ? code
             : mrenumvalue(hkey, index, name, namesize, reserved, type, data, datasize);
}

LONG RegEnumKeyExA(HKEY hkey, DWORD index, LPSTR name, LPDWORD namesize, LPDWORD reserved, LPSTR cls,
                   LPDWORD clssize, PFILETIME lastwrite) {
  LONG code;
  return intercept(MRENUMKEY, hkey, index, nullptr, &code)
             ? code
             : mrenumkey(hkey, index, name, namesize, reserved, cls, clssize, lastwrite);
}

LONG RegQueryValueExA(HKEY hkey, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD datasize) {
  LONG code;
  return intercept(MRQUERY, hkey, 0, name, &code) ? code
                                                  : mrqueryvalue(hkey, name, reserved, type, data, datasize);
}

LONG RegCloseKey(HKEY hkey) {
  LONG code;
  return intercept(MRCLOSE, hkey, 0, nullptr, &code) ? code : mrclosekey(hkey);
}
