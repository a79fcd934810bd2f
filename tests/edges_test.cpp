// Names and data at the edges of the 8192-byte buffers, in every place the
// scans read them, and data of every type where the scans expect text. The
// stand-in answers ERROR_MORE_DATA for a name of 8192 characters or more and
// for data of more than 8192 bytes, which ends that enumeration; 8191 and
// 8192 are read whole. Under the sanitizers these also prove that nothing
// reads or writes past a buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "testutil.h"

namespace {

const std::string devpath = std::string(BUSKEY) + "\\" + std::string(DEVPREFIX[0]);
const std::string devpath2 = std::string(BUSKEY) + "\\" + std::string(DEVPREFIX[1]);

const size_t sizes[] = {8191, 8192, 8193};

// Each scan's root exists, and nothing else.
void roots(void) {
  testreset();
  mrpath(MAPKEY);
  mrpath(BUSKEY);
  mrpath(LISTKEY);
}

void value(const std::string &path, const std::string &name, DWORD type, const std::string &data) {
  mrdata(path.c_str(), name.c_str(), type, data.data(), data.size());
}

std::string valuedump(const std::string &name, const std::string &data) {
  size_t zero = data.find('\0');
  std::string text = data.substr(0, zero == std::string::npos ? data.size() : zero);
  return "namebuf=(" + name + ") namesize=" + std::to_string(name.size()) + " valuebuf=(" + text +
         ") valuesize=" + std::to_string(data.size()) + " ret=0\n";
}

std::string subkeydump(const std::string &name) {
  return "namebuf=(" + name + ") namesize=" + std::to_string(name.size()) + " ret=0\n";
}

// What the bus walk prints in debug mode for a device key (its name below
// the bus key) with one instance 0000 holding only a FriendlyName.
std::string buswalk(const std::string &devname, const std::string &friendly) {
  std::string fdump = friendly.size() <= 8192 ? valuedump("FriendlyName", friendly) : "";
  return subkeydump(devname) + BUSKEY + "\\" + devname + "=" + devname.substr(18) + "\n" +
         subkeydump("0000") + fdump;
}

void expectrun(const std::string &debug, const std::string &quiet, int status) {
  runresult d = runtool(false);
  EXPECT_EQ(d.out, debug);
  EXPECT_EQ(d.status, status);
  runresult q = runtool(true);
  EXPECT_EQ(q.out, quiet);
  EXPECT_EQ(q.status, status);
}

// Where a value's name or data is read: a long name, long text data, or long
// data without a zero byte, each of every size in sizes.
struct longcase {
  const char *name;
  bool longname;  // else long data
  bool zero;      // long data ends in a zero byte
};
const longcase longcases[] = {
    {"LongName", true, false},
    {"LongTextData", false, true},
    {"LongDataWithoutZeroByte", false, false},
};

// Makes row's long name (prefix and fill up to size) or long data of size
// bytes; the other keeps the value given. Returns whether the value fits the
// 8192-byte buffers, and so is listed.
bool makelong(const longcase &row, size_t size, const std::string &prefix, std::string &name,
              std::string &data) {
  if (row.longname)
    name = prefix + std::string(size - prefix.size(), 'n');
  else if (row.zero)
    data = z(std::string(size - 1, 'd'));
  else
    data = std::string(size, 'd');
  return row.longname ? size < 8192 : size <= 8192;
}

// A value whose name or data is too large ends the map's enumeration: the
// value after it is not listed either.
TEST(Edges, MapValueNamesAndData) {
  for (const longcase &row : longcases) {
    for (size_t size : sizes) {
      SCOPED_TRACE(std::string(row.name) + " " + std::to_string(size));
      std::string name = "\\Device\\VCP0", data = z("COM5");
      bool fits = makelong(row, size, "\\Device\\VCP", name, data);
      roots();
      value(MAPKEY, name, REG_SZ, data);
      mrsz(MAPKEY, "\\Device\\VCP9", "COM9");
      std::string text = data.substr(0, data.find('\0'));
      std::string dump = fits ? valuedump(name, data) + name + "=" + text + "\n" +
                                    valuedump("\\Device\\VCP9", z("COM9")) + "\\Device\\VCP9=COM9\n"
                              : "";
      expectrun(maphead + dump + bushead + enumhead, headers, 0);
    }
  }
}

// The bus walk, level by level: a name too long ends the enumeration of its
// level and the walk goes on above it.
TEST(Edges, BusSubkeyNamesAtEveryLevel) {
  for (size_t size : sizes) {
    std::string longname(size, 'A');
    bool fits = size < 8192;
    std::string dev = devpath + "S1A";
    std::string devdump = subkeydump("VID_0403+PID_6001+S1A") + dev + "=S1A\n";
    std::string vdump = valuedump("V", z("1"));
    {
      SCOPED_TRACE("DeviceLevel " + std::to_string(size));
      roots();
      mrpath((std::string(BUSKEY) + "\\" + longname).c_str());  // sorts before the device key
      mrsz((dev + "\\0000").c_str(), "V", "1");
      std::string walk = fits ? subkeydump(longname) + devdump + subkeydump("0000") + vdump : "";
      expectrun(maphead + bushead + walk + enumhead, headers, 0);
    }
    {
      SCOPED_TRACE("InstanceLevel " + std::to_string(size));
      roots();
      std::string inst(size, '0');
      mrsz((dev + "\\" + inst).c_str(), "W", "2");
      mrsz((dev + "\\1").c_str(), "V", "1");
      std::string walk =
          devdump + (fits ? subkeydump(inst) + valuedump("W", z("2")) + subkeydump("1") + vdump : "");
      expectrun(maphead + bushead + walk + enumhead, headers, 0);
    }
    {
      SCOPED_TRACE("BelowInstanceLevel " + std::to_string(size));
      roots();
      mrpath((dev + "\\0000\\" + longname).c_str());
      mrpath((dev + "\\0000\\B").c_str());
      mrsz((dev + "\\0000").c_str(), "V", "1");
      std::string walk =
          devdump + subkeydump("0000") + (fits ? subkeydump(longname) + subkeydump("B") : "") + vdump;
      expectrun(maphead + bushead + walk + enumhead, headers, 0);
    }
  }
}

TEST(Edges, InstanceValueNamesAndData) {
  std::string dev = devpath + "S1A";
  for (const longcase &row : longcases) {
    for (size_t size : sizes) {
      SCOPED_TRACE(std::string(row.name) + " " + std::to_string(size));
      std::string name = "D", data = z("x");
      bool fits = makelong(row, size, "", name, data);
      roots();
      value(dev + "\\0000", name, REG_SZ, data);
      mrsz((dev + "\\0000").c_str(), "V", "1");
      std::string walk = subkeydump("VID_0403+PID_6001+S1A") + dev + "=S1A\n" + subkeydump("0000") +
                         (fits ? valuedump(name, data) + valuedump("V", z("1")) : "");
      expectrun(maphead + bushead + walk + enumhead, headers, 0);
    }
  }
}

// The driver's list: an entry too large ends it, and the adapter listed after
// it is not resolved.
TEST(Edges, ListEntryNamesAndData) {
  for (const longcase &row : longcases) {
    for (size_t size : sizes) {
      SCOPED_TRACE(std::string(row.name) + " " + std::to_string(size));
      std::string name = "0", data = z("ROOT\\PORTS\\0000");
      bool fits = makelong(row, size, "", name, data);
      roots();
      value(LISTKEY, name, REG_SZ, data);
      mrsz(LISTKEY, "1", "USB\\VID_0403&PID_6001\\S1");
      mrsz((devpath + "S1A\\0000").c_str(), "FriendlyName", "USB Serial Port (COM3)");
      std::string list = fits ? valuedump(name, data) + valuedump("1", z("USB\\VID_0403&PID_6001\\S1")) +
                                    devpath + "S1A\\0000=S1\nCOM3=S1\n"
                              : "";
      expectrun(
          maphead + bushead + buswalk("VID_0403+PID_6001+S1A", z("USB Serial Port (COM3)")) + enumhead + list,
          headers + (fits ? "COM3=S1\n" : ""), 0);
    }
  }
}

// FriendlyName is queried, not enumerated: data too large for valuebuf is a
// failure that ends the run.
TEST(Edges, FriendlyNameSizes) {
  struct {
    const char *name;
    bool zero;
  } rows[] = {{"Text", true}, {"WithoutZeroByte", false}};
  for (const auto &row : rows) {
    for (size_t size : sizes) {
      SCOPED_TRACE(std::string(row.name) + " " + std::to_string(size));
      std::string friendly =
          row.zero ? z(std::string(size - 7, 'x') + "(COM3)") : std::string(size - 6, 'x') + "(COM3)";
      ASSERT_EQ(friendly.size(), size);
      roots();
      mrsz(LISTKEY, "0", "USB\\VID_0403&PID_6001\\S1");
      value(devpath + "S1A\\0000", "FriendlyName", REG_SZ, friendly);
      std::string entry = valuedump("0", z("USB\\VID_0403&PID_6001\\S1")) + devpath + "S1A\\0000=S1\n";
      std::string result = size <= 8192 ? "COM3=S1\n" : "regqueryvalueexa 4 namebuf=(FriendlyName) ret=234\n";
      expectrun(maphead + bushead + buswalk("VID_0403+PID_6001+S1A", friendly) + enumhead + entry + result,
                headers + result, size <= 8192 ? 0 : 1);
    }
  }
}

// The port name's copy stops at the end of the text: at its zero byte, at
// the end of the data, and never past comport's 8191 characters and zero.
TEST(Edges, FriendlyNameWithoutParenOrZeroByte) {
  struct {
    const char *name;
    std::string friendly;
    std::string comport;
  } rows[] = {
      {"NoParen", z("Port (COM3 x"), "COM3 x"},
      {"NoParenNoZeroByte", "Port (COM3 x", "COM3 x"},
      {"NoParenNoZeroByteFillsBuffer", "COM" + std::string(8189, 'x'), "COM" + std::string(8188, 'x')},
      {"NoParenFillsBufferLessOne", z("(COM" + std::string(8187, 'x')), "COM" + std::string(8187, 'x')},
      {"ParenAtBufferEnd", std::string(8186, 'x') + "(COM3)", "COM3"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    roots();
    mrsz(LISTKEY, "0", "USB\\VID_0403&PID_6001\\S1");
    value(devpath + "S1A\\0000", "FriendlyName", REG_SZ, row.friendly);
    std::string entry = valuedump("0", z("USB\\VID_0403&PID_6001\\S1")) + devpath + "S1A\\0000=S1\n";
    std::string mapping = row.comport + "=S1\n";
    expectrun(maphead + bushead + buswalk("VID_0403+PID_6001+S1A", row.friendly) + enumhead + entry + mapping,
              headers + mapping, 0);
  }
}

std::string le(unsigned long long v, int n) {
  std::string s;
  for (int k = 0; k < n; k++)
    s += (char)(v >> (8 * k));
  return s;
}

// Data of any type is text to the scans, up to its first zero byte and never
// past its size.
TEST(Edges, ValueTypesWhereTextIsExpected) {
  struct {
    const char *name;
    DWORD type;
    std::string data;
    std::string text;     // what the scans take from it
    std::string comport;  // what is cut from it as a FriendlyName
    bool prefixed;        // as a list entry, follows the instance id prefix
    const char *serial;   // that list entry's serial number, or null for no adapter
  } rows[] = {
      // No zero byte within its four, and too short for a port name.
      {"Dword", REG_DWORD, le(0x334d4f43, 4), "COM3", "", false, nullptr},
      {"DwordSmall", REG_DWORD, le(7, 4), "\x07", "", false, nullptr},
      {"Qword", REG_QWORD, le(0x29334d4f43282020ull, 8), "  (COM3)", "COM3", false, nullptr},
      {"Binary", REG_BINARY, "Port (COM5)", "Port (COM5)", "COM5", true, "Port (COM5)"},
      {"MultiSz", REG_MULTI_SZ, std::string("Port (COM3)\0Port (COM9)\0\0", 25), "Port (COM3)", "COM3", true,
       "Port (COM3)"},
      {"ExpandSz", REG_EXPAND_SZ, z("%Port% (COM4)"), "%Port% (COM4)", "COM4", true, "%Port% (COM4)"},
      {"None", REG_NONE, z("Port (COM6)"), "Port (COM6)", "COM6", true, "Port (COM6)"},
      {"Empty", REG_SZ, "", "", "", false, nullptr},
      // The prefix alone: no character after it, no adapter.
      {"EmptyBinary", REG_BINARY, "", "", "", true, nullptr},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    // The map's data, printed in the dump and the pair line.
    roots();
    value(MAPKEY, "\\Device\\VCP0", row.type, row.data);
    expectrun(maphead + valuedump("\\Device\\VCP0", row.data) + "\\Device\\VCP0=" + row.text + "\n" +
                  bushead + enumhead,
              headers, 0);

    // The FriendlyName, from which the port name is cut.
    roots();
    mrsz(LISTKEY, "0", "USB\\VID_0403&PID_6001\\S1");
    value(devpath + "S1A\\0000", "FriendlyName", row.type, row.data);
    std::string mapping = row.comport + "=S1\n";
    expectrun(maphead + bushead + buswalk("VID_0403+PID_6001+S1A", row.data) + enumhead +
                  valuedump("0", z("USB\\VID_0403&PID_6001\\S1")) + devpath + "S1A\\0000=S1\n" + mapping,
              headers + mapping, 0);

    // A list entry of this type.
    roots();
    std::string entry = (row.prefixed ? "USB\\VID_0403&PID_6001\\" : "") + row.data;
    value(LISTKEY, "0", row.type, entry);
    std::string walk, tail, quiet;
    if (row.serial != nullptr) {
      std::string serial = row.serial;
      mrsz((devpath + serial + "A\\0000").c_str(), "FriendlyName", "(COM8)");
      walk = buswalk("VID_0403+PID_6001+" + serial + "A", z("(COM8)"));
      quiet = "COM8=" + serial + "\n";
      tail = devpath + serial + "A\\0000=" + serial + "\n" + quiet;
    }
    expectrun(maphead + bushead + walk + enumhead + valuedump("0", entry) + tail, headers + quiet, 0);
  }
}

// A serial number whose device instance path just fits namebuf resolves; one
// character more, or far more, ends the run with the path cut to what fits.
// Both spellings of the prefix, with and without the entry's zero byte.
TEST(Edges, SerialPathAtNamebufSize) {
  struct {
    const char *name;
    bool mixed;
    bool zero;
    long over;  // path length beyond namebuf's 8191 characters
  } rows[] = {
      {"FitsExactlyKeyExists", false, true, 0},
      {"FitsExactlyMixedCaseNoZeroByte", true, false, 0},
      {"OneOverMixedCase", true, true, 1},
      {"OneOverNoZeroByte", false, false, 1},
      {"FarOverMixedCaseNoZeroByte", true, false, (long)devpath.size() + 8170 + 6 - 8191},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string &base = row.mixed ? devpath2 : devpath;
    size_t seriallen = (size_t)(8191 + row.over) - base.size() - strlen("A\\0000");
    std::string serial(seriallen, 'S');
    std::string data = (row.mixed ? "USB\\Vid_0403&Pid_6001\\" : "USB\\VID_0403&PID_6001\\") + serial;
    if (row.zero)
      data += '\0';
    ASSERT_LE(data.size(), 8192u);
    std::string path = base + serial + "A\\0000";
    roots();
    value(LISTKEY, "0", REG_SZ, data);
    if (row.over <= 0)
      mrsz(path.c_str(), "FriendlyName", "USB Serial Port (COM3)");
    std::string result = row.over <= 0 ? "COM3=" + serial + "\n"
                                       : "regopenkeyexa 3 namebuf=(" + path.substr(0, 8191) + ") ret=206\n";
    std::string pairline = row.over <= 0 ? path + "=" + serial + "\n" : "";
    std::string walk = row.over <= 0
                           ? buswalk(path.substr(strlen(BUSKEY) + 1, path.size() - strlen(BUSKEY) - 6),
                                     z("USB Serial Port (COM3)"))
                           : "";
    expectrun(maphead + bushead + walk + enumhead + valuedump("0", data) + pairline + result,
              headers + result, row.over <= 0 ? 0 : 1);
  }
}

// The same for a device key's name in the bus walk, with the second
// spelling, which the other tests leave out.
TEST(Edges, DevicePathAtNamebufSize) {
  struct {
    const char *name;
    long over;
  } rows[] = {{"FitsExactlyWalked", 0}, {"OneOver", 1}, {"LongestName", (long)devpath2.size() + 8173 - 8191}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    size_t restlen = (size_t)(8191 + row.over) - devpath2.size();
    std::string rest(restlen, 'S');
    std::string name = "Vid_0403+Pid_6001+" + rest;
    ASSERT_LE(name.size(), 8191u);
    roots();
    mrsz((std::string(BUSKEY) + "\\" + name + "\\0000").c_str(), "V", "1");
    std::string path = devpath2 + rest;
    if (row.over <= 0) {
      expectrun(maphead + bushead + subkeydump(name) + path + "=" + rest + "\n" + subkeydump("0000") +
                    valuedump("V", z("1")) + enumhead,
                headers, 0);
    } else {
      std::string fail = "regopenkeyexa 3 namebuf=(" + path.substr(0, 8191) + ") ret=206\n";
      expectrun(maphead + bushead + subkeydump(name) + fail, maphead + bushead + fail, 1);
    }
  }
}

}  // namespace
