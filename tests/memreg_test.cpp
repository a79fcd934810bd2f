// The stand-in registry must behave as the real one does for the calls the
// scans make; otherwise the native build would print what Windows does not.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "regseams.h"
#include "testutil.h"

using namespace std::string_literals;

static std::vector<std::string> subkeys(HKEY k) {
  std::vector<std::string> names;
  char name[256];
  for (DWORD i = 0;; i++) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(k, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    EXPECT_EQ(size, strlen(name));
    names.push_back(name);
  }
  return names;
}

static std::vector<std::string> valuenames(HKEY k) {
  std::vector<std::string> names;
  char name[256];
  BYTE data[256];
  for (DWORD i = 0;; i++) {
    DWORD size = sizeof name;
    DWORD dsize = sizeof data;
    if (RegEnumValueA(k, i, name, &size, nullptr, nullptr, data, &dsize) != ERROR_SUCCESS)
      break;
    names.push_back(name);
  }
  return names;
}

static HKEY open(const char *path, LONG *ret = nullptr) {
  HKEY k = nullptr;
  LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &k);
  if (ret != nullptr)
    *ret = r;
  return r == ERROR_SUCCESS ? k : nullptr;
}

TEST(Memreg, NamesMatchWithoutCaseAndKeepSpelling) {
  testreset();
  mrsz("Software\\Vendor", "Name", "x");
  HKEY k = open("SOFTWARE\\vendor");
  ASSERT_NE(k, nullptr);
  BYTE data[8];
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(k, "NAME", nullptr, nullptr, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 2u);
  RegCloseKey(k);
  HKEY root = open("");
  EXPECT_EQ(subkeys(root), std::vector<std::string>{"Software"});
  RegCloseKey(root);
  // Creating again with another case finds the same key and keeps the first spelling.
  mrpath("SOFTWARE\\VENDOR\\Sub");
  k = open("software");
  EXPECT_EQ(subkeys(k), std::vector<std::string>{"Vendor"});
  RegCloseKey(k);
}

// Names are found again in any case, whether they were created in order
// (as exports list them, each after the last) or not.
TEST(Memreg, NamesMatchWithoutCaseInAnyOrder) {
  for (bool reversed : {false, true}) {
    SCOPED_TRACE(reversed);
    const int n = 100;
    testreset();
    auto name = [&](int i, bool upper) {
      int j = reversed ? n - 1 - i : i;
      std::string s = "Vid_0403+Pid_6001+a" + std::to_string(1000 + j);
      for (char &c : s)
        c = upper ? (char)toupper(c) : c;
      return s;
    };
    for (int i = 0; i < n; i++) {
      mrpath(("K\\" + name(i, false)).c_str());
      mrsz("K", name(i, false).c_str(), "x");
    }
    EXPECT_EQ(mrfind(mrpath("K"), u"Vid_0403+Pid_6001+a999"), MRNONE);
    HKEY h = open("K\\VID_0403+PID_6001+A1042");
    char path[64] = "";
    EXPECT_GT(mrkeypath(h, path, sizeof path), 0);
    EXPECT_STREQ(path, "K\\Vid_0403+Pid_6001+a1042");
    RegCloseKey(h);
    // Created again in upper case: the same keys and values.
    for (int i = 0; i < n; i++) {
      mrpath(("K\\" + name(i, true)).c_str());
      mrsz("K", name(i, true).c_str(), "y");
    }
    HKEY k = open("K");
    ASSERT_NE(k, nullptr);
    std::vector<std::string> kids = subkeys(k), vals = valuenames(k);
    ASSERT_EQ(kids.size(), (size_t)n);
    ASSERT_EQ(vals.size(), (size_t)n);
    for (int i = 0; i < n; i++) {
      EXPECT_EQ(kids[i], "Vid_0403+Pid_6001+a" + std::to_string(1000 + i));
      EXPECT_EQ(vals[i], name(i, false));
    }
    RegCloseKey(k);
  }
}

TEST(Memreg, RoomForTextIsOnlyAHint) {
  testreset();
  mrreserve((size_t)-1);
  mrsz("K", "v", "x");
  HKEY k = open("K");
  EXPECT_EQ(valuenames(k), std::vector<std::string>{"v"});
  RegCloseKey(k);
}

TEST(Memreg, SubkeysSortedAsWindowsFoldsThem) {
  testreset();
  // Windows compares upper-cased names, so '_' (after 'Z') sorts after
  // letters; a lower-casing registry would put it before them.
  for (const char *n : {"b", "a_b", "A", "aB", "Zeta", "0000", "a"})
    mrpath((std::string("K\\") + n).c_str());
  HKEY k = open("K");
  EXPECT_EQ(subkeys(k), (std::vector<std::string>{"0000", "A", "aB", "a_b", "b", "Zeta"}));
  RegCloseKey(k);
}

TEST(Memreg, ValuesInCreationOrderAndResetKeepsPlace) {
  testreset();
  mrsz("K", "zeta", "1");
  mrsz("K", "Alpha", "2");
  mrsz("K", "mid", "3");
  mrsz("K", "ZETA", "again");
  HKEY k = open("K");
  EXPECT_EQ(valuenames(k), (std::vector<std::string>{"zeta", "Alpha", "mid"}));
  BYTE data[16];
  DWORD size = sizeof data;
  ASSERT_EQ(RegQueryValueExA(k, "zeta", nullptr, nullptr, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string((char *)data, size), std::string("again", 6));
  mrdelvalue(mrpath("K"), u"alpha");
  EXPECT_EQ(valuenames(k), (std::vector<std::string>{"zeta", "mid"}));
  RegCloseKey(k);
}

// Values are found however many a key has, as their count crosses the
// number up to which they are looked through in order, both ways.
TEST(Memreg, ValuesFoundAsTheirCountCrossesTheIndexLimit) {
  for (int n : {15, 16, 17, 18, 40}) {
    SCOPED_TRACE(n);
    testreset();
    std::vector<std::string> want;
    for (int i = 0; i < n; i++) {
      want.push_back("v" + std::to_string(i));
      mrsz("K", want.back().c_str(), "x");
    }
    for (std::string gone : {want[n - 1], want[n / 2], want[0]}) {
      mrdelvalue(mrpath("K"), utf8to16(gone));
      want.erase(std::find(want.begin(), want.end(), gone));
    }
    mrsz("K", "New", "x");
    mrsz("K", "V0", "x");
    want.insert(want.end(), {"New", "V0"});
    HKEY k = open("K");
    EXPECT_EQ(valuenames(k), want);
    for (int i = 0; i < n + 1; i++) {
      std::string name = "V" + std::to_string(i);
      bool there = std::find(want.begin(), want.end(), i == 0 ? name : "v" + std::to_string(i)) != want.end();
      EXPECT_EQ(RegQueryValueExA(k, name.c_str(), nullptr, nullptr, nullptr, nullptr),
                there ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND)
          << name;
    }
    RegCloseKey(k);
  }
}

// A deleted key is gone with everything below it and every link into it,
// once and for all; a handle opened on it before still names it.
TEST(Memreg, DeletedKeysStayDeleted) {
  testreset();
  mrsz("A\\B\\C", "v", "1");
  DWORD b = mrpath("A\\B"), c = mrpath("A\\B\\C");
  mrlink(mrpath("L"), u"ToC", c);
  mrlink(mrpath("L"), u"ToA", mrpath("A"));
  HKEY h = open("A\\B\\C");
  ASSERT_NE(h, nullptr);
  mrdelkey(b);
  mrdelkey(b);
  mrdelkey(c);  // below a deleted key: nothing more to do
  EXPECT_EQ(open("A\\B"), nullptr);
  HKEY l = open("L");
  EXPECT_EQ(subkeys(l), std::vector<std::string>{"ToA"});
  HKEY a = open("L\\ToA");
  EXPECT_EQ(subkeys(a), std::vector<std::string>{});
  char path[64] = "";
  EXPECT_EQ(mrkeypath(h, path, sizeof path), 5);
  EXPECT_STREQ(path, "A\\B\\C");
  // Made again, it is a new key, and empty.
  mrpath("A\\B");
  HKEY b2 = open("A\\B");
  EXPECT_EQ(subkeys(b2), std::vector<std::string>{});
  EXPECT_EQ(valuenames(b2), std::vector<std::string>{});
  for (HKEY k : {h, l, a, b2})
    RegCloseKey(k);
}

TEST(Memreg, ResultCodes) {
  testreset();
  mrsz("K", "abc", "0123456");  // 8 bytes with its zero
  mrpath("K\\abcd");
  HKEY k = open("K");
  ASSERT_NE(k, nullptr);
  char name[8];
  BYTE data[8];
  struct {
    const char *name;
    DWORD namesize, datasize;
    LONG code;
  } rows[] = {
      {"FitsExactly", 4, 8, ERROR_SUCCESS},
      {"NameNeedsRoomForZero", 3, 8, ERROR_MORE_DATA},
      {"DataOneByteShort", 4, 7, ERROR_MORE_DATA},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    DWORD ns = row.namesize, ds = row.datasize;
    EXPECT_EQ(RegEnumValueA(k, 0, name, &ns, nullptr, nullptr, data, &ds), row.code);
    if (row.code == ERROR_SUCCESS) {
      EXPECT_EQ(ns, 3u);
      EXPECT_EQ(ds, 8u);
      EXPECT_STREQ(name, "abc");
    }
  }
  DWORD ns = 4;
  EXPECT_EQ(RegEnumKeyExA(k, 0, name, &ns, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  ns = 5;
  EXPECT_EQ(RegEnumKeyExA(k, 0, name, &ns, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  // Past the last item the buffer is left as it was.
  ns = 5;
  EXPECT_EQ(RegEnumKeyExA(k, 1, name, &ns, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  EXPECT_STREQ(name, "abcd");
  DWORD ds = 7;
  EXPECT_EQ(RegQueryValueExA(k, "abc", nullptr, nullptr, data, &ds), ERROR_MORE_DATA);
  ds = 8;
  EXPECT_EQ(RegQueryValueExA(k, "missing", nullptr, nullptr, data, &ds), ERROR_FILE_NOT_FOUND);
  LONG ret;
  EXPECT_EQ(open("K\\nothere", &ret), nullptr);
  EXPECT_EQ(ret, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(open("\\K", &ret), nullptr);
  EXPECT_EQ(ret, ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(k), ERROR_INVALID_HANDLE);
}

TEST(Memreg, OpensRelativeToAnOpenKeyAndThroughLinks) {
  testreset();
  mrsz("SYSTEM\\ControlSet002\\Enum\\X", "v", "1");
  mrlink(mrpath("SYSTEM"), u"CurrentControlSet", mrpath("SYSTEM\\ControlSet002"));
  HKEY k = open("SYSTEM\\CurrentControlSet\\Enum");
  ASSERT_NE(k, nullptr);
  HKEY k2 = nullptr;
  EXPECT_EQ(RegOpenKeyExA(k, "x", 0, KEY_QUERY_VALUE, &k2), ERROR_SUCCESS);
  EXPECT_EQ(valuenames(k2), std::vector<std::string>{"v"});
  RegCloseKey(k2);
  RegCloseKey(k);
  // Deleting the target takes the link with it.
  mrdelkey(mrpath("SYSTEM\\ControlSet002"));
  EXPECT_EQ(open("SYSTEM\\CurrentControlSet"), nullptr);
}

TEST(Memreg, LongPathsUpToTheLimit) {
  testreset();
  std::string path;
  while (path.size() + 256 <= (size_t)MRPATHMAX)
    path += std::string(255, 'k') + "\\";
  path += std::string((size_t)MRPATHMAX - path.size(), 'e');
  ASSERT_EQ(path.size(), (size_t)MRPATHMAX);
  mrpath(path.c_str());
  HKEY k = open(path.c_str());
  EXPECT_NE(k, nullptr);
  RegCloseKey(k);
  LONG ret;
  // Longer paths than the tool's buffers hold are the stand-in's own limit.
  EXPECT_EQ(open((path + "x").c_str(), &ret), nullptr);
  EXPECT_EQ(ret, ERROR_INVALID_PARAMETER);
}

TEST(Memreg, HandleTableIsFixed) {
  testreset();
  mrpath("K");
  std::vector<HKEY> open1;
  for (int i = 0; i < MRHANDLES; i++)
    open1.push_back(open("K"));
  EXPECT_EQ(mropenhandles(), MRHANDLES);
  LONG ret;
  EXPECT_EQ(open("K", &ret), nullptr);
  EXPECT_EQ(ret, ERROR_TOO_MANY_OPEN_FILES);
  for (HKEY k : open1)
    EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
  EXPECT_EQ(mropenhandles(), 0);
}

TEST(Memreg, FaultInjection) {
  testreset();
  mrsz("K\\Sub", "v", "1");
  mrfault(MROPEN, 2, 5);
  LONG ret;
  HKEY k = open("K", &ret);
  EXPECT_EQ(ret, ERROR_SUCCESS);
  EXPECT_EQ(open("K", &ret), nullptr);
  EXPECT_EQ(ret, 5);
  HKEY k3 = open("K", &ret);
  EXPECT_EQ(ret, ERROR_SUCCESS);
  EXPECT_EQ(mrcalls(MROPEN), 3u);
  // Path faults match the full path, however the key is reached.
  mrfaultpath(MROPEN, "k\\SUB", 2);
  mrfaultpath(MRQUERY, "K\\Sub\\V", 234);
  HKEY k2 = nullptr;
  EXPECT_EQ(RegOpenKeyExA(k, "Sub", 0, KEY_READ, &k2), 2);
  EXPECT_EQ(open("K\\Sub", &ret), nullptr);
  EXPECT_EQ(ret, 2);
  EXPECT_EQ(mrcalls(MROPEN), 5u);
  RegCloseKey(k);
  RegCloseKey(k3);
}

// Text goes to the calls in the code page the registry's own ACP names; the
// bytes wanted are Wine's WideCharToMultiByte for that code page.
struct cpcase {
  const char *name;
  const char *acp;  // the ACP value, or null for none
  int ready;        // what mrready says
  unsigned acpnum;
  const char *text;  // UTF-8
  std::string want;
};

class Codepage : public testing::TestWithParam<cpcase> {};

TEST_P(Codepage, TextHandedOverInTheExportsCodePage) {
  const cpcase &c = GetParam();
  testreset();
  if (c.acp)
    mrsz("SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP", c.acp);
  mrsz("S", "v", c.text);
  unsigned acp = 0;
  EXPECT_EQ(mrready(&acp), c.ready);
  EXPECT_EQ(acp, c.acpnum);
  HKEY k = open("S");
  char data[16] = "";
  DWORD size = sizeof data;
  ASSERT_EQ(RegQueryValueExA(k, "v", nullptr, nullptr, (BYTE *)data, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(data, size), c.want);
  RegCloseKey(k);
}

INSTANTIATE_TEST_SUITE_P(Acp, Codepage,
                         testing::Values(cpcase{"None", nullptr, 0, 1252, "\xc3\xa9", "\xe9\0"s},
                                         cpcase{"Unknown", "1361", -1, 1361, "\xc3\xa9", "\xe9\0"s},
                                         cpcase{"NotANumber", "utf8", -1, 0, "\xc3\xa9", "\xe9\0"s},
                                         cpcase{"Known", "1251", 0, 1251, "\xd0\x96", "\xc6\0"s},
                                         cpcase{"DoubleByte", "932", 0, 932, "\xe3\x81\x82", "\x82\xa0\0"s}),
                         [](const testing::TestParamInfo<cpcase> &i) { return std::string(i.param.name); });

// A name or data whose code-page form outgrows the tool's 8192-byte buffers
// by its last double-byte character is ERROR_MORE_DATA, as under Wine.
TEST(Memreg, DoubleByteTextAtTheBufferEdge) {
  std::string a;  // あ, two bytes in 932
  for (int i = 0; i < 4095; i++)
    a += "\xe3\x81\x82";
  const struct {
    std::string name, data;
    LONG ret;
  } rows[] = {{"n", "x" + a, ERROR_SUCCESS},  // 8191 bytes and the zero
              {"n", "xy" + a, ERROR_MORE_DATA},
              {a + "x", "d", ERROR_SUCCESS},  // 8191 bytes and the zero
              {a + "\xe3\x81\x82", "d", ERROR_MORE_DATA}};
  for (const auto &row : rows) {
    testreset();
    mrsz("SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP", "932");
    mrsz("S", row.name.c_str(), row.data.c_str());
    mrready();
    HKEY k = open("S");
    static char name[8192];
    static BYTE data[8192];
    DWORD namesize = sizeof name, datasize = sizeof data;
    EXPECT_EQ(RegEnumValueA(k, 0, name, &namesize, nullptr, nullptr, data, &datasize), row.ret);
    RegCloseKey(k);
  }
}
