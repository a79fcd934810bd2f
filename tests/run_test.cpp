// Whole runs in-process: exact output, failure lines, exit status, and the
// edge cases of each scan.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "testutil.h"

// The first n lines of s.
static std::string firstlines(const std::string &s, int n) {
  size_t end = 0;
  for (int k = 0; k < n; k++) {
    size_t nl = s.find('\n', end);
    if (nl == std::string::npos)
      return s;
    end = nl + 1;
  }
  return s.substr(0, end);
}

static std::string lastline(const std::string &s) {
  size_t end = s.size() > 0 && s.back() == '\n' ? s.size() - 1 : s.size();
  size_t start = s.rfind('\n', end == 0 ? 0 : end - 1);
  return s.substr(start == std::string::npos ? 0 : start + 1);
}

static std::string withoutlines(std::string s, const std::vector<std::string> &lines) {
  for (const std::string &l : lines) {
    size_t at = s.find(l);
    EXPECT_NE(at, std::string::npos) << l;
    if (at != std::string::npos)
      s.erase(at, l.size());
  }
  return s;
}

TEST(Run, TwoAdaptersDebugAndQuiet) {
  twoadapters();
  runresult d = runtool(false);
  EXPECT_EQ(d.out, twoadaptersdebug);
  EXPECT_EQ(d.status, 0);
  runresult q = runtool(true);
  EXPECT_EQ(q.out, twoadaptersquiet);
  EXPECT_EQ(q.status, 0);
}

// What main's argc selects, one run after another on the same run record:
// a quiet run leaves nothing of itself for the next.
TEST(Run, AnyArgumentSwitchesDebugOff) {
  twoadapters();
  for (int argc : {1, 2, 3, 7, 1, 2}) {
    SCOPED_TRACE(argc);
    runresult res = runargs(argc);
    EXPECT_EQ(res.out, argc == 1 ? twoadaptersdebug : twoadaptersquiet);
    EXPECT_EQ(res.status, 0);
  }
}

// Output that cannot all be written is no success: whatever the run's own
// status, it ends with 3, whether the write fails as the run goes (a small
// buffer) or only when the output is flushed at the end.
TEST(Run, UnwritableOutputEndsWithStatus3) {
  struct {
    const char *name;
    const char *path;  // where the output goes
    size_t buffer;     // its stream's buffer, 0 for the default
    bool fail;         // the run fails (a FriendlyName cannot be read)
    int status;
  } rows[] = {
      {"FullDeviceFailsAtFlush", "/dev/full", 0, false, 3},
      {"FullDeviceFailsMidRun", "/dev/full", 16, false, 3},
      {"FullDeviceAfterFailureLine", "/dev/full", 0, true, 3},
      {"WrittenKeepsStatus", "/dev/null", 16, false, 0},
      {"WrittenKeepsFailureStatus", "/dev/null", 0, true, 1},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    for (int argc : {1, 2}) {
      twoadapters();
      if (row.fail)
        mrfault(MRQUERY, 1, 2);
      FILE *f = fopen(row.path, "w");
      ASSERT_NE(f, nullptr);
      static char buf[16];
      if (row.buffer != 0)
        setvbuf(f, buf, _IOFBF, row.buffer);
      EXPECT_EQ(runargs(argc, nullptr, f).status, row.status);
      fclose(f);
    }
  }
}

struct failcase {
  const char *name;
  int op;  // an nth fault when nth is set, else a path fault
  DWORD nth;
  const char *path;
  LONG code;
  int debuglines, quietlines;  // lines of a clean run printed before the failure line
  const char *line;
};

// The twoadapters() run opens, in order: 1 the map, 2 the bus tree, 3 the
// first device key, 4 and 5 its instance 0000, 6 the second device key,
// 7 and 8 its 0000, 9 the driver's list, 10 and 11 the two device instances.
static const failcase failcases[] = {
    {"MapKeyMissing", MROPEN, 0, MAPKEY, 2, 2, 2,
     "regopenkeyexa 1 namebuf=(HARDWARE\\DEVICEMAP\\SERIALCOMM) ret=2\n"},
    {"BusTreeDenied", MROPEN, 0, BUSKEY, 5, 9, 4,
     "regopenkeyexa 2 namebuf=(SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS) ret=5\n"},
    {"DeviceKey", MROPEN, 0, "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+A600ARJHA", 5, 11,
     4,
     "regopenkeyexa 3 namebuf=(SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+A600ARJHA) "
     "ret=5\n"},
    {"InstanceSubkey", MROPEN, 7, nullptr, 2, 19, 4, "regopenkeyexa 4 namebuf=(0000) ret=2\n"},
    {"InstanceReopenShowsLastSubkey", MROPEN, 5, nullptr, 5, 14, 4,
     "regopenkeyexa 5 namebuf=(Device Parameters) ret=5\n"},
    {"DriverListMissing", MROPEN, 0, LISTKEY, 2, 26, 6,
     "regopenkeyexa 2 namebuf=(SYSTEM\\CurrentControlSet\\Services\\FTDIBUS\\Enum) ret=2\n"},
    {"SecondDeviceInstance", MROPEN, 11, nullptr, 2, 31, 7,
     "regopenkeyexa 3 namebuf=(SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\Vid_0403+Pid_6001+FT4XQ2B1A\\0000) "
     "ret=2\n"},
    {"FriendlyNameUnreadable", MRQUERY, 0,
     "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+A600ARJHA\\0000\\FriendlyName", 2, 28, 6,
     "regqueryvalueexa 4 namebuf=(FriendlyName) ret=2\n"},
    {"FriendlyNameTooLarge", MRQUERY, 2, nullptr, 234, 31, 7,
     "regqueryvalueexa 4 namebuf=(FriendlyName) ret=234\n"},
};

TEST(Run, FailureEndsRunKeepingOutput) {
  for (const failcase &c : failcases) {
    SCOPED_TRACE(c.name);
    for (bool quiet : {false, true}) {
      twoadapters();
      if (c.nth != 0)
        mrfault(c.op, c.nth, c.code);
      else
        mrfaultpath(c.op, c.path, c.code);
      runresult res = runtool(quiet);
      EXPECT_EQ(res.status, 1);
      std::string clean =
          quiet ? firstlines(twoadaptersquiet, c.quietlines) : firstlines(twoadaptersdebug, c.debuglines);
      EXPECT_EQ(res.out, clean + c.line);
    }
  }
}

TEST(Run, EmptyRegistryFailsAtFirstOpen) {
  testreset();
  runresult res = runtool(false);
  EXPECT_EQ(res.out,
            "\n>> HARDWARE\\DEVICEMAP\\SERIALCOMM\nregopenkeyexa 1 namebuf=(HARDWARE\\DEVICEMAP\\SERIALCOMM) "
            "ret=2\n");
  EXPECT_EQ(res.status, 1);
}

TEST(Run, NoAdaptersEndsCleanly) {
  testreset();
  mrsz(MAPKEY, "\\Device\\Serial0", "COM1");
  mrpath(BUSKEY);
  mrpath(LISTKEY);
  runresult q = runtool(true);
  EXPECT_EQ(q.out, headers);
  EXPECT_EQ(q.status, 0);
  runresult d = runtool(false);
  EXPECT_EQ(d.out,
            "\n>> HARDWARE\\DEVICEMAP\\SERIALCOMM\n"
            "namebuf=(\\Device\\Serial0) namesize=15 valuebuf=(COM1) valuesize=5 ret=0\n"
            "\n>> SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\n"
            "\n>> SYSTEM\\CurrentControlSet\\Services\\FTDIBUS\\Enum\n");
}

TEST(Run, ExitStatusIsTheLastClose) {
  twoadapters();
  mrresetcalls();
  runtool(true);
  DWORD closes = mrcalls(MRCLOSE);
  struct {
    const char *name;
    DWORD nth;
    LONG code;
    int status;
  } rows[] = {
      {"LastCloseFails", closes, 6, 6},
      {"EarlierCloseIgnored", 1, 6, 0},
      {"NextToLastCloseIgnored", closes - 1, 6, 0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    twoadapters();
    mrfault(MRCLOSE, row.nth, row.code);
    runresult res = runtool(true);
    EXPECT_EQ(res.status, row.status);
    EXPECT_EQ(res.out, twoadaptersquiet);
  }
}

TEST(Run, FailedEnumerationEndsOnlyThatLoop) {
  const std::string mapdump =
      "namebuf=(\\Device\\Serial0) namesize=15 valuebuf=(COM1) valuesize=5 ret=0\n"
      "namebuf=(\\Device\\VCP0) namesize=12 valuebuf=(COM7) valuesize=5 ret=0\n"
      "\\Device\\VCP0=COM7\n"
      "namebuf=(\\Device\\VCP1) namesize=12 valuebuf=(COM12) valuesize=6 ret=0\n"
      "\\Device\\VCP1=COM12\n";
  const std::string countline = "namebuf=(Count) namesize=5 valuebuf=(\x02) valuesize=4 ret=0\n";
  const std::string firstinstance =
      "namebuf=(Control) namesize=7 ret=0\n"
      "namebuf=(Device Parameters) namesize=17 ret=0\n";
  struct {
    const char *name;
    int op;
    DWORD nth;
    LONG code;
    std::string expected;
  } rows[] = {
      {"MapFirstCallMoreData", MRENUMVALUE, 1, 234, withoutlines(twoadaptersdebug, {mapdump})},
      {"MapFirstCallAnyCode", MRENUMVALUE, 1, 1, withoutlines(twoadaptersdebug, {mapdump})},
      {"InstanceSubkeysEndEarly", MRENUMKEY, 3, 259, withoutlines(twoadaptersdebug, {firstinstance})},
      // Value calls: 4 map (3 + end), 3 first instance, 3 second, then the list.
      {"DriverListLastValue", MRENUMVALUE, 13, 5, withoutlines(twoadaptersdebug, {countline})},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    twoadapters();
    mrfault(row.op, row.nth, row.code);
    runresult res = runtool(false);
    EXPECT_EQ(res.out, row.expected);
    EXPECT_EQ(res.status, 0);
  }
}

// Port resolution: which entries of the driver's list resolve, and what is
// cut from the FriendlyName.
struct portcase {
  const char *name;
  std::string entry;     // the list entry's data
  std::string devkey;    // device key to create (empty: none)
  std::string friendly;  // its FriendlyName data
  const char *mapping;   // the port mapping line, or "" for none
};

static const portcase portcases[] = {
    {"Plain", z("USB\\VID_0403&PID_6001\\S1"), "VID_0403+PID_6001+S1A", z("USB Serial Port (COM3)"),
     "COM3=S1\n"},
    {"TwoDigitPort", z("USB\\VID_0403&PID_6001\\S1"), "VID_0403+PID_6001+S1A", z("USB Serial Port (COM12)"),
     "COM12=S1\n"},
    {"MixedCasePrefix", z("USB\\Vid_0403&Pid_6001\\S1"), "Vid_0403+Pid_6001+S1A", z("Port (COM4)"),
     "COM4=S1\n"},
    {"OtherCaseMixSkipped", z("USB\\vid_0403&pid_6001\\S1"), "VID_0403+PID_6001+S1A", z("Port (COM4)"), ""},
    {"OtherProductSkipped", z("USB\\VID_0403&PID_6010\\S1"), "VID_0403+PID_6001+S1A", z("Port (COM4)"), ""},
    {"TwentyTwoBytesSkipped", "USB\\VID_0403&PID_6001\\", "VID_0403+PID_6001+A", z("Port (COM4)"), ""},
    {"PrefixAndZeroGivesEmptySerial", z("USB\\VID_0403&PID_6001\\"), "VID_0403+PID_6001+A", z("Port (COM4)"),
     "COM4=\n"},
    {"SerialWithoutZeroByte", "USB\\VID_0403&PID_6001\\ABC", "VID_0403+PID_6001+ABCA", z("(COM5)"),
     "COM5=ABC\n"},
    {"SerialEndsAtFirstZero", std::string("USB\\VID_0403&PID_6001\\AB\0CD", 27) + '\0',
     "VID_0403+PID_6001+ABA", z("(COM5)"), "COM5=AB\n"},
    {"SerialKeepsItsCase", z("USB\\VID_0403&PID_6001\\a600arjh"), "VID_0403+PID_6001+A600ARJHA", z("(COM6)"),
     "COM6=a600arjh\n"},
    {"NotTextSkipped", std::string("\x02\0\0\0", 4), "", "", ""},
    {"ShortFriendlyName", z("USB\\VID_0403&PID_6001\\S1"), "VID_0403+PID_6001+S1A", z("COM1"), "=S1\n"},
    {"FiveCharactersSuffice", z("USB\\VID_0403&PID_6001\\S1"), "VID_0403+PID_6001+S1A", z("COM1)"),
     "COM1=S1\n"},
    {"LowerCaseComNotFound", z("USB\\VID_0403&PID_6001\\S1"), "VID_0403+PID_6001+S1A", z("Port (com3)"),
     "=S1\n"},
    {"LaterComWins", z("USB\\VID_0403&PID_6001\\S1"), "VID_0403+PID_6001+S1A", z("COM1 bridge (COM5)"),
     "COM5=S1\n"},
    {"ComTooNearTheEndPassedOver", z("USB\\VID_0403&PID_6001\\S1"), "VID_0403+PID_6001+S1A",
     z("Port COM4 (COM)"), "COM4 (COM=S1\n"},
    {"SpaceIsCopied", z("USB\\VID_0403&PID_6001\\S1"), "VID_0403+PID_6001+S1A", z("Port (COM 5)"),
     "COM 5=S1\n"},
    {"NoParenRunsToEndOfText", z("USB\\VID_0403&PID_6001\\S1"), "VID_0403+PID_6001+S1A", z("Port (COM3 x"),
     "COM3 x=S1\n"},
    {"NoZeroByteInFriendlyName", z("USB\\VID_0403&PID_6001\\S1"), "VID_0403+PID_6001+S1A", "Port (COM8)",
     "COM8=S1\n"},
    {"FriendlyNameEndsAtFirstZero", z("USB\\VID_0403&PID_6001\\S1"), "VID_0403+PID_6001+S1A",
     std::string("Port\0(COM3)", 11) + '\0', "=S1\n"},
    {"EmptyFriendlyName", z("USB\\VID_0403&PID_6001\\S1"), "VID_0403+PID_6001+S1A", "", "=S1\n"},
};

TEST(PortResolution, Cases) {
  for (const portcase &c : portcases) {
    SCOPED_TRACE(c.name);
    testreset();
    mrpath(MAPKEY);
    mrpath(BUSKEY);
    mrdata(LISTKEY, "0", REG_SZ, c.entry.data(), c.entry.size());
    if (!c.devkey.empty())
      mrdata((std::string(BUSKEY) + "\\" + c.devkey + "\\0000").c_str(), "FriendlyName", REG_SZ,
             c.friendly.data(), c.friendly.size());
    runresult q = runtool(true);
    EXPECT_EQ(q.out, std::string(headers) + c.mapping);
    EXPECT_EQ(q.status, 0);
    runresult d = runtool(false);
    if (*c.mapping != 0) {
      EXPECT_EQ(lastline(d.out), c.mapping);
    }
    bool paired = d.out.find("\\0000=") != std::string::npos;
    EXPECT_EQ(paired, *c.mapping != 0);
  }
}

TEST(PortResolution, EmptySerialWithoutKeyFails) {
  testreset();
  mrpath(MAPKEY);
  mrpath(BUSKEY);
  mrsz(LISTKEY, "0", "USB\\VID_0403&PID_6001\\");
  runresult q = runtool(true);
  EXPECT_EQ(lastline(q.out),
            "regopenkeyexa 3 namebuf=(SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+A\\0000) "
            "ret=2\n");
  EXPECT_EQ(q.status, 1);
}

// A serial number so long that the device instance path cannot fit in
// namebuf: the run ends as for a key that cannot be opened, with the path cut
// to what fits, and nothing runs past a buffer.
TEST(PortResolution, SerialTooLongForPath) {
  const std::string prefix = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+";
  const size_t fixed = prefix.size() + strlen("A\\0000");
  struct {
    const char *name;
    size_t seriallen;
    const char *tail;
  } rows[] = {
      {"FitsExactly", BUFSIZE - 1 - fixed, "ret=2\n"},
      {"OneOver", BUFSIZE - fixed, "ret=206\n"},
      {"FarOver", BUFSIZE - 23, "ret=206\n"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    testreset();
    mrpath(MAPKEY);
    mrpath(BUSKEY);
    std::string data = "USB\\VID_0403&PID_6001\\" + std::string(row.seriallen, 'S');
    data += '\0';
    mrdata(LISTKEY, "0", REG_SZ, data.data(), data.size());
    runresult q = runtool(true);
    std::string line = lastline(q.out);
    EXPECT_EQ(q.status, 1);
    ASSERT_EQ(line.rfind("regopenkeyexa 3 namebuf=(" + prefix, 0), 0u);
    EXPECT_EQ(line.substr(line.size() - strlen(row.tail)), row.tail);
    size_t shown = line.size() - strlen("regopenkeyexa 3 namebuf=() ") - strlen(row.tail);
    EXPECT_LE(shown, BUFSIZE - 1);
  }
}

struct mapcase {
  const char *name;
  std::string value;
  std::string data;
  const char *pairline;  // "" for none
};

static const mapcase mapcases[] = {
    {"VcpPaired", "\\Device\\VCP0", z("COM7"), "\\Device\\VCP0=COM7\n"},
    {"PrefixAloneNotPaired", "\\Device\\VCP", z("COM7"), ""},
    {"OneMoreCharacterPaired", "\\Device\\VCPX", z("COM7"), "\\Device\\VCPX=COM7\n"},
    {"OtherCaseNotPaired", "\\Device\\vcp0", z("COM7"), ""},
    {"OtherDeviceNotPaired", "\\Device\\Serial0", z("COM1"), ""},
    {"DataWithoutZeroByte", "\\Device\\VCP2", "COM9", "\\Device\\VCP2=COM9\n"},
    {"DataEndsAtFirstZero", "\\Device\\VCP3", std::string("COM9\0junk", 9), "\\Device\\VCP3=COM9\n"},
};

TEST(SerialMap, PairLines) {
  for (const mapcase &c : mapcases) {
    SCOPED_TRACE(c.name);
    testreset();
    mrdata(MAPKEY, c.value.c_str(), REG_SZ, c.data.data(), c.data.size());
    mrpath(BUSKEY);
    mrpath(LISTKEY);
    runresult d = runtool(false);
    size_t len = c.data.find('\0') == std::string::npos ? c.data.size() : c.data.find('\0');
    std::string dump = "namebuf=(" + c.value + ") namesize=" + std::to_string(c.value.size()) +
                       " valuebuf=(" + c.data.substr(0, len) +
                       ") valuesize=" + std::to_string(c.data.size()) + " ret=0\n";
    EXPECT_EQ(d.out, maphead + dump + c.pairline + bushead + enumhead);
    EXPECT_EQ(runtool(true).out, headers);
  }
}

TEST(BusWalk, DeviceKeysAndPairLines) {
  struct {
    const char *name;
    const char *subkey;
    bool paired;
  } rows[] = {
      {"PrefixAloneSkipped", "VID_0403+PID_6001+", false},
      {"OneMoreCharacterIsDevice", "VID_0403+PID_6001+X", true},
      {"SecondSpelling", "Vid_0403+Pid_6001+X", true},
      {"OtherCaseMixSkipped", "VID_0403+Pid_6001+X", false},
      {"LowerCaseSkipped", "vid_0403+pid_6001+X", false},
      {"OtherProductSkipped", "VID_0403+PID_6015+X", false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    testreset();
    mrpath(MAPKEY);
    mrpath(LISTKEY);
    mrpath((std::string(BUSKEY) + "\\" + row.subkey).c_str());
    runresult d = runtool(false);
    std::string dump = std::string("namebuf=(") + row.subkey +
                       ") namesize=" + std::to_string(strlen(row.subkey)) + " ret=0\n";
    std::string pairline = std::string(BUSKEY) + "\\" + row.subkey + "=" + (row.subkey + 18) + "\n";
    EXPECT_EQ(d.out, maphead + bushead + dump + (row.paired ? pairline : "") + enumhead);
    EXPECT_EQ(runtool(true).out, headers);
  }
}

TEST(BusWalk, VisitsThreeLevelsOnly) {
  testreset();
  mrpath(MAPKEY);
  mrpath(LISTKEY);
  std::string dev = std::string(BUSKEY) + "\\VID_0403+PID_6001+LONGSERIAL1A";
  mrsz(BUSKEY, "RootValue", "not listed");
  mrsz(dev.c_str(), "DeviceValue", "not listed");
  mrsz((dev + "\\0000").c_str(), "Driver", "ftdibus");
  mrsz((dev + "\\0000\\Device Parameters").c_str(), "PortName", "not listed");
  mrpath((dev + "\\0000\\Device Parameters\\Deeper").c_str());
  mrpath((dev + "\\0001").c_str());
  mrpath((std::string(BUSKEY) + "\\VID_0403+PID_6001+S2").c_str());
  runresult d = runtool(false);
  EXPECT_EQ(d.out,
            "\n>> HARDWARE\\DEVICEMAP\\SERIALCOMM\n"
            "\n>> SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\n"
            "namebuf=(VID_0403+PID_6001+LONGSERIAL1A) namesize=30 ret=0\n"
            "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+LONGSERIAL1A=LONGSERIAL1A\n"
            "namebuf=(0000) namesize=4 ret=0\n"
            "namebuf=(Device Parameters) namesize=17 ret=0\n"
            "namebuf=(Driver) namesize=6 valuebuf=(ftdibus) valuesize=8 ret=0\n"
            "namebuf=(0001) namesize=4 ret=0\n"
            "namebuf=(VID_0403+PID_6001+S2) namesize=20 ret=0\n"
            "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+S2=S2\n"
            "\n>> SYSTEM\\CurrentControlSet\\Services\\FTDIBUS\\Enum\n");
}

// A device key whose name is so long that its path cannot fit in namebuf.
TEST(BusWalk, DeviceNameTooLongForPath) {
  const size_t base = strlen(BUSKEY) + 1 + 18;
  struct {
    const char *name;
    size_t restlen;
    const char *tail;
  } rows[] = {
      {"FitsExactly", BUFSIZE - 1 - base, nullptr},
      {"OneOver", BUFSIZE - base, "ret=206\n"},
      {"FarOver", BUFSIZE - 1 - 18, "ret=206\n"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    testreset();
    mrpath(MAPKEY);
    mrpath(LISTKEY);
    std::string name = "VID_0403+PID_6001+" + std::string(row.restlen, 'S');
    mrpath((std::string(BUSKEY) + "\\" + name).c_str());
    runresult q = runtool(true);
    if (row.tail == nullptr) {
      EXPECT_EQ(q.out, headers);
      EXPECT_EQ(q.status, 0);
      continue;
    }
    std::string line = lastline(q.out);
    EXPECT_EQ(q.status, 1);
    EXPECT_EQ(line.rfind("regopenkeyexa 3 namebuf=(SYSTEM\\", 0), 0u);
    EXPECT_EQ(line.substr(line.size() - strlen(row.tail)), row.tail);
  }
}
