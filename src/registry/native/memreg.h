// The in-memory registry behind the native build's registry calls: how the
// export reader and the tests fill it, and the five calls that read it.
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

const DWORD MRNONE = 0xffffffffu;
const int MRHANDLES = 256;
const int MRPATHMAX = 8191;   // longest path RegOpenKeyExA accepts
const int MRNAMEMAX = 16383;  // longest value name

// Empties the registry and closes every handle.
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
// registry ready for a run. Returns 0, or -1 when that code page is not
// supported (1252 is used); *acp, when asked, tells the ACP.
int mrready(unsigned *acp = nullptr);
// The code page the calls hand text over in after mrready: the ACP, or
// CPFALLBACK for one that is not supported.
unsigned mrcodepage(void);

// Total number of keys, for the loader's statistics and tests.
DWORD mrnkeys(void);

// The five calls as Windows answers them; registry.h's calls are these.
LONG mropenkey(HKEY hkey, LPCSTR subkey, PHKEY result);
LONG mrenumvalue(HKEY hkey, DWORD index, LPSTR name, LPDWORD namesize, LPDWORD reserved, LPDWORD type,
                 LPBYTE data, LPDWORD datasize);
LONG mrenumkey(HKEY hkey, DWORD index, LPSTR name, LPDWORD namesize, LPDWORD reserved, LPSTR cls,
               LPDWORD clssize, PFILETIME lastwrite);
LONG mrqueryvalue(HKEY hkey, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD datasize);
LONG mrclosekey(HKEY hkey);
