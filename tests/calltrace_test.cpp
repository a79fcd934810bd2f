// The access mask of every open of a run, over a small registry that takes
// each scan through each of its steps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testutil.h"

namespace {

const std::string map = MAPKEY;
const std::string bus = BUSKEY;
const std::string list = LISTKEY;
const std::string dev1 = bus + "\\VID_0403+PID_6001+S1A";
const std::string dev2 = bus + "\\Vid_0403+Pid_6001+S2A";
const std::string inst1 = dev1 + "\\0000";
const std::string inst2 = dev2 + "\\0000";

// The opens of a run, each as its key's path and the access mask asked for.
std::string opens(const std::vector<regcall> &calls) {
  std::string s;
  for (const regcall &c : calls)
    if (c.op == MROPEN)
      s += c.path + " " +
           (c.mask == KEY_READ          ? "KEY_READ"
            : c.mask == KEY_QUERY_VALUE ? "KEY_QUERY_VALUE"
                                        : std::to_string(c.mask)) +
           "\n";
  return s;
}

// Each open asks for what the run does with its key: KEY_READ only where it
// lists subkeys, KEY_QUERY_VALUE where it reads values alone. The order of
// the calls and their failures are the fault sweep's (faultsweep_test.cpp).
TEST(CallTrace, OpensAskOnlyForWhatTheyUse) {
  testreset();
  mrsz(map.c_str(), "\\Device\\VCP0", "COM7");
  mrpath((inst1 + "\\Device Parameters").c_str());
  mrsz(inst1.c_str(), "FriendlyName", "USB Serial Port (COM7)");
  mrsz(inst2.c_str(), "FriendlyName", "USB Serial Port (COM8)");
  mrsz(list.c_str(), "0", "USB\\VID_0403&PID_6001\\S1");
  mrsz(list.c_str(), "1", "USB\\Vid_0403&Pid_6001\\S2");

  const std::string qv = " KEY_QUERY_VALUE\n", rd = " KEY_READ\n";
  const std::string expected = map + qv +                             // the serial port map's values
                               bus + rd + dev1 + rd + inst1 + rd +    // subkeys down to an instance's
                               inst1 + qv +                           // the instance's values
                               dev2 + rd + inst2 + rd + inst2 + qv +  // the same for the other spelling
                               list + qv + inst1 + qv + inst2 + qv;   // the driver's list, each FriendlyName
  std::vector<regcall> debug, quiet;
  EXPECT_EQ(runtool(false, &debug).status, 0);
  EXPECT_EQ(opens(debug), expected);
  // Debug mode only prints more: it makes the very same calls.
  EXPECT_EQ(runtool(true, &quiet).status, 0);
  ASSERT_EQ(quiet.size(), debug.size());
  for (size_t k = 0; k < debug.size(); k++) {
    EXPECT_EQ(quiet[k].op, debug[k].op) << k;
    EXPECT_EQ(quiet[k].path, debug[k].path) << k;
    EXPECT_EQ(quiet[k].mask, debug[k].mask) << k;
    EXPECT_EQ(quiet[k].index, debug[k].index) << k;
    EXPECT_EQ(quiet[k].name, debug[k].name) << k;
  }
  EXPECT_EQ(openkeys(), "");
}

}  // namespace
