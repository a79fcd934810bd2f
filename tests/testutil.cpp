#include "testutil.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

static run rec;
static std::vector<regcall> *traced;

static std::string keypath(HKEY h) {
  static char buf[MRPATHMAX + 1];
  return mrkeypath(h, buf, sizeof buf) < 0 ? "(not open)" : buf;
}

std::string openkeys(void) {
  HKEY h[MRHANDLES];
  int n = mrhandles(h, MRHANDLES);
  std::string s;
  for (int k = 0; k < n; k++)
    s += keypath(h[k]) + "\n";
  return s;
}

static void watch(int op, HKEY key, DWORD arg, const char *name) {
  DWORD mask = op == MROPEN ? arg : 0, index = op == MROPEN ? 0 : arg;
  regcall c = {op, key, keypath(key), mask, index, name != nullptr ? name : "", ftell(rec.out), openkeys()};
  if (op == MROPEN)
    c.path += (c.path.empty() ? "" : "\\") + c.name;
  traced->push_back(c);
}

DWORD mrpath(const char *path) {
  DWORD k = MRHKLM;
  std::u16string p = utf8to16(path);
  for (size_t i = 0, e; i < p.size(); i = e + 1) {
    e = std::min(p.find(u'\\', i), p.size());
    if (e > i)
      k = mrkey(k, std::u16string_view(p).substr(i, e - i));
  }
  return k;
}

void mrsz(const char *path, const char *name, const char *text) {
  std::u16string t = utf8to16(text);
  mrsetvalue(mrpath(path), utf8to16(name), REG_SZ, t.c_str(), 2 * t.size() + 2);
}

void mrdata(const char *path, const char *name, DWORD type, const void *data, size_t size) {
  if (!istext(type))
    return mrsetvalue(mrpath(path), utf8to16(name), type, data, size);
  std::u16string t(size, 0);
  t.resize(cptowide(cpfind(CPFALLBACK), (const unsigned char *)data, size, t.data()));
  mrsetvalue(mrpath(path), utf8to16(name), type, t.data(), 2 * t.size());
}

std::string z(const std::string &s) {
  return s + '\0';
}

runresult runtool(bool quiet, std::vector<regcall> *calls) {
  return runargs(quiet ? 2 : 1, calls);
}

runresult runargs(int argc, std::vector<regcall> *calls, FILE *out) {
  FILE *f = out != nullptr ? out : tmpfile();
  rec.out = f;
  traced = calls;
  if (calls != nullptr) {
    calls->clear();
    mrwatch(watch);
  }
  runresult res;
  res.status = finish(rec, comserial(rec, argc));
  mrwatch(nullptr);
  if (out == nullptr)
    res.out = readall(f);
  return res;
}

std::string readall(FILE *f) {
  long n = ftell(f);
  std::string s(n > 0 ? (size_t)n : 0, '\0');
  rewind(f);
  if (fread(s.data(), 1, s.size(), f) != s.size())
    s = "<short read>";
  fclose(f);
  return s;
}

std::string readfile(const std::string &path) {
  std::string s;
  FILE *f = fopen(path.c_str(), "rb");
  if (f == nullptr)
    return s;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0)
    s.append(buf, n);
  fclose(f);
  return s;
}

void dword(const char *path, const char *name, DWORD v) {
  BYTE b[4] = {(BYTE)v, (BYTE)(v >> 8), (BYTE)(v >> 16), (BYTE)(v >> 24)};
  mrdata(path, name, REG_DWORD, b, 4);
}

void adapter(const char *entry, const char *devkey, const char *serial, const char *friendly) {
  std::string dev = std::string(BUSKEY) + "\\" + devkey;
  std::string inst = dev + "\\0000";
  mrsz(LISTKEY, entry, serial);
  mrsz(inst.c_str(), "DeviceDesc", "USB Serial Port");
  mrsz(inst.c_str(), "FriendlyName", friendly);
  mrsz((inst + "\\Device Parameters").c_str(), "PortName", "COM");
  mrpath((inst + "\\Control").c_str());
}

void twoadapters(void) {
  testreset();
  mrsz(MAPKEY, "\\Device\\Serial0", "COM1");
  mrsz(MAPKEY, "\\Device\\VCP0", "COM7");
  mrsz(MAPKEY, "\\Device\\VCP1", "COM12");
  adapter("0", "VID_0403+PID_6001+A600ARJHA", "USB\\VID_0403&PID_6001\\A600ARJH", "USB Serial Port (COM7)");
  adapter("1", "Vid_0403+Pid_6001+FT4XQ2B1A", "USB\\Vid_0403&Pid_6001\\FT4XQ2B1", "USB Serial Port (COM12)");
  dword(LISTKEY, "Count", 2);
  // A device of another kind under the same bus; it gets only its dump line.
  mrsz((std::string(BUSKEY) + "\\VID_0403+PID_6010+FT2232HA\\0000").c_str(), "FriendlyName",
       "USB Serial Port (COM9)");
}

const char twoadaptersdebug[] =
    "\n"
    ">> HARDWARE\\DEVICEMAP\\SERIALCOMM\n"
    "namebuf=(\\Device\\Serial0) namesize=15 valuebuf=(COM1) valuesize=5 ret=0\n"
    "namebuf=(\\Device\\VCP0) namesize=12 valuebuf=(COM7) valuesize=5 ret=0\n"
    "\\Device\\VCP0=COM7\n"
    "namebuf=(\\Device\\VCP1) namesize=12 valuebuf=(COM12) valuesize=6 ret=0\n"
    "\\Device\\VCP1=COM12\n"
    "\n"
    ">> SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\n"
    "namebuf=(VID_0403+PID_6001+A600ARJHA) namesize=27 ret=0\n"
    "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+A600ARJHA=A600ARJHA\n"
    "namebuf=(0000) namesize=4 ret=0\n"
    "namebuf=(Control) namesize=7 ret=0\n"
    "namebuf=(Device Parameters) namesize=17 ret=0\n"
    "namebuf=(DeviceDesc) namesize=10 valuebuf=(USB Serial Port) valuesize=16 ret=0\n"
    "namebuf=(FriendlyName) namesize=12 valuebuf=(USB Serial Port (COM7)) valuesize=23 ret=0\n"
    "namebuf=(Vid_0403+Pid_6001+FT4XQ2B1A) namesize=27 ret=0\n"
    "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\Vid_0403+Pid_6001+FT4XQ2B1A=FT4XQ2B1A\n"
    "namebuf=(0000) namesize=4 ret=0\n"
    "namebuf=(Control) namesize=7 ret=0\n"
    "namebuf=(Device Parameters) namesize=17 ret=0\n"
    "namebuf=(DeviceDesc) namesize=10 valuebuf=(USB Serial Port) valuesize=16 ret=0\n"
    "namebuf=(FriendlyName) namesize=12 valuebuf=(USB Serial Port (COM12)) valuesize=24 ret=0\n"
    "namebuf=(VID_0403+PID_6010+FT2232HA) namesize=26 ret=0\n"
    "\n"
    ">> SYSTEM\\CurrentControlSet\\Services\\FTDIBUS\\Enum\n"
    "namebuf=(0) namesize=1 valuebuf=(USB\\VID_0403&PID_6001\\A600ARJH) valuesize=31 ret=0\n"
    "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+A600ARJHA\\0000=A600ARJH\n"
    "COM7=A600ARJH\n"
    "namebuf=(1) namesize=1 valuebuf=(USB\\Vid_0403&Pid_6001\\FT4XQ2B1) valuesize=31 ret=0\n"
    "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\Vid_0403+Pid_6001+FT4XQ2B1A\\0000=FT4XQ2B1\n"
    "COM12=FT4XQ2B1\n"
    "namebuf=(Count) namesize=5 valuebuf=(\x02) valuesize=4 ret=0\n";

const char twoadaptersquiet[] =
    "\n"
    ">> HARDWARE\\DEVICEMAP\\SERIALCOMM\n"
    "\n"
    ">> SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\n"
    "\n"
    ">> SYSTEM\\CurrentControlSet\\Services\\FTDIBUS\\Enum\n"
    "COM7=A600ARJH\n"
    "COM12=FT4XQ2B1\n";
