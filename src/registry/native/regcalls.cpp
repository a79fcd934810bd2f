// The registry calls of the native build are the in-memory registry's.
#include "memreg.h"
#include "registry.h"

LONG RegOpenKeyExA(HKEY hkey, LPCSTR subkey, DWORD options, REGSAM sam, PHKEY result) {
  (void)options;
  (void)sam;
  return mropenkey(hkey, subkey, result);
}

LONG RegEnumValueA(HKEY hkey, DWORD index, LPSTR name, LPDWORD namesize, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD datasize) {
  return mrenumvalue(hkey, index, name, namesize, reserved, type, data, datasize);
}

LONG RegEnumKeyExA(HKEY hkey, DWORD index, LPSTR name, LPDWORD namesize, LPDWORD reserved, LPSTR cls,
                   LPDWORD clssize, PFILETIME lastwrite) {
  return mrenumkey(hkey, index, name, namesize, reserved, cls, clssize, lastwrite);
}

LONG RegQueryValueExA(HKEY hkey, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD datasize) {
  return mrqueryvalue(hkey, name, reserved, type, data, datasize);
}

LONG RegCloseKey(HKEY hkey) {
  return mrclosekey(hkey);
}
