// Builds the export as ASCII text first, then widens it to UTF-16LE. Keys
// come in the order `reg export` writes them (each key, then its subkeys,
// sorted), and values sorted by name, as Wine enumerates them, so that the
// native build and the Windows build under Wine print the same dump.
#include "gen.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

namespace {

const char *const classguid = "{4d36e978-e325-11ce-bfc1-08002be10318}";
const char *const enumroot = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\";
const char *const svcroot = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";

uint64_t seed;

uint64_t rnd() {
  uint64_t z = (seed += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

// FTDI serial numbers: eight upper-case letters and digits, starting with a
// letter, as A600ARJH or FT4XQ2B1.
void serial(char *s) {
  static const char set[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  s[0] = "AFT"[rnd() % 3];
  for (int k = 1; k < 8; k++)
    s[k] = set[rnd() % 36];
  s[8] = 0;
}

void guid(char *s) {
  uint64_t a = rnd(), b = rnd();
  snprintf(s, 40, "{%08x-%04x-%04x-%04x-%012llx}", (unsigned)(a >> 32), (unsigned)(a >> 16) & 0xffff,
           (unsigned)a & 0xffff, (unsigned)(b >> 48), (unsigned long long)(b & 0xffffffffffffull));
}

void line(std::string &t, const char *s) {
  t += s;
  t += "\r\n";
}

void key(std::string &t, const char *root, const char *path) {
  t += "\r\n[";
  t += root;
  t += path;
  t += "]\r\n";
}

void quoted(std::string &t, const char *s) {
  t += '"';
  for (const char *p = s; *p; p++) {
    if (*p == '\\' || *p == '"')
      t += '\\';
    t += *p;
  }
  t += '"';
}

void sz(std::string &t, const char *name, const char *text) {
  quoted(t, name);
  t += '=';
  quoted(t, text);
  t += "\r\n";
}

void dword(std::string &t, const char *name, unsigned v) {
  char b[16];
  snprintf(b, sizeof b, "%08x", v);
  t += '"';
  t += name;
  t += "\"=dword:";
  t += b;
  t += "\r\n";
}

// hex: or hex(type): data, wrapped as regedit wraps it.
void hex(std::string &t, const char *name, int type, const unsigned char *p, size_t n) {
  size_t start = t.size();
  t += '"';
  t += name;
  t += "\"=hex";
  if (type != 3) {
    char b[16];
    snprintf(b, sizeof b, "(%x)", type);
    t += b;
  }
  t += ':';
  size_t col = t.size() - start;
  for (size_t k = 0; k < n; k++) {
    char b[4];
    snprintf(b, sizeof b, "%02x", p[k]);
    if (col + 3 > 80) {
      t += "\\\r\n  ";
      col = 2;
    }
    t += b;
    col += 2;
    if (k + 1 < n) {
      t += ',';
      col++;
    }
  }
  t += "\r\n";
}

// Text as UTF-16LE, the way hex(2) and hex(7) data hold it; each string of
// a multi-string list ends in a zero, and the list in another.
void text16(std::string &t, const char *name, int type, const char *const *strs, int count) {
  std::vector<unsigned char> d;
  for (int k = 0; k < count; k++) {
    for (const char *p = strs[k]; *p; p++) {
      d.push_back((unsigned char)*p);
      d.push_back(0);
    }
    d.push_back(0);
    d.push_back(0);
  }
  if (type == 7) {
    d.push_back(0);
    d.push_back(0);
  }
  hex(t, name, type, d.data(), d.size());
}

struct device {
  char name[64];  // the device key's name under FTDIBUS
  char serial[9];
  int pid;
  int port;   // COM port, 0 for none
  int drv;    // driver instance number
  char chan;  // channel letter
};

// Names as the registry orders them: letters folded to upper case.
bool nameless(const device &a, const device &b) {
  const char *p = a.name, *q = b.name;
  while (*p && toupper((unsigned char)*p) == toupper((unsigned char)*q))
    p++, q++;
  return toupper((unsigned char)*p) < toupper((unsigned char)*q);
}

// One FTDIBUS device key with its instance 0000 and the instance's subkeys.
void ftdidevice(std::string &t, const device &d) {
  char path[256], b[128], g[40];
  snprintf(path, sizeof path, "FTDIBUS\\%s", d.name);
  key(t, enumroot, path);
  snprintf(path, sizeof path, "FTDIBUS\\%s\\0000", d.name);
  key(t, enumroot, path);
  dword(t, "Capabilities", 0x64);
  sz(t, "ClassGUID", classguid);
  const char *compat[] = {"FTDIBUS\\COMPORT"};
  text16(t, "CompatibleIDs", 7, compat, 1);
  dword(t, "ConfigFlags", 0);
  guid(g);
  sz(t, "ContainerID", g);
  sz(t, "DeviceDesc", "@oem33.inf,%vcp.devicedesc%;USB Serial Port");
  snprintf(b, sizeof b, "%s\\%04d", classguid, d.drv % 10000);
  sz(t, "Driver", b);
  snprintf(b, sizeof b, "USB Serial Port (COM%d)", d.port);
  sz(t, "FriendlyName", b);
  char hw[64];
  snprintf(hw, sizeof hw, "FTDIBUS\\COMPORT&VID_0403&PID_%04X", d.pid);
  const char *hwids[] = {hw};
  text16(t, "HardwareID", 7, hwids, 1);
  snprintf(b, sizeof b, "Port_#%04d.Hub_#%04d", 1 + d.drv % 4, 1 + d.drv / 4 % 8);
  sz(t, "LocationInformation", b);
  sz(t, "Mfg", "@oem33.inf,%ftdi%;FTDI");
  sz(t, "Service", "FTSER2K");
  // Control is volatile: an export holds it empty.
  snprintf(path, sizeof path, "FTDIBUS\\%s\\0000\\Control", d.name);
  key(t, enumroot, path);
  snprintf(path, sizeof path, "FTDIBUS\\%s\\0000\\Device Parameters", d.name);
  key(t, enumroot, path);
  dword(t, "LatencyTimer", 16);
  dword(t, "PollingPeriod", 0);
  snprintf(b, sizeof b, "COM%d", d.port);
  sz(t, "PortName", b);
  snprintf(path, sizeof path, "FTDIBUS\\%s\\0000\\LogConf", d.name);
  key(t, enumroot, path);
}

// Devices on other buses: mice, hubs, storage, under Enum\USB.
void usbdevice(std::string &t, int k) {
  static const struct {
    const char *id, *desc, *service;
  } kinds[] = {{"VID_046D&PID_C52B", "USB Composite Device", "usbccgp"},
               {"VID_05E3&PID_0610", "Generic USB Hub", "USBHUB3"},
               {"VID_0781&PID_5583", "USB Mass Storage Device", "USBSTOR"},
               {"VID_0BDA&PID_8153", "Realtek USB GbE Family Controller", "rtux64w10"}};
  const auto &kind = kinds[k % 4];
  char path[256], inst[32], b[160], g[40];
  if (k < 4) {
    snprintf(path, sizeof path, "USB\\%s", kind.id);
    key(t, enumroot, path);
  }
  snprintf(inst, sizeof inst, "6&%07x&0&1", 0x1000000 + k * 7919);
  snprintf(path, sizeof path, "USB\\%s\\%s", kind.id, inst);
  key(t, enumroot, path);
  dword(t, "Capabilities", 0x84);
  sz(t, "ClassGUID", "{36fc9e60-c465-11cf-8056-444553540000}");
  const char *compat[] = {"USB\\Class_ff&SubClass_ff&Prot_ff", "USB\\Class_ff&SubClass_ff", "USB\\Class_ff"};
  text16(t, "CompatibleIDs", 7, compat, 3);
  dword(t, "ConfigFlags", 0);
  guid(g);
  sz(t, "ContainerID", g);
  snprintf(b, sizeof b, "@usb.inf,%%usb.devicedesc%%;%s", kind.desc);
  sz(t, "DeviceDesc", b);
  snprintf(b, sizeof b, "USB\\%s&REV_0100", kind.id);
  char b2[96];
  snprintf(b2, sizeof b2, "USB\\%s", kind.id);
  const char *hwids[] = {b, b2};
  text16(t, "HardwareID", 7, hwids, 2);
  sz(t, "Mfg", "@usb.inf,%generic.mfg%;(Generic USB)");
  sz(t, "Service", kind.service);
  snprintf(path, sizeof path, "USB\\%s\\%s\\Device Parameters", kind.id, inst);
  key(t, enumroot, path);
  dword(t, "EnhancedPowerManagementEnabled", 1);
  snprintf(path, sizeof path, "USB\\%s\\%s\\LogConf", kind.id, inst);
  key(t, enumroot, path);
}

void service(std::string &t, const char *name, const char *display, const char *image) {
  key(t, svcroot, name);
  sz(t, "DisplayName", display);
  dword(t, "ErrorControl", 1);
  const char *img[] = {image};
  text16(t, "ImagePath", 2, img, 1);
  dword(t, "Start", 3);
  dword(t, "Type", 1);
}

bool numless(const std::string &a, const std::string &b) {
  return a < b;
}

}  // namespace

void genexport(int n, std::string &out) {
  seed = 0x636f6d73 + (uint64_t)n;
  // The adapters, and a twenty-fifth as many FTDI devices of other products.
  int noise = n / 25 + 2;
  std::vector<device> devs;
  devs.reserve(n + 2 * noise);
  std::set<std::string> seen;
  for (int k = 0; k < n + noise; k++) {
    device d = {};
    do
      serial(d.serial);
    while (!seen.insert(d.serial).second);
    d.pid = k < n ? 0x6001 : (k % 2 ? 0x6010 : 0x6014);
    d.drv = k;
    d.port = k + 3;
    d.chan = 'A';
    snprintf(d.name, sizeof d.name, "VID_0403+PID_%04X+%sA", d.pid, d.serial);
    devs.push_back(d);
    if (d.pid == 0x6010) {  // the second channel of a dual chip
      snprintf(d.name, sizeof d.name, "VID_0403+PID_%04X+%sB", d.pid, d.serial);
      d.port = n + noise + 3 + k;
      d.chan = 'B';
      devs.push_back(d);
    }
  }
  std::string t;
  t.reserve((size_t)n * 1400 + 65536);
  line(t, "Windows Registry Editor Version 5.00");

  // The serial port map: two built-in ports and every adapter's port.
  key(t, "HKEY_LOCAL_MACHINE\\", "HARDWARE\\DEVICEMAP\\SERIALCOMM");
  {
    std::vector<std::string> names;
    char b[64];
    for (int k = 0; k < n; k++) {
      snprintf(b, sizeof b, "\\Device\\VCP%d", k);
      names.push_back(b);
    }
    std::sort(names.begin(), names.end(), numless);
    sz(t, "\\Device\\Serial0", "COM1");
    sz(t, "\\Device\\Serial1", "COM2");
    for (const auto &s : names) {
      snprintf(b, sizeof b, "COM%d", atoi(s.c_str() + 11) + 3);
      sz(t, s.c_str(), b);
    }
  }

  // The bus driver's device tree, device keys sorted by name.
  key(t, enumroot, "FTDIBUS");
  {
    std::vector<device> sorted = devs;
    std::sort(sorted.begin(), sorted.end(), nameless);
    for (const device &d : sorted)
      ftdidevice(t, d);
  }

  // Other USB devices, grouped by product as Enum\USB has them.
  key(t, enumroot, "USB");
  for (int kind = 0; kind < 4; kind++)
    for (int k = kind; k < noise; k += 4)
      usbdevice(t, k);

  // The bus driver's service and its list of enumerated devices, then the
  // serial driver's and two others.
  service(t, "FTDIBUS", "@oem32.inf,%ftdibus.svcdesc%;USB Serial Converter Driver",
          "\\SystemRoot\\System32\\drivers\\ftdibus.sys");
  key(t, svcroot, "FTDIBUS\\Enum");
  {
    // One entry per chip: the second channel of a dual chip has none.
    std::vector<const device *> chips;
    for (const device &d : devs)
      if (d.chan == 'A')
        chips.push_back(&d);
    std::vector<std::string> names;
    char b[32];
    for (size_t k = 0; k < chips.size(); k++) {
      snprintf(b, sizeof b, "%zu", k);
      names.push_back(b);
    }
    std::sort(names.begin(), names.end(), numless);
    for (const auto &s : names) {
      const device &d = *chips[atoi(s.c_str())];
      char id[64];
      snprintf(id, sizeof id, "USB\\VID_0403&PID_%04X\\%s", d.pid, d.serial);
      sz(t, s.c_str(), id);
    }
    dword(t, "Count", (unsigned)chips.size());
    dword(t, "NextInstance", (unsigned)chips.size());
  }
  service(t, "FTSER2K", "@oem33.inf,%ftser2k.svcdesc%;USB Serial Port Driver",
          "\\SystemRoot\\System32\\drivers\\ftser2k.sys");
  service(t, "usbser", "@mdmcpq.inf,%usbser.svcdesc%;Microsoft USB Serial Driver",
          "\\SystemRoot\\System32\\drivers\\usbser.sys");
  service(t, "USBSTOR", "@usbstor.inf,%usbstor.svcdesc%;USB Mass Storage Driver",
          "\\SystemRoot\\System32\\drivers\\USBSTOR.SYS");

  out.clear();
  out.reserve(2 + t.size() * 2);
  out += "\xff\xfe";
  for (char c : t) {
    out += c;
    out += '\0';
  }
}
