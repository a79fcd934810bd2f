// libFuzzer target: the whole tool, in-process, over a registry and a set of
// injected faults that the input describes. Every run must print only the
// tool's line forms, in the order the three scans print them, end in at most
// one failure line with status 1, and close every key it opened when it
// completes.
//
// Input: the first byte picks the mode (bit 0: quiet). Then records, each
// starting with a byte whose low two bits say what it is: a key, a value, a
// fault at the nth call of an op, or a fault on a path. Names and data are
// built from tokens: fragments the scans look for (the prefixes, "COM", ")",
// "FriendlyName", the root paths...), literal bytes, and long fillers that
// reach the 8192-byte buffers' edges.
//
// Names never hold a zero byte and neither names nor data hold a line feed:
// the checker splits the output into lines and matches each against a form,
// which a line feed inside a name would make ambiguous. Such names are legal
// in the registry and print as they are; the exact-output tests cover what
// the bytes of a name do, this target what the structure of a run does. A
// zero byte in data stays: the text of data ends at it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "memreg.h"
#include "run.h"
#include "testutil.h"

namespace {

const char *const roots[] = {MAPKEY, BUSKEY, LISTKEY};

const char *const fragments[] = {
    DEVPREFIX[0].data(),
    DEVPREFIX[1].data(),
    IDPREFIX[0].data(),
    IDPREFIX[1].data(),
    VCPPREFIX.data(),
    "COM",
    ")",
    "(",
    "FriendlyName",
    "0000",
    "A\\0000",
    "A",
    "\\",
    "=",
    "S1",
    "COM3)",
    "USB Serial Port (COM7)",
    ") namesize=",
    " ret=0",
    "%s%d",
    MAPKEY,
    BUSKEY,
    LISTKEY,
    "vid_0403+pid_6001+",
};
const size_t nfragments = sizeof fragments / sizeof fragments[0];

const std::string dev0 = std::string(BUSKEY) + "\\" + std::string(DEVPREFIX[0]);
const std::string keybases[] = {
    MAPKEY,
    BUSKEY,
    LISTKEY,
    dev0,
    std::string(BUSKEY) + "\\" + std::string(DEVPREFIX[1]),
    "",
    dev0 + "S1A\\",
    "SYSTEM\\CurrentControlSet",
};

const DWORD types[] = {REG_SZ,       REG_EXPAND_SZ, REG_BINARY, REG_DWORD,
                       REG_MULTI_SZ, REG_NONE,      REG_QWORD,  0x1234};

struct input {
  const uint8_t *p, *e;
};

int byte(input &in) {
  return in.p < in.e ? *in.p++ : 0;
}

// A string from up to 16 tokens.
std::string text(input &in) {
  std::string s;
  int n = byte(in) % 16;
  for (int k = 0; k < n && in.p < in.e; k++) {
    int t = byte(in);
    if (t < 0x80) {
      s += fragments[(size_t)t % nfragments];
    } else if (t < 0xf0) {
      size_t len = (size_t)(t - 0x80);
      if (len > (size_t)(in.e - in.p))
        len = (size_t)(in.e - in.p);
      s.append((const char *)in.p, len);
      in.p += len;
    } else {
      size_t len = (size_t)(byte(in) | byte(in) << 8) % 9000;
      s.append(len, (char)byte(in));
    }
  }
  return s;
}

std::string name(input &in) {
  std::string s = text(in);
  for (char &c : s)
    if (c == '\0' || c == '\n')
      c = '_';
  return s;
}

std::string data(input &in) {
  std::string s = text(in);
  for (char &c : s)
    if (c == '\n')
      c = '_';
  return s;
}

std::string keypath(input &in) {
  std::string p = keybases[byte(in) % 8];
  return p + name(in);
}

// The run and what it printed.
run rec;
char outbuf[1 << 23];

[[noreturn]] void violation(const char *what, const std::string &line) {
  fprintf(stderr, "run_fuzz: %s: %.300s\n", what, line.c_str());
  __builtin_trap();
}

bool isnumber(const std::string &s, bool sign) {
  size_t k = sign && !s.empty() && s[0] == '-' ? 1 : 0;
  if (k == s.size() || s.size() - k > 11)
    return false;
  for (; k < s.size(); k++)
    if (s[k] < '0' || s[k] > '9')
      return false;
  return true;
}

bool startswith(const std::string &s, const std::string &p) {
  return s.compare(0, p.size(), p) == 0;
}
bool endswith(const std::string &s, const std::string &p) {
  return s.size() >= p.size() && s.compare(s.size() - p.size(), p.size(), p) == 0;
}

// "namebuf=(N) namesize=n ret=0", with n the length of N. N may itself hold
// ") namesize=", so every split is tried.
bool subkeydump(const std::string &l) {
  if (!startswith(l, "namebuf=(") || !endswith(l, " ret=0"))
    return false;
  std::string mid = l.substr(9, l.size() - 9 - 6);
  for (size_t at = mid.find(") namesize="); at != std::string::npos; at = mid.find(") namesize=", at + 1)) {
    std::string n = mid.substr(at + 11);
    if (isnumber(n, false) && std::stoul(n) == at && at < BUFSIZE)
      return true;
  }
  return false;
}

// "namebuf=(N) namesize=n valuebuf=(V) valuesize=v ret=0": N of length n,
// V the text of the data, so no longer than v, and v within valuebuf.
bool valuedump(const std::string &l) {
  if (!startswith(l, "namebuf=(") || !endswith(l, " ret=0"))
    return false;
  size_t vs = l.rfind(") valuesize=");
  if (vs == std::string::npos)
    return false;
  std::string v = l.substr(vs + 12, l.size() - 6 - vs - 12);
  if (!isnumber(v, false) || std::stoul(v) > BUFSIZE)
    return false;
  size_t datasize = std::stoul(v);
  std::string head = l.substr(9, vs - 9);  // N) namesize=n valuebuf=(V
  for (size_t at = head.find(") namesize="); at != std::string::npos; at = head.find(") namesize=", at + 1)) {
    size_t sp = head.find(" valuebuf=(", at + 11);
    if (sp == std::string::npos)
      continue;
    std::string n = head.substr(at + 11, sp - at - 11);
    size_t textlen = head.size() - sp - 11;
    if (isnumber(n, false) && std::stoul(n) == at && at < BUFSIZE && textlen <= datasize)
      return true;
  }
  return false;
}

// A pair line of the bus walk or of the port resolution: the path built
// from the serial s, "=", and s. tail is what follows s in the path.
bool pathpair(const std::string &l, const std::string &tail) {
  for (std::string_view p : DEVPREFIX) {
    std::string base = std::string(BUSKEY) + "\\" + std::string(p);
    if (!startswith(l, base))
      continue;
    size_t rest = l.size() - base.size() - tail.size() - 1;
    if (l.size() < base.size() + tail.size() + 1 || rest % 2 != 0)
      continue;
    std::string s = l.substr(base.size(), rest / 2);
    if (l == base + s + tail + "=" + s)
      return true;
  }
  return false;
}

// "regopenkeyexa n namebuf=(...) ret=c" or "regqueryvalueexa 4
// namebuf=(FriendlyName) ret=c", c nonzero; returns n (the query as 6), or 0.
int failure(const std::string &l) {
  size_t r = l.rfind(") ret=");
  if (r == std::string::npos || !isnumber(l.substr(r + 6), true) || l.substr(r + 6) == "0")
    return 0;
  if (l == "regqueryvalueexa 4 namebuf=(FriendlyName" + l.substr(r))
    return 6;
  if (startswith(l, "regopenkeyexa ") && l.size() > 26 && l[14] >= '1' && l[14] <= '5' &&
      l.compare(15, 10, " namebuf=(") == 0 && r >= 24)
    return l[14] - '0';
  return 0;
}

// A port mapping line: the port name cut from FriendlyName ("COM" and what
// follows it up to a ")", or nothing), "=", and the serial number, when it is
// known.
bool mapping(const std::string &l, const std::string *serial) {
  if (serial != nullptr) {
    if (!endswith(l, "=" + *serial))
      return false;
    std::string port = l.substr(0, l.size() - serial->size() - 1);
    return port.find(')') == std::string::npos && port.size() < BUFSIZE &&
           (port.empty() || startswith(port, "COM"));
  }
  size_t eq = l.find('=');
  return eq != std::string::npos && eq < l.find(')') && (eq == 0 || startswith(l, "COM"));
}

// Checks the output line by line; returns whether it ended in a failure line.
bool check(const std::string &out, bool quiet, int status, int closestatus) {
  if (!out.empty() && out.back() != '\n')
    violation("output does not end a line", out.substr(out.size() > 200 ? out.size() - 200 : 0));
  std::vector<std::string> lines;
  for (size_t at = 0; at < out.size();) {
    size_t nl = out.find('\n', at);
    lines.push_back(out.substr(at, nl - at));
    at = nl + 1;
  }
  int scan = 0;  // 1, 2, 3 once that scan's header is printed
  bool failed = false;
  bool afteradapter = false;  // a port resolution pair line, awaiting its result
  for (size_t k = 0; k < lines.size(); k++) {
    const std::string &l = lines[k];
    if (failed)
      violation("a line after the failure line", l);
    if (l.empty()) {
      if (scan == 3 || k + 1 == lines.size() || lines[k + 1] != std::string(">> ") + roots[scan])
        violation("an empty line that is not the next section header's", l);
      if (afteradapter)
        violation("no port mapping after an adapter's pair line", l);
      scan++;
      k++;
      continue;
    }
    if (scan == 0)
      violation("output before the first section header", l);
    int f = failure(l);
    if (f != 0) {
      bool fits = (f == 1 && scan == 1) || (f == 2 && (scan == 2 || scan == 3)) ||
                  (f >= 3 && f <= 5 && scan == 2) || ((f == 3 || f == 6) && scan == 3);
      if (!fits)
        violation("a failure line that this scan cannot print", l);
      if ((f == 1 || f == 2) && (l != std::string("regopenkeyexa ") + (char)('0' + f) + " namebuf=(" +
                                          roots[scan - 1] + l.substr(l.rfind(") ret=")) ||
                                 !endswith(lines[k - 1], roots[scan - 1])))
        violation("a root's failure line that is not right after its header", l);
      failed = true;
      continue;
    }
    if (afteradapter) {
      std::string serial = lines[k - 1].substr(lines[k - 1].rfind("A\\0000=") + 7);
      if (!mapping(l, &serial))
        violation("not the port mapping line of the adapter just paired", l);
      afteradapter = false;
      continue;
    }
    if (quiet) {
      if (scan != 3 || !mapping(l, nullptr))
        violation("a quiet run prints only headers, mappings and a failure", l);
      continue;
    }
    if (scan == 1) {
      if (valuedump(l))
        continue;
      if (startswith(l, std::string(VCPPREFIX)) && k > 0 &&
          startswith(lines[k - 1], "namebuf=(" + std::string(VCPPREFIX)))
        continue;
      violation("not a line of the serial port map scan", l);
    }
    if (scan == 2) {
      if (subkeydump(l) || valuedump(l))
        continue;
      if (pathpair(l, "") && k > 0 && subkeydump(lines[k - 1]))
        continue;
      violation("not a line of the bus walk", l);
    }
    if (scan == 3) {
      if (valuedump(l))
        continue;
      if (pathpair(l, "A\\0000") && k > 0 && valuedump(lines[k - 1])) {
        afteradapter = true;
        continue;
      }
      violation("not a line of the port resolution", l);
    }
  }
  if (afteradapter && !failed)
    violation("the output ends after an adapter's pair line", "");
  if (failed) {
    if (status != 1)
      violation("a failure line with exit status other than 1", std::to_string(status));
    return true;
  }
  if (scan != 3)
    violation("a run without a failure line that did not reach the last scan", out.substr(0, 200));
  if (status != closestatus)
    violation("a complete run whose exit status is not its last close's", std::to_string(status));
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size) {
  input in = {bytes, bytes + size};
  testreset();
  bool quiet = (byte(in) & 1) != 0;
  DWORD closenth = 0;
  LONG closecode = 0;
  while (in.p < in.e) {
    int what = byte(in);
    switch (what & 3) {
      case 0:
        mrpath(keypath(in).c_str());
        break;
      case 1: {
        std::string k = keypath(in);
        std::string n = name(in);
        DWORD type = types[byte(in) % 8];
        std::string d = data(in);
        if (what & 4)
          d += '\0';
        mrsetvalue(mrpath(k.c_str()), utf8to16(n), type, d.data(), d.size());
        break;
      }
      case 2: {
        int op = byte(in) % MRNOPS;
        DWORD nth = 1 + (DWORD)byte(in) % 64;
        LONG code = faultcodes[byte(in) % std::size(faultcodes)];
        mrfault(op, nth, code);
        if (op == MRCLOSE) {
          closenth = nth;
          closecode = code;
        }
        break;
      }
      case 3: {
        std::string p = keypath(in);
        if (what & 4) {
          mrfaultpath(MRQUERY, (p + "\\" + name(in)).c_str(), faultcodes[byte(in) % std::size(faultcodes)]);
        } else {
          mrfaultpath(MROPEN, p.c_str(), faultcodes[byte(in) % std::size(faultcodes)]);
        }
        break;
      }
    }
  }
  mrready();
  mrresetcalls();

  FILE *f = fmemopen(outbuf, sizeof outbuf, "w");
  if (f == nullptr)
    return 0;
  rec.out = f;
  int status = comserial(rec, quiet ? 2 : 1);
  long n = ftell(f);
  fclose(f);
  // Output that filled the buffer was cut; its lines cannot be checked.
  if (n < 0 || (size_t)n >= sizeof outbuf - 1)
    return 0;
  std::string out(outbuf, (size_t)n);
  // RUN_FUZZ_PRINT=1 shows what a run printed, to follow up a finding.
  static const bool show = getenv("RUN_FUZZ_PRINT") != nullptr;
  if (show)
    fprintf(stderr, "status %d\n%s", status, out.c_str());
  // The exit status of a complete run is its last close's result.
  DWORD closes = mrcalls(MRCLOSE);
  int closestatus = closenth != 0 && closes == closenth ? (int)closecode : 0;
  bool failed = check(out, quiet, status, closestatus);
  // A complete run closed every key it opened; a close that was made to fail
  // leaves its key open in the stand-in.
  int leftopen = closenth != 0 && closes >= closenth ? 1 : 0;
  if (!failed && mropenhandles() != leftopen)
    violation("a complete run left keys open", std::to_string(mropenhandles()));
  return 0;
}
