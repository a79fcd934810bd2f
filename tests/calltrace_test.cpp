// Every registry call of a run, in order, over a small registry that takes
// each scan through each of its steps: what it does, on which key, with which
// access mask (KEY_READ only where subkeys are listed) and which value name.
// Debug mode only prints more; it makes the very same calls.
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

// One call: the op, its key's path, and the mask of an open, the index of an
// enumeration or the value name of a query.
struct call {
  const char *op;
  std::string path;
  std::string arg;
};

const char *const opnames[MRNOPS] = {"open", "enumvalue", "LISTKEY", "query", "close"};

std::string text(const std::vector<call> &calls) {
  std::string s;
  for (const call &c : calls)
    s += std::string(c.op) + " " + c.path + (c.arg.empty() ? "" : " " + c.arg) + "\n";
  return s;
}

std::string maskname(DWORD mask) {
  if (mask == KEY_READ)
    return "KEY_READ";
  if (mask == KEY_QUERY_VALUE)
    return "KEY_QUERY_VALUE";
  return std::to_string(mask);
}

TEST(CallTrace, EveryCallOfARun) {
  testreset();
  mrsz(map.c_str(), "\\Device\\VCP0", "COM7");
  mrpath((inst1 + "\\Device Parameters").c_str());
  mrsz(inst1.c_str(), "FriendlyName", "USB Serial Port (COM7)");
  mrsz(inst2.c_str(), "FriendlyName", "USB Serial Port (COM8)");
  mrpath((bus + "\\VID_0403+PID_6010+X").c_str());
  mrsz(list.c_str(), "0", "USB\\VID_0403&PID_6001\\S1");
  mrsz(list.c_str(), "1", "USB\\Vid_0403&Pid_6001\\S2");
  dword(list.c_str(), "Count", 2);

  const std::string qv = "KEY_QUERY_VALUE", rd = "KEY_READ";
  const std::vector<call> expected = {
      // The serial port map: its one value, then the call that ends the list.
      {"open", map, qv},
      {"enumvalue", map, "0"},
      {"enumvalue", map, "1"},
      {"close", map, ""},
      // The bus tree: each device key by its full path, each instance below
      // it opened twice, first for its subkeys and then for its values.
      {"open", bus, rd},
      {"LISTKEY", bus, "0"},
      {"open", dev1, rd},
      {"LISTKEY", dev1, "0"},
      {"open", inst1, rd},
      {"LISTKEY", inst1, "0"},
      {"LISTKEY", inst1, "1"},
      {"close", inst1, ""},
      {"open", inst1, qv},
      {"enumvalue", inst1, "0"},
      {"enumvalue", inst1, "1"},
      {"close", inst1, ""},
      {"LISTKEY", dev1, "1"},
      {"close", dev1, ""},
      {"LISTKEY", bus, "1"},
      {"open", dev2, rd},
      {"LISTKEY", dev2, "0"},
      {"open", inst2, rd},
      {"LISTKEY", inst2, "0"},
      {"close", inst2, ""},
      {"open", inst2, qv},
      {"enumvalue", inst2, "0"},
      {"enumvalue", inst2, "1"},
      {"close", inst2, ""},
      {"LISTKEY", dev2, "1"},
      {"close", dev2, ""},
      {"LISTKEY", bus, "2"},  // another product: passed over
      {"LISTKEY", bus, "3"},
      {"close", bus, ""},
      // The driver's list: each adapter's device instance key, only for its
      // FriendlyName.
      {"open", list, qv},
      {"enumvalue", list, "0"},
      {"open", inst1, qv},
      {"query", inst1, "FriendlyName"},
      {"close", inst1, ""},
      {"enumvalue", list, "1"},
      {"open", inst2, qv},
      {"query", inst2, "FriendlyName"},
      {"close", inst2, ""},
      {"enumvalue", list, "2"},  // Count: not an adapter
      {"enumvalue", list, "3"},
      {"close", list, ""},
  };

  for (bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "quiet" : "debug");
    std::vector<regcall> calls;
    runresult res = runtool(quiet, &calls);
    std::vector<call> made;
    for (const regcall &c : calls) {
      std::string arg = c.op == MROPEN                             ? maskname(c.mask)
                        : c.op == MRENUMVALUE || c.op == MRENUMKEY ? std::to_string(c.index)
                        : c.op == MRQUERY                          ? c.name
                                                                   : "";
      made.push_back({opnames[c.op], c.path, arg});
    }
    EXPECT_EQ(text(made), text(expected));
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(openkeys(), "");
  }
}

}  // namespace
