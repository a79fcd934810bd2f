// In-process runs of the whole tool over the in-memory registry, with the
// output captured.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "ftdi.h"
#include "regseams.h"
#include "run.h"

// The section header each of the three scans prints.
inline const std::string maphead = std::string("\n>> ") + MAPKEY + "\n";
inline const std::string bushead = std::string("\n>> ") + BUSKEY + "\n";
inline const std::string enumhead = std::string("\n>> ") + LISTKEY + "\n";
// All three: what a quiet run with no adapter prints.
inline const std::string headers = maphead + bushead + enumhead;

// The key a path in UTF-8 names under HKLM, created with its parents (a
// link at its end is that link).
DWORD mrpath(const char *path);

// Short forms, in UTF-8 under HKLM, parents created: mrsz stores text as
// REG_SZ with its terminator, and mrdata stores data of a string type so
// that the calls hand back exactly those bytes in code page 1252.
void mrsz(const char *path, const char *name, const char *text);
void mrdata(const char *path, const char *name, DWORD type, const void *data, size_t size);

// How many handles are open.
inline int mropenhandles(void) {
  return mrhandles(nullptr, 0);
}

// s and a zero byte after it, as text data is stored.
std::string z(const std::string &s);

struct runresult {
  std::string out;
  int status;
};

// One registry call as a run made it.
struct regcall {
  int op;
  HKEY key;          // the key passed: for an open, the parent
  std::string path;  // its key's path under the root; for an open, the parent's path and the subkey
  DWORD mask;        // the access mask of an open
  DWORD index;       // the index of an enumeration
  std::string name;  // the subkey of an open, the value name of a query
  long at;           // output written before the call
  std::string open;  // openkeys() before the call
};

// Runs comserial over what the registry holds now, as main does with argc
// (no argument: debug mode), into out when given, else a temporary file.
// With calls, records there every registry call the run makes. The status
// is what finish makes of the run's.
runresult runargs(int argc, std::vector<regcall> *calls = nullptr, FILE *out = nullptr);
// The same in debug mode, or quiet with one argument.
runresult runtool(bool quiet, std::vector<regcall> *calls = nullptr);
// The paths of the keys open now, one line per handle, in slot order.
std::string openkeys(void);

// Everything written to f so far, which it then closes.
std::string readall(FILE *f);
// A whole file, or "" when it cannot be read.
std::string readfile(const std::string &path);

// A realistic machine: a built-in serial port and two FTDI adapters, one of
// them with the driver's mixed-case names, plus keys the scans must pass over.
void twoadapters(void);
// The lines a clean run over twoadapters() prints.
extern const char twoadaptersdebug[];
extern const char twoadaptersquiet[];

// Little helpers for building registries.
void dword(const char *path, const char *name, DWORD v);
// An adapter as the bus driver records it: its enumerated-devices entry
// under Services\FTDIBUS\Enum, its device key, instance 0000 with a
// FriendlyName and a Device Parameters subkey holding PortName.
void adapter(const char *entry, const char *devkey, const char *serial, const char *friendly);
