// How the in-memory registry keeps its keys, values and open handles: for
// memreg.cpp, and for the tests' look inside (which handles are open, and
// the path of the key each stands for). Nothing else reads it.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "codepage.h"
#include "memreg.h"

// A name in the registry's text.
struct mname {
  DWORD at;   // where it starts in memreg::text, in code units
  DWORD len;  // its length in code units
};

// A subkey as its parent keeps it.
struct mkid {
  DWORD id;    // the subkey's key id
  mname name;  // its name, as created (the same text as the key's own)
};

struct mvalue {
  mname name;  // as first spelt
  DWORD at;    // where its data starts in memreg::text, in code units
  DWORD size;  // of its data, in bytes
  DWORD type;  // REG_SZ and so on, or any other number
};

struct mkey {
  DWORD parent;               // MRNONE for a root
  mname name;                 // as created
  DWORD link;                 // MRNONE, or the key this one stands for
  std::vector<mkid> kids;     // live subkeys, sorted as Windows sorts them
  std::vector<mvalue> vals;   // in creation order
  std::vector<DWORD> byname;  // with more than FEWVALS values: indices into vals, sorted by name
};

// Values a key may have before findval looks them up by name order instead
// of one by one: a driver's list can hold one per adapter ever plugged in.
const size_t FEWVALS = 16;

struct memreg {
  std::deque<mkey> keys;  // by key id; the roots first, in MRHKLM order
  // Keys' and values' names, and values' data as Windows stores it (an odd
  // size takes half a unit), as they came; a value set again goes at the end.
  std::u16string text;
  std::vector<DWORD> links;      // keys that are links
  DWORD handles[MRHANDLES];      // key id + 1 of each open handle's key, 0 for a free slot
  const cpage *cp;               // what the calls hand text over in
  char16_t wide[MRNAMEMAX + 1];  // a name or path handed to a call, in UTF-16
};

// The registry, holding the roots from the first call on.
memreg &reg();
// A name's text.
std::u16string_view textof(mname n);
// The key an open handle or a root stands for, or MRNONE.
DWORD keyof(HKEY h);
// The slot of the handle table that an open handle takes, or -1.
int slotof(HKEY h);
