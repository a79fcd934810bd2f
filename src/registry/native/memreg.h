// The in-memory registry behind the native build's registry calls: how the
// export reader and the tests fill it, break it and look into it.
//
// It keeps what Windows keeps: names in UTF-16, matched without case by
// Windows' upper case and keeping their spelling; value data as bytes, the
// string types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) in UTF-16LE. The "A"
// calls hand names and string data over in the machine's ANSI code page,
// the ACP value of HKLM\SYSTEM\CurrentControlSet\Control\Nls\CodePage (1252
// without it). Subkeys enumerate sorted by their upper-cased names, as
// Windows keeps them; values in the order they were created, and setting an
// existing value keeps its place.
//
// Filling the registry allocates; the five calls never do. Open handles come
// from a fixed table of MRHANDLES entries.
#pragma once

#include <cstddef>
#include <string_view>

#include "registry.h"
#include "regtext.h"

enum { MROPEN, MRENUMVALUE, MRENUMKEY, MRQUERY, MRCLOSE, MRNOPS };

const DWORD MRNONE = 0xffffffffu;
const int MRHANDLES = 256;
const int MRPATHMAX = 8191;   // longest path RegOpenKeyExA accepts
const int MRNAMEMAX = 16383;  // longest value name

// Empties the registry and resets handles, faults and counters.
void mrclear(void);

// Makes room for the text of an export of size bytes, before loading it.
void mrreserve(size_t size);

// Key ids. A root's is its number (MRHKLM and so on), from mrclear on; mrkey
// finds or creates a child.
DWORD mrkey(DWORD parent, std::u16string_view name);
DWORD mrfind(DWORD parent, std::u16string_view name);
// Deletes a key and everything below it; roots cannot be deleted.
void mrdelkey(DWORD key);
// Makes name under parent a link to target, as CurrentControlSet is on a
// live system. Opening it, or a path through it, reaches target.
void mrlink(DWORD parent, std::u16string_view name, DWORD target);

// Sets a value; data is stored as Windows stores it (string types in
// UTF-16LE).
void mrsetvalue(DWORD key, std::u16string_view name, DWORD type, const void *data, size_t size);
void mrdelvalue(DWORD key, std::u16string_view name);
// Looks a value up; returns 0 when found, filling type, data and size.
int mrgetvalue(DWORD key, std::u16string_view name, DWORD *type, const char **data, size_t *size);

// The ACP value the registry holds now, as a number (0 when it is not one),
// or CPFALLBACK when there is none.
unsigned mracp(void);
// Picks the code page the calls convert with (see mracp) and gets the
// registry ready for a run, so that the calls allocate nothing. Returns 0,
// or -1 when that code page is not supported (1252 is used); *acp, when
// asked, tells the ACP.
int mrready(unsigned *acp = nullptr);

// Fault injection. The nth call (from 1) of op returns code instead of
// running; a path fault makes every open of that full path (op MROPEN), or
// every query of path\valuename (op MRQUERY), return code.
void mrfault(int op, DWORD nth, LONG code);
void mrfaultpath(int op, const char *path, LONG code);

// What the calls did since mrclear (or mrresetcalls).
void mrresetcalls(void);
DWORD mrcalls(int op);
// The handles open now, in slot order: fills at most max of them into out
// and returns how many there are.
int mrhandles(HKEY *out, int max);
// Writes the path, below its root, of the key that an open handle or a root
// stands for (empty for a root), in the code page the calls hand names over
// in; returns its length, or -1 for any other h.
int mrkeypath(HKEY h, char *buf, size_t cap);

// Calls fn at the start of each of the five calls, before a fault can answer
// it: the op, the key passed, the index of an enumeration or the access mask
// of an open (else 0) and the subkey or value name of an open or a query
// (else null). Lets a test tie what a run prints to the call it was making.
// mrclear stops it.
typedef void (*mrwatchfn)(int op, HKEY key, DWORD arg, const char *name);
void mrwatch(mrwatchfn fn);

// Total number of keys, for the loader's statistics and tests.
DWORD mrnkeys(void);
