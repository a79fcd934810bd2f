// Port resolution. The bus driver lists the devices it enumerated as values
// of SYSTEM\CurrentControlSet\Services\FTDIBUS\Enum, each holding an
// instance id such as USB\VID_0403&PID_6001\A600ARJH. The adapter's device
// instance key is then FTDIBUS\VID_0403+PID_6001+<serial>A\0000 (the driver
// appends the channel letter A), and its FriendlyName ends in "(COMn)".
#include <cstring>

#include "ftdi.h"
#include "run.h"

// Cuts the port name out of the FriendlyName in valuebuf: from the rightmost
// "COM" with at least five characters left to the end of the text, up to the
// next ")" or the end of the text.
static void cutcomport(run &r) {
  r.j = 0;
  r.comport[0] = 0;
  int len = textlen(r.valuebuf, r.valuebufsize);
  for (r.i = len - 5; r.i >= 0; r.i--) {
    if (memcmp(r.valuebuf + r.i, "COM", 3) != 0)
      continue;
    while (r.i < len && r.valuebuf[r.i] != ')' && r.j < (int)BUFSIZE - 1)
      r.comport[r.j++] = (char)r.valuebuf[r.i++];
    r.comport[r.j] = 0;
    return;
  }
}

static int adapterstep(run &r) {
  // The entry's prefix names the spelling of the device key.
  int which = prefixof(r.valuebuf, r.valuebufsize, IDPREFIX);
  if (which < 0)
    return 0;
  DWORD len = (DWORD)IDPREFIX[which].size();
  // The serial number runs to the data's first zero byte, or to its end when
  // the data holds none.
  int n = textlen(r.valuebuf + len, r.valuebufsize - len);
  memcpy(r.ftdiserial, r.valuebuf + len, (size_t)n);
  r.ftdiserial[n] = 0;
  // A serial number this long names no key that can exist; the run ends as
  // for any device instance key that cannot be opened.
  r.ret = buildpath(r, {BUSKEY, "\\", DEVPREFIX[which], r.ftdiserial, INSTANCESUFFIX});
  if (r.ret != 0)
    return fail(r, "regopenkeyexa", 3);
  if (r.debug)
    pair(r, r.namebuf, r.ftdiserial, n);
  r.ret = (DWORD)RegOpenKeyExA(HKEY_LOCAL_MACHINE, r.namebuf, 0, KEY_QUERY_VALUE, &r.hkey2);
  if (r.ret != 0)
    return fail(r, "regopenkeyexa", 3);
  r.namebufsize = BUFSIZE;
  r.valuebufsize = BUFSIZE;
  strcpy(r.namebuf, "FriendlyName");
  r.ret = (DWORD)RegQueryValueExA(r.hkey2, r.namebuf, nullptr, &r.datatype, r.valuebuf, &r.valuebufsize);
  if (r.ret != 0)
    return fail(r, "regqueryvalueexa", 4);
  cutcomport(r);
  pair(r, r.comport, r.ftdiserial, n);
  RegCloseKey(r.hkey2);
  return 0;
}

int scanftdiports(run &r) {
  int status = openroot(r, LISTKEY, KEY_QUERY_VALUE, 2);
  if (status != 0)
    return status;
  status = valueloop(r, r.hkey, r.ndx, adapterstep);
  if (status != 0)
    return status;
  return (int)RegCloseKey(r.hkey);
}
