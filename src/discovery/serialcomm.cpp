// The serial port map: HARDWARE\DEVICEMAP\SERIALCOMM names each serial
// device and holds its port. Virtual COM ports of FTDI adapters show up as
// \Device\VCP<n>.
#include <cstring>

#include "ftdi.h"
#include "run.h"

static int mapstep(run &r) {
  if (r.namebufsize > VCPPREFIX.size() && memcmp(r.namebuf, VCPPREFIX.data(), VCPPREFIX.size()) == 0 &&
      r.debug)
    pair(r, r.namebuf, (const char *)r.valuebuf, textlen(r.valuebuf, r.valuebufsize));
  return 0;
}

int scanserialcomm(run &r) {
  int status = openroot(r, MAPKEY, KEY_QUERY_VALUE, 1);
  if (status != 0)
    return status;
  status = valueloop(r, r.hkey, r.ndx, mapstep);
  if (status != 0)
    return status;
  RegCloseKey(r.hkey);
  return 0;
}
