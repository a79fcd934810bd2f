// The FTDI bus driver's device tree, SYSTEM\CurrentControlSet\Enum\FTDIBUS:
// one device key per adapter (VID_0403+PID_6001+<serial>, its letters cased
// as the driver wrote them), instance subkeys below it, and their subkeys and
// values. Walked three levels deep and dumped in debug mode.
#include <cstring>

#include "ftdi.h"
#include "run.h"

// One instance subkey: list its subkeys, then reopen it to list its values.
static int instancestep(run &r) {
  memcpy(r.hkeynamebuf2, r.namebuf, r.namebufsize + 1);
  r.ret = (DWORD)RegOpenKeyExA(r.hkey2, r.namebuf, 0, KEY_READ, &r.hkey3);
  if (r.ret != 0)
    return fail(r, "regopenkeyexa", 4);
  subkeyloop(r, r.hkey3, r.ndx3, nullptr);
  RegCloseKey(r.hkey3);
  // namebuf now holds whatever the last enumeration call left there; a
  // failure line below shows it as it is.
  r.ret = (DWORD)RegOpenKeyExA(r.hkey2, r.hkeynamebuf2, 0, KEY_QUERY_VALUE, &r.hkey3);
  if (r.ret != 0)
    return fail(r, "regopenkeyexa", 5);
  valueloop(r, r.hkey3, r.ndx3, nullptr);
  RegCloseKey(r.hkey3);
  return 0;
}

static int devicestep(run &r) {
  int which = prefixof(r.namebuf, r.namebufsize, DEVPREFIX);
  if (which < 0)
    return 0;
  DWORD len = (DWORD)DEVPREFIX[which].size(), n = r.namebufsize - len;
  if (n > BUFSIZE - 1)
    n = BUFSIZE - 1;
  memcpy(r.ftdiserial, r.namebuf + len, n);
  r.ftdiserial[n] = 0;
  // A name this long cannot be a device key on Windows; the path would not
  // fit, so the run ends as for a key that cannot be opened.
  r.ret = buildpath(r, {BUSKEY, "\\", DEVPREFIX[which], r.ftdiserial});
  if (r.ret != 0)
    return fail(r, "regopenkeyexa", 3);
  if (r.debug)
    pair(r, r.namebuf, r.ftdiserial, (int)strlen(r.ftdiserial));
  r.ret = (DWORD)RegOpenKeyExA(HKEY_LOCAL_MACHINE, r.namebuf, 0, KEY_READ, &r.hkey2);
  if (r.ret != 0)
    return fail(r, "regopenkeyexa", 3);
  int status = subkeyloop(r, r.hkey2, r.ndx2, instancestep);
  if (status != 0)
    return status;
  RegCloseKey(r.hkey2);
  return 0;
}

int scanftdibus(run &r) {
  int status = openroot(r, BUSKEY, KEY_READ, 2);
  if (status != 0)
    return status;
  status = subkeyloop(r, r.hkey, r.ndx, devicestep);
  if (status != 0)
    return status;
  RegCloseKey(r.hkey);
  return 0;
}
