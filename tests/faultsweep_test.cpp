// Every registry call of a realistic run, failed in turn with each result
// code. A clean run is traced first: for each call, where the output stood
// when it was made. From that trace alone the test knows what a failure at
// any call must leave:
//
// - an open or a query: the clean output up to that call, then the failure
//   line, exit status 1, and open still every key that was open at that call;
// - an enumeration: the clean output less what the rest of that enumeration
//   printed (from the failed call up to the call that ended it cleanly), and
//   the run goes on to exit status 0;
// - a close: the clean output, and the exit status is the code when it is
//   the run's last close.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

std::vector<regcall> trace;

// twoadapters() and a third adapter with two instances, one of them with a
// subkey and values of its own, and list entries that are not adapters: every
// loop of every scan has more than one item somewhere.
void richer(void) {
  twoadapters();
  mrsz(MAPKEY, "\\Device\\VCP2", "COM20");
  adapter("2", "VID_0403+PID_6001+FTB6SPL3A", "USB\\VID_0403&PID_6001\\FTB6SPL3", "USB Serial Port (COM20)");
  const std::string inst1 = std::string(BUSKEY) + "\\VID_0403+PID_6001+FTB6SPL3A\\0001";
  mrsz(inst1.c_str(), "DeviceDesc", "USB Serial Port");
  dword(inst1.c_str(), "ConfigFlags", 0);
  mrpath((inst1 + "\\LogConf").c_str());
  mrsz(LISTKEY, "3", "USB\\VID_0403&PID_6010\\FT2232HA");
  dword(LISTKEY, "NextInstance", 4);
}

// The index in trace of the nth call (from 1) of op.
size_t nthcall(int op, DWORD nth) {
  DWORD seen = 0;
  for (size_t t = 0; t < trace.size(); t++)
    if (trace[t].op == op && ++seen == nth)
      return t;
  ADD_FAILURE() << "no call " << nth << " of op " << op;
  return 0;
}

// The call that ended the enumeration to which call t belongs: the last of
// the calls of the same op on the same key whose indices follow on from it.
size_t endofloop(size_t t) {
  size_t last = t;
  for (size_t u = t + 1; u < trace.size(); u++) {
    if (trace[u].op != trace[t].op || trace[u].key != trace[t].key)
      continue;
    if (trace[u].index != trace[last].index + 1)
      break;
    last = u;
  }
  return last;
}

// The failure line for a failed open at trace index t. A reopen for values
// (5) shows what the last enumeration left in namebuf, which the trace does
// not see; only its frame is checked.
std::string openfailure(size_t t, LONG code, bool *exact) {
  const regcall &c = trace[t];
  std::string tail = ") ret=" + std::to_string(code) + "\n";
  *exact = true;
  if (c.key == HKEY_LOCAL_MACHINE && c.name == MAPKEY)
    return "regopenkeyexa 1 namebuf=(" + c.name + tail;
  if (c.key == HKEY_LOCAL_MACHINE && (c.name == BUSKEY || c.name == LISTKEY))
    return "regopenkeyexa 2 namebuf=(" + c.name + tail;
  if (c.key == HKEY_LOCAL_MACHINE)
    return "regopenkeyexa 3 namebuf=(" + c.name + tail;
  if (c.mask == KEY_READ)
    return "regopenkeyexa 4 namebuf=(" + c.name + tail;
  *exact = false;
  return "regopenkeyexa 5 namebuf=(";
}

struct opcase {
  const char *name;
  int op;
};

// Each op failed at each of its calls with each code in faultcodes.
const opcase opcases[] = {
    {"FailedOpenEndsRun", MROPEN},
    {"FailedValueEnumerationEndsOnlyItself", MRENUMVALUE},
    {"FailedSubkeyEnumerationEndsOnlyItself", MRENUMKEY},
    {"FailedQueryEndsRun", MRQUERY},
    {"FailedCloseChangesOnlyLastStatus", MRCLOSE},
};

TEST(FaultSweep, EveryCallOfEveryOp) {
  for (bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "quiet" : "debug");
    richer();
    mrresetcalls();
    runresult clean = runtool(quiet, &trace);
    ASSERT_EQ(clean.status, 0);
    std::vector<regcall> cleantrace = trace;
    DWORD calls[MRNOPS];
    for (int op = 0; op < MRNOPS; op++) {
      calls[op] = mrcalls(op);
      DWORD n = 0;
      for (const regcall &c : cleantrace)
        n += c.op == op;
      ASSERT_EQ(n, calls[op]) << "the trace sees every call, op " << op;
    }
    // A run that walks every scan makes each kind of call several times.
    EXPECT_GE(calls[MROPEN], 15u);
    EXPECT_GE(calls[MRQUERY], 3u);
    EXPECT_GE(calls[MRENUMKEY], 20u);
    EXPECT_GE(calls[MRENUMVALUE], 15u);

    int runs = 0;
    for (const opcase &oc : opcases) {
      SCOPED_TRACE(oc.name);
      for (DWORD k = 1; k <= calls[oc.op]; k++) {
        for (LONG code : faultcodes) {
          SCOPED_TRACE("call " + std::to_string(k) + " code " + std::to_string(code));
          trace = cleantrace;
          size_t t = nthcall(oc.op, k);
          std::string expected;
          int status = 0;
          bool exact = true;
          std::string failline;
          switch (oc.op) {
            case MROPEN:
            case MRQUERY: {
              status = 1;
              if (oc.op == MROPEN)
                failline = openfailure(t, code, &exact);
              else
                failline = "regqueryvalueexa 4 namebuf=(FriendlyName) ret=" + std::to_string(code) + "\n";
              expected = clean.out.substr(0, (size_t)trace[t].at);
              break;
            }
            case MRENUMVALUE:
            case MRENUMKEY: {
              size_t end = endofloop(t);
              expected = clean.out.substr(0, (size_t)trace[t].at) + clean.out.substr((size_t)trace[end].at);
              break;
            }
            case MRCLOSE:
              expected = clean.out;
              status = k == calls[MRCLOSE] ? (int)code : 0;
              break;
          }

          richer();
          mrfault(oc.op, k, code);
          runresult res = runtool(quiet, &trace);
          runs++;
          EXPECT_EQ(res.status, status);
          if (!failline.empty()) {
            // The failure leaves open what was open when the call was made.
            EXPECT_EQ(openkeys(), trace[nthcall(oc.op, k)].open) << "a key was closed before the failure";
          }
          if (failline.empty()) {
            EXPECT_EQ(res.out, expected);
            // A failed close leaves that one key open in the stand-in; every
            // other key the run opened it closed.
            EXPECT_EQ(mropenhandles(), oc.op == MRCLOSE ? 1 : 0);
          } else if (exact) {
            EXPECT_EQ(res.out, expected + failline);
          } else {
            ASSERT_GE(res.out.size(), expected.size());
            EXPECT_EQ(res.out.substr(0, expected.size()), expected);
            std::string last = res.out.substr(expected.size());
            std::string tail = ") ret=" + std::to_string(code) + "\n";
            EXPECT_EQ(last.rfind(failline, 0), 0u) << last;
            ASSERT_GE(last.size(), failline.size() + tail.size());
            EXPECT_EQ(last.substr(last.size() - tail.size()), tail) << last;
            EXPECT_EQ(last.find('\n'), last.size() - 1) << last;
          }
        }
      }
    }
    // Each code at each call: the sweep is as large as the clean run says.
    int want = 0;
    for (const opcase &oc : opcases)
      want += (int)(calls[oc.op] * std::size(faultcodes));
    EXPECT_EQ(runs, want);
  }
}

// The trace ties output to calls as claimed: the first open is made after the
// first section header, and an enumeration's terminating call is the one
// after its last item.
TEST(FaultSweep, TraceFollowsTheRun) {
  twoadapters();
  runresult clean = runtool(false, &trace);
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace[0].at, (long)maphead.size());
  // The map's values: three items, then the call that ends the loop.
  size_t first = nthcall(MRENUMVALUE, 1);
  size_t end = endofloop(first);
  EXPECT_EQ(trace[end].index, 3u);
  EXPECT_EQ(clean.out.substr((size_t)trace[first].at, (size_t)(trace[end].at - trace[first].at)),
            "namebuf=(\\Device\\Serial0) namesize=15 valuebuf=(COM1) valuesize=5 ret=0\n"
            "namebuf=(\\Device\\VCP0) namesize=12 valuebuf=(COM7) valuesize=5 ret=0\n"
            "\\Device\\VCP0=COM7\n"
            "namebuf=(\\Device\\VCP1) namesize=12 valuebuf=(COM12) valuesize=6 ret=0\n"
            "\\Device\\VCP1=COM12\n");
}

}  // namespace
