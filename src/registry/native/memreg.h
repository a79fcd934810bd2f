// The in-memory registry behind the native build's registry calls: how the
// export reader and the tests fill it, break it and look into it.
//
// Keys and values are matched case-insensitively (by Windows' upper case)
// and keep their spelling. Subkeys enumerate sorted by their upper-cased
// names, as Windows keeps them; values enumerate in the order they were
// created, and setting an existing value keeps its place.
//
// Names and string data are handed in as UTF-8 or, after mrtextform(MRACP),
// as 8-bit text in the machine's code page; the calls hand them over in the
// code page named by the registry's own ACP value (see mrready). Other data
// is stored exactly as the "A" calls hand it back.
//
// Filling the registry allocates; the five calls never do. Open handles come
// from a fixed table of MRHANDLES entries.
#pragma once

#include <cstddef>

#include "registry.h"
#include "regtext.h"

enum { MROPEN, MRENUMVALUE, MRENUMKEY, MRQUERY, MRCLOSE, MRNOPS };

const DWORD MRNONE = 0xffffffffu;
const int MRHANDLES = 256;
const int MRPATHMAX = 8191;   // longest path RegOpenKeyExA accepts
const int MRNAMEMAX = 16383;  // longest value name

enum { MRUTF8, MRACP };

// Empties the registry and resets handles, faults and counters.
void mrclear(void);

// What a loader may know of the text it hands to mrkey and mrsetvalue: the
// name, or the string data, is all ASCII. Text so marked is stored without
// being looked at again; other text is looked at as it is stored.
enum { MRNAMEASCII = 1, MRDATAASCII = 2 };

// Key ids. Roots exist from mrclear on; mrkey finds or creates a child.
DWORD mrroot(int root);
DWORD mrkey(DWORD parent, const char *name, size_t len, int ascii = 0);
DWORD mrfind(DWORD parent, const char *name, size_t len);
// Deletes a key and everything below it; roots cannot be deleted.
void mrdelkey(DWORD key);
// Makes name under parent a link to target, as CurrentControlSet is on a
// live system. Opening it, or a path through it, reaches target.
void mrlink(DWORD parent, const char *name, size_t len, DWORD target);

// Which text names and string data are handed in as from now on (MRUTF8 or
// MRACP); mrclear sets MRUTF8.
void mrtextform(int form);
void mrsetvalue(DWORD key, const char *name, size_t namelen, DWORD type, const void *data, size_t size,
                int ascii = 0);
void mrdelvalue(DWORD key, const char *name, size_t namelen);
// Looks a value up; returns 0 when found, filling type, data and size.
int mrgetvalue(DWORD key, const char *name, size_t namelen, DWORD *type, const char **data, size_t *size);

// Converts text to the machine's ANSI code page, value ACP of
// HKLM\SYSTEM\CurrentControlSet\Control\Nls\CodePage (1252 without it),
// and lays out the enumeration order. The calls do it themselves after a
// change, but that allocates: loaders call this once they are done. Returns
// 0, or -1 when that code page is not supported (1252 is used); *acp, when
// asked, tells the ACP (0 when it is not a number).
int mrready(unsigned *acp = nullptr);

// Short forms for tests: paths are under HKLM, parents are created; mrdata
// stores data exactly as the calls will hand it back.
DWORD mrpath(const char *path);
void mrsz(const char *path, const char *name, const char *text);
void mrdata(const char *path, const char *name, DWORD type, const void *data, size_t size);

// Fault injection. The nth call (from 1) of op returns code instead of
// running; a path fault makes every open of that full path (op MROPEN), or
// every query of path\valuename (op MRQUERY), return code.
void mrfault(int op, DWORD nth, LONG code);
void mrfaultpath(int op, const char *path, LONG code);

// What the calls did since mrclear (or mrresetcalls).
void mrresetcalls(void);
DWORD mrcalls(int op);
int mropenhandles(void);
DWORD mrmasks(DWORD *masks, DWORD max);  // masks of the opens, in order; returns their count
// The handles open now, in slot order: fills at most max of them into out
// and returns how many there are.
int mrhandles(HKEY *out, int max);
// Writes the path, below its root, of the key that an open handle or a root
// stands for (empty for a root); returns its length, or -1 for any other h.
int mrkeypath(HKEY h, char *buf, size_t cap);

// Calls fn at the start of each of the five calls, before a fault can answer
// it: the op, the key passed, the index of an enumeration (else 0) and the
// subkey or value name of an open or a query (else null). Lets a test tie
// what a run prints to the call it was making. mrclear stops it.
typedef void (*mrwatchfn)(int op, HKEY key, DWORD index, const char *name);
void mrwatch(mrwatchfn fn);

// Total number of keys, for the loader's statistics and tests.
DWORD mrnkeys(void);
