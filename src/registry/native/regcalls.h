// The five calls as Windows answers them (memreg.cpp), behind the layer of
// fault injection and call tracing that regcalls.cpp puts in front of them.
#pragma once

#include "registry.h"

LONG mropenkey(HKEY hkey, LPCSTR subkey, PHKEY result);
LONG mrenumvalue(HKEY hkey, DWORD index, LPSTR name, LPDWORD namesize, LPDWORD reserved, LPDWORD type,
                 LPBYTE data, LPDWORD datasize);
LONG mrenumkey(HKEY hkey, DWORD index, LPSTR name, LPDWORD namesize, LPDWORD reserved, LPSTR cls,
               LPDWORD clssize, PFILETIME lastwrite);
LONG mrqueryvalue(HKEY hkey, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD datasize);
LONG mrclosekey(HKEY hkey);

// Forgets faults, counters and the watcher (mrclear calls it).
void regcallsreset(void);
