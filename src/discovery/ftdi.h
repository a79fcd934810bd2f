// Where the scans look, and the names Windows and the FTDI bus driver give
// an adapter (USB vendor 0403, product 6001): one home for the scans, the
// tests and the fuzzers. Lengths come from the strings.
#pragma once

#include <cstring>
#include <string_view>

// The keys the three scans read, below HKEY_LOCAL_MACHINE.
constexpr char MAPKEY[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr char BUSKEY[] = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";
constexpr char LISTKEY[] = "SYSTEM\\CurrentControlSet\\Services\\FTDIBUS\\Enum";

// The start of a serial-port map entry's name for an FTDI virtual COM port.
constexpr std::string_view VCPPREFIX = "\\Device\\VCP";
// An adapter's device key below BUSKEY is one of these and its serial
// number; the driver writes either spelling.
constexpr std::string_view DEVPREFIX[] = {"VID_0403+PID_6001+", "Vid_0403+Pid_6001+"};
// An adapter's entry in LISTKEY holds one of these and its serial number,
// spelt as its device key is.
constexpr std::string_view IDPREFIX[] = {"USB\\VID_0403&PID_6001\\", "USB\\Vid_0403&Pid_6001\\"};
// What follows the serial number in the path of an adapter's device
// instance key: the channel letter the driver appends, and the instance.
constexpr char INSTANCESUFFIX[] = "A\\0000";

// Which of two prefixes the size bytes at s start with, followed by at least
// one more byte (exact, case-sensitive): its index, or -1 for neither.
inline int prefixof(const void *s, size_t size, const std::string_view (&prefixes)[2]) {
  for (int k = 0; k < 2; k++)
    if (size > prefixes[k].size() && memcmp(s, prefixes[k].data(), prefixes[k].size()) == 0)
      return k;
  return -1;
}
