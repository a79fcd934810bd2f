// The export reader: grammar, encodings, line ends, errors with their line
// numbers, concatenated exports, the code page of 8-bit text, deletes, the
// CurrentControlSet link, and input that straddles the reader's chunks.
#include "regfile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "memreg.h"
#include "registry.h"
#include "testutil.h"

using namespace std::string_literals;

namespace {

const std::string H5 = "Windows Registry Editor Version 5.00\r\n\r\n";

// UTF-8 text to UTF-16LE bytes.
std::string u16(const std::string &s) {
  std::string o;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = s[i];
    unsigned cp;
    int n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if (c < 0xe0) {
      cp = c & 0x1f;
      n = 2;
    } else if (c < 0xf0) {
      cp = c & 0x0f;
      n = 3;
    } else {
      cp = c & 0x07;
      n = 4;
    }
    for (int k = 1; k < n; k++)
      cp = cp << 6 | (s[i + k] & 0x3f);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unsigned hi = 0xd800 + (cp >> 10), lo = 0xdc00 + (cp & 0x3ff);
      o += (char)(hi & 0xff);
      o += (char)(hi >> 8);
      o += (char)(lo & 0xff);
      o += (char)(lo >> 8);
    } else {
      o += (char)(cp & 0xff);
      o += (char)(cp >> 8);
    }
  }
  return o;
}

const std::string BOM16 = "\xff\xfe";
const std::string BOM8 = "\xef\xbb\xbf";

std::string part16(const std::string &body) {
  return BOM16 + u16("Windows Registry Editor Version 5.00\r\n\r\n" + body + "\r\n");
}
std::string part8(const std::string &body) {
  return "REGEDIT4\r\n\r\n" + body + "\r\n";
}
std::string partutf8(const std::string &body) {
  return BOM8 + "Windows Registry Editor Version 5.00\r\n\r\n" + body + "\r\n";
}

std::string x16(const std::string &body) {
  return BOM16 +
         u16("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n" + body);
}

struct loaded {
  int rc;
  unsigned long line;
  std::string msg;
  std::vector<std::string> skips;  // "N: what was expected", in order
};

void collect(unsigned long line, const char *what, void *ctx) {
  ((std::vector<std::string> *)ctx)->push_back(std::to_string(line) + ": " + what);
}

loaded load(const std::string &text) {
  testreset();
  loaded l = {0, 0, "", {}};
  char msg[200] = "";
  l.rc = regloadmem(text.data(), text.size(), &l.line, msg, sizeof msg, collect, &l.skips);
  l.msg = msg;
  return l;
}

FILE *memfile(const std::string &s) {
  FILE *f = tmpfile();
  if (f) {
    fwrite(s.data(), 1, s.size(), f);
    rewind(f);
  }
  return f;
}

// The same as load, from a file.
loaded loadfile(const std::string &text) {
  testreset();
  loaded l = {-1, 0, "no file", {}};
  FILE *f = memfile(text);
  if (!f)
    return l;
  char msg[200] = "";
  l.rc = regloadfile(f, &l.line, msg, sizeof msg, collect, &l.skips);
  l.msg = msg;
  fclose(f);
  return l;
}

// Loads text from memory and then from a file: each time it must load, with
// these skipped lines, and then pass check.
template <typename F>
void eachsource(const char *name, const std::string &text, const std::vector<std::string> &skips, F check) {
  for (int file = 0; file < 2; file++) {
    SCOPED_TRACE(std::string(name) + (file ? " from a file" : ""));
    loaded l = file ? loadfile(text) : load(text);
    ASSERT_EQ(l.rc, 0) << "line " << l.line << ": " << l.msg;
    EXPECT_EQ(l.skips, skips);
    check();
  }
}

struct got {
  bool found;
  DWORD type;
  std::string data;
};

// A value under HKLM, read the way the scans read it.
got query(const char *path, const char *name) {
  got g = {false, 0, ""};
  HKEY h;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &h) != ERROR_SUCCESS)
    return g;
  DWORD size = 0;
  if (RegQueryValueExA(h, name, nullptr, &g.type, nullptr, &size) == ERROR_SUCCESS) {
    g.data.resize(size);
    DWORD size2 = size;
    g.found = RegQueryValueExA(h, name, nullptr, &g.type, (LPBYTE)g.data.data(), &size2) == ERROR_SUCCESS;
    g.data.resize(size2);
  }
  RegCloseKey(h);
  return g;
}

bool haskey(HKEY root, const char *path) {
  HKEY h;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &h) != ERROR_SUCCESS)
    return false;
  RegCloseKey(h);
  return true;
}

std::vector<std::string> subkeys(const char *path) {
  std::vector<std::string> names;
  HKEY h;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &h) != ERROR_SUCCESS)
    return names;
  char name[256];
  for (DWORD i = 0;; i++) {
    DWORD n = sizeof name;
    if (RegEnumKeyExA(h, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.push_back(std::string(name, n));
  }
  RegCloseKey(h);
  return names;
}

std::string dw(DWORD v) {
  return std::string((const char *)&v, 4);
}

// Values: each row loads an 8-bit export and reads one value back.

struct valuecase {
  const char *name;
  std::string body;  // after the header, with the key line
  const char *valuename;
  DWORD type;
  std::string data;
};

void PrintTo(const valuecase &c, std::ostream *os) {
  *os << c.name;
}

class Values : public testing::TestWithParam<valuecase> {};

TEST_P(Values, StoreAsTheCallsHandThemBack) {
  const valuecase &c = GetParam();
  loaded l = load(H5 + c.body);
  ASSERT_EQ(l.rc, 0) << "line " << l.line << ": " << l.msg;
  EXPECT_EQ(l.skips, std::vector<std::string>{});
  got g = query("SOFTWARE\\T", c.valuename);
  ASSERT_TRUE(g.found);
  EXPECT_EQ(g.type, c.type);
  EXPECT_EQ(g.data, c.data);
}

const std::string K = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n";

INSTANTIATE_TEST_SUITE_P(
    Grammar, Values,
    testing::Values(
        valuecase{"StringKeepsItsTerminatingZero", K + "\"a\"=\"text\"\r\n", "a", REG_SZ, "text\0"s},
        valuecase{"EmptyStringIsJustTheZero", K + "\"a\"=\"\"\r\n", "a", REG_SZ, "\0"s},
        valuecase{"EscapesInStrings", K + "\"a\"=\"q\\\"b\\\\n\\nr\\r\"\r\n", "a", REG_SZ, "q\"b\\n\nr\r\0"s},
        valuecase{"EscapesInNames", K + "\"a\\\"\\\\b\"=\"x\"\r\n", "a\"\\b", REG_SZ, "x\0"s},
        valuecase{"DefaultValueHasEmptyName", K + "@=\"d\"\r\n", "", REG_SZ, "d\0"s},
        valuecase{"BlanksAroundEquals", K + "\"a\" \t= \t\"x\"\r\n", "a", REG_SZ, "x\0"s},
        valuecase{"LeadingBlanksOnValueLine", K + "  \"a\"=\"x\"\r\n", "a", REG_SZ, "x\0"s},
        valuecase{"SemicolonInsideStringIsText", K + "\"a\"=\"x;y\" ; note\r\n", "a", REG_SZ, "x;y\0"s},
        valuecase{"BracketInsideStringIsText", K + "\"a]\"=\"[x]\"\r\n", "a]", REG_SZ, "[x]\0"s},
        valuecase{"DwordEightDigitsLittleEndian", K + "\"a\"=dword:12345678\r\n", "a", REG_DWORD,
                  "\x78\x56\x34\x12"s},
        valuecase{"DwordOneDigit", K + "\"a\"=dword:7\r\n", "a", REG_DWORD, dw(7)},
        valuecase{"DwordUpperCaseDigitsAndComment", K + "\"a\"=dword:FFFFFFFF ; all\r\n", "a", REG_DWORD,
                  dw(0xffffffffu)},
        valuecase{"DwordNoDigitsBeforeCommentIsZero", K + "\"a\"=dword: ;c\r\n", "a", REG_DWORD, dw(0)},
        valuecase{"UnknownEscapeIsTheCharacter", K + "\"a\\q\"=\"\\t\"\r\n", "aq", REG_SZ, "t\0"s},
        valuecase{"HexIsBinary", K + "\"a\"=hex:00,01,fe,FF\r\n", "a", REG_BINARY, "\x00\x01\xfe\xff"s},
        valuecase{"HexSingleDigitBytes", K + "\"a\"=hex:1,a,0f\r\n", "a", REG_BINARY, "\x01\x0a\x0f"s},
        valuecase{"HexEmpty", K + "\"a\"=hex:\r\n", "a", REG_BINARY, ""},
        valuecase{"HexEmptyWithComment", K + "\"a\"=hex: ; nothing\r\n", "a", REG_BINARY, ""},
        valuecase{"HexBlanksBeforeBytes", K + "\"a\"=hex: 01,\t02 ;c\r\n", "a", REG_BINARY, "\x01\x02"s},
        valuecase{"HexBytesAsRegeditReadsNumbers", K + "\"a\"=hex:001,0x2,+3,-0,Ab\r\n", "a", REG_BINARY,
                  "\x01\x02\x03\x00\xab"s},
        valuecase{"HexTrailingComma", K + "\"a\"=hex:01,02,\r\n", "a", REG_BINARY, "\x01\x02"s},
        valuecase{"HexContinuationLines", K + "\"a\"=hex:01,02,\\\r\n  03,04,\\\r\n\t05\r\n", "a", REG_BINARY,
                  "\x01\x02\x03\x04\x05"s},
        valuecase{"HexContinuesRightAfterColon", K + "\"a\"=hex(3):\\\r\n  aa,bb\r\n", "a", REG_BINARY,
                  "\xaa\xbb"s},
        valuecase{"HexContinuationWithComment", K + "\"a\"=hex:01,\\ ; more\r\n  02\r\n", "a", REG_BINARY,
                  "\x01\x02"s},
        valuecase{"HexContinuationOverBlankAndCommentLines", K + "\"a\"=hex:01,\\\r\n\r\n ; c\r\n  02\r\n",
                  "a", REG_BINARY, "\x01\x02"s},
        valuecase{"HexBackslashAtTheEnd", K + "\"a\"=hex:01,\\\r\n\r\n", "a", REG_BINARY, "\x01"s},
        valuecase{"HexTypeZeroIsNone", K + "\"a\"=hex(0):\r\n", "a", REG_NONE, ""},
        valuecase{"HexTypeQword", K + "\"a\"=hex(b):01,00,00,00,00,00,00,00\r\n", "a", REG_QWORD,
                  "\x01\0\0\0\0\0\0\0"s},
        valuecase{"HexTypeLargest", K + "\"a\"=hex(ffffffff):5a\r\n", "a", 0xffffffffu, "\x5a"s},
        valuecase{"HexTypeUpperCaseDigits", K + "\"a\"=hex(A):01\r\n", "a", 10, "\x01"s},
        valuecase{"HexTypeEmptyIsNone", K + "\"a\"=hex():01\r\n", "a", REG_NONE, "\x01"s},
        valuecase{"HexTypeWithBlankAndSign", K + "\"a\"=hex( +4):01\r\n", "a", REG_DWORD, "\x01"s},
        valuecase{"HexTypeLeadingZeros", K + "\"a\"=hex(00000004):01,00,00,00\r\n", "a", REG_DWORD, dw(1)},
        valuecase{"ExpandSzBytesPassThroughIn8BitFile", K + "\"a\"=hex(2):25,41,25,00\r\n", "a",
                  REG_EXPAND_SZ, "%A%\0"s},
        valuecase{"HighBytesPassThroughIn8BitFile", K + "\"a\"=\"\xe9t\xe9\"\r\n", "a", REG_SZ,
                  "\xe9t\xe9\0"s},
        valuecase{"LaterValueReplacesEarlier", K + "\"a\"=\"x\"\r\n\"A\"=dword:1\r\n", "a", REG_DWORD, dw(1)},
        valuecase{"RootMatchesAnyCase", "[hkey_Local_Machine\\SOFTWARE\\T]\r\n\"a\"=\"x\"\r\n", "a", REG_SZ,
                  "x\0"s},
        valuecase{"KeyLineWithTextAfter",
                  "  [HKEY_LOCAL_MACHINE\\SOFTWARE\\T]  ; c \"b\"=\"y\"\r\n\"a\"=\"x\"\r\n", "a", REG_SZ,
                  "x\0"s},
        valuecase{"TrailingBackslashInKeyIsIgnored", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\]\r\n\"a\"=\"x\"\r\n",
                  "a", REG_SZ, "x\0"s},
        valuecase{"CommentsAndBlankLinesAreSkipped",
                  "; one\r\n# two\r\n   ; three\r\n\t\r\n" + K + "; four\r\n\"a\"=\"x\"\r\n", "a", REG_SZ,
                  "x\0"s}),
    [](const testing::TestParamInfo<valuecase> &i) { return std::string(i.param.name); });

// Skipped lines: each row is a line regedit would skip, after which a value
// "z" follows (unless the row has it lost too). The line is reported with
// where its value started and what was expected, and loading goes on.

struct skipcase {
  const char *name;
  std::string text;  // after E, the bad line is line 4
  const char *skip;
  bool zkept;  // whether "z" on the line after is loaded
};

void PrintTo(const skipcase &c, std::ostream *os) {
  *os << c.name;
}

class Skips : public testing::TestWithParam<skipcase> {};

const std::string E = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n";

TEST_P(Skips, ReportLineAndGoOn) {
  const skipcase &c = GetParam();
  loaded l = load(E + c.text + "\"z\"=\"after\"\r\n");
  ASSERT_EQ(l.rc, 0) << l.msg;
  EXPECT_EQ(l.skips, std::vector<std::string>{c.skip});
  EXPECT_FALSE(query("SOFTWARE\\T", "a").found);
  EXPECT_EQ(query("SOFTWARE\\T", "z").found, c.zkept);
}

const char TYPES[] = "4: expected \"string\", dword:, hex: or hex(type): after '='";
const char DWORDS[] = "4: expected 1 to 8 hex digits after 'dword:'";
const char HEXES[] = "4: expected hex bytes (00 to ff) separated by commas";
const char HEXTYPE[] = "4: expected hex(type): with the type in hex, at most ffffffff";

INSTANTIATE_TEST_SUITE_P(
    Grammar, Skips,
    testing::Values(
        skipcase{"UnterminatedString", "\"a\"=\"abc\r\n", "4: expected '\"' to end the string", true},
        skipcase{"BackslashAtEndOfString", "\"a\"=\"abc\\\r\n", "4: expected '\"' to end the string", true},
        skipcase{"NameEndsAtSecondQuote", "\"a=\"x\r\n", "4: expected '=' after the value name", true},
        skipcase{"UnterminatedName", "\"abc\r\n", "4: expected '\"' to end the value name", true},
        skipcase{"EscapedZeroInString", "\"a\"=\"x\\0\"\r\n", "4: expected no \\0 in the string", true},
        skipcase{"EscapedZeroInName", "\"a\\0\"=\"x\"\r\n", "4: expected no \\0 in the value name", true},
        skipcase{"MissingEquals", "\"a\" \"x\"\r\n", "4: expected '=' after the value name", true},
        skipcase{"DefaultWithoutEquals", "@\"x\"\r\n", "4: expected '=' after '@'", true},
        skipcase{"NoData", "\"a\"=\r\n", TYPES, true},
        skipcase{"UnknownTypeTag", "\"a\"=qword:1\r\n", TYPES, true},
        skipcase{"UpperCaseTag", "\"a\"=DWORD:1\r\n", TYPES, true},
        skipcase{"TagWithoutColon", "\"a\"=dword 1\r\n", TYPES, true},
        skipcase{"BareNumber", "\"a\"=1\r\n", TYPES, true},
        skipcase{"HashAfterString", "\"a\"=\"x\" #c\r\n",
                 "4: expected end of line or a comment after the string", true},
        skipcase{"TextAfterDelete", "\"a\"=- x\r\n", "4: expected end of line or a comment after '-'", true},
        skipcase{"DwordTooLong", "\"a\"=dword:000000001\r\n", DWORDS, true},
        skipcase{"DwordNotHex", "\"a\"=dword:xyz\r\n", DWORDS, true},
        skipcase{"DwordEmpty", "\"a\"=dword:  \r\n", DWORDS, true},
        skipcase{"DwordTrailingText", "\"a\"=dword:12g4\r\n",
                 "4: expected end of line or a comment after the dword", true},
        skipcase{"HexByteOverFF", "\"a\"=hex:01,100\r\n", HEXES, true},
        skipcase{"HexNegativeByte", "\"a\"=hex:-1\r\n", HEXES, true},
        skipcase{"HexBlankBeforeComma", "\"a\"=hex:01 ,02\r\n", HEXES, true},
        skipcase{"HexTwoCommas", "\"a\"=hex:01,,02\r\n", HEXES, true},
        skipcase{"HexBackslashWithoutComma", "\"a\"=hex:01\\\r\n", HEXES, true},
        skipcase{"HexTextAfterBackslash", "\"a\"=hex:01,\\ #c\r\n",
                 "4: expected end of line or a comment after '\\'", true},
        skipcase{"ContinuationTakesTheNextLine", "\"a\"=hex:01,\\\r\n  \"b\"=\"x\"\r\n",
                 "4: expected hex bytes on the line after '\\'", true},
        skipcase{"ContinuationHashLine", "\"a\"=hex:01,\\\r\n# c\r\n",
                 "4: expected hex bytes on the line after '\\'", true},
        skipcase{"ContinuationBadByteOnThirdLine", "\"a\"=hex:01,\\\r\n  02,\\\r\n  03,g\r\n", HEXES, true},
        skipcase{"HexTypeOverFFFFFFFF", "\"a\"=hex(100000000):00\r\n", HEXTYPE, true},
        skipcase{"HexTypeNegative", "\"a\"=hex(-1):00\r\n", HEXTYPE, true},
        skipcase{"HexTypeZeroX", "\"a\"=hex(0x4):00\r\n", HEXTYPE, true},
        skipcase{"HexTypeBlankAfter", "\"a\"=hex(4 ):00\r\n", HEXTYPE, true},
        skipcase{"HexTypeUnclosed", "\"a\"=hex(2:00\r\n", HEXTYPE, true},
        skipcase{"HexTypeWithoutColon", "\"a\"=hex(2)00\r\n", HEXTYPE, true},
        skipcase{"UnknownLine", "x=1\r\n", "4: expected a [key] line, a \"name\"= or @= value, or a comment",
                 true},
        // Key lines: a bad one leaves the key open, one naming no root or a
        // deletion closes it.
        skipcase{"KeyWithoutBracket", "[HKEY_LOCAL_MACHINE\\x\r\n", "4: expected ']' to end the key name",
                 true},
        skipcase{"KeyWithBlankFirst", "[ HKEY_LOCAL_MACHINE\\x]\r\n",
                 "4: expected the key name right after '['", true},
        skipcase{"AbbreviatedRoot", "[HKLM\\SOFTWARE\\T]\r\n",
                 "4: expected a root key such as HKEY_LOCAL_MACHINE", false},
        skipcase{"EmptyKey", "[]\r\n", "4: expected a root key such as HKEY_LOCAL_MACHINE", false},
        skipcase{"BackslashAfterRoot", "[HKEY_LOCAL_MACHINE\\\\SOFTWARE\\T]\r\n",
                 "4: expected a key name after the root key's backslash", false},
        // What ends regedit's import ends ours.
        skipcase{
            "DeletionOfNoRoot", "[-HKCU\\x]\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n",
            "4: expected a root key such as HKEY_LOCAL_MACHINE after '[-' (nothing from here on is read)",
            false},
        skipcase{"Nul", "\"a\"=\"x" + "\0"s + "y\"\r\n",
                 "4: expected no NUL character (nothing from here on is read)", false}),
    [](const testing::TestParamInfo<skipcase> &i) { return std::string(i.param.name); });

TEST(Skipped, LinesCountOverContinuationsAndLineEnds) {
  loaded l = load(E + "\"a\"=hex:01,\\\n 02,\\\r 03\r\n\"b\"=dword:\r\n");
  EXPECT_EQ(l.skips, std::vector<std::string>{"7: expected 1 to 8 hex digits after 'dword:'"});
  EXPECT_EQ(query("SOFTWARE\\T", "a").data, "\x01\x02\x03"s);
}

// A UTF-16 export cut short leaves an odd byte: reported on the line it
// ends, from memory and from a file alike.
TEST(Skipped, OddLastByteOfUtf16) {
  const char odd[] = "expected two bytes to each UTF-16 character (the odd last byte is not read)";
  struct row {
    const char *name;
    std::string text;
    std::vector<std::string> skips;
    bool afound;
  } rows[] = {
      {"AfterTheLastLineEnd", x16("\"a\"=\"x\"\r\n") + "\x41", {"5: "s + odd}, true},
      {"OnALastLineWithoutItsEnd", x16("\"a\"=\"x\"") + "\x41", {"4: "s + odd}, true},
      {"CuttingAString",
       x16("\"a\"=\"x") + "\"",
       {"4: expected '\"' to end the string", "4: "s + odd},
       false},
      {"OnTheHeaderLine", BOM16 + u16("REGEDIT4") + "\x41", {"1: "s + odd}, false},
  };
  for (const row &r : rows)
    eachsource(r.name, r.text, r.skips, [&] { EXPECT_EQ(query("SOFTWARE\\T", "a").found, r.afound); });
}

TEST(Skipped, ValuesBeforeAnyKey) {
  loaded l = load("REGEDIT4\r\n\"a\"=\"x\"\r\n@=dword:1\r\n");
  EXPECT_EQ(l.rc, 0);
  EXPECT_EQ(l.skips, (std::vector<std::string>{"2: expected a [key] line before the first value",
                                               "3: expected a [key] line before the first value"}));
}

// Input that is no export at all fails whole, on its first line.

struct notcase {
  const char *name;
  std::string text;
};

void PrintTo(const notcase &c, std::ostream *os) {
  *os << c.name;
}

class NotExports : public testing::TestWithParam<notcase> {};

TEST_P(NotExports, FailOnTheFirstLine) {
  loaded l = load(GetParam().text + "\r\n[HKEY_LOCAL_MACHINE\\S]\r\n");
  EXPECT_EQ(l.rc, -1);
  EXPECT_EQ(l.line, 1u);
  EXPECT_EQ(l.msg, "expected 'Windows Registry Editor Version 5.00' or 'REGEDIT4'");
  EXPECT_EQ(mrnkeys(), (DWORD)MRNROOTS);
}

INSTANTIATE_TEST_SUITE_P(
    Input, NotExports,
    testing::Values(notcase{"KeyFirst", "[HKEY_LOCAL_MACHINE\\S]"},
                    notcase{"OtherVersion", "Windows Registry Editor Version 4.00"},
                    notcase{"TrailingText", "REGEDIT4 x"}, notcase{"TrailingBlank", "REGEDIT4 "},
                    notcase{"LowerCase", "regedit4"}, notcase{"CommentFirst", "; hi\r\nREGEDIT4"},
                    notcase{"BlankLineFirst", "\r\nREGEDIT4"}, notcase{"NulInHeader", "REGEDIT4" + "\0"s},
                    notcase{"Utf16WithoutMark", u16("REGEDIT4")},
                    notcase{"BigEndianMark", "\xfe\xff"s + "\0R"s},
                    notcase{"Binary",
                            "\x7f"
                            "ELF\x02\x01\x01"s}),
    [](const testing::TestParamInfo<notcase> &i) { return std::string(i.param.name); });

// Line ends and encodings: the same small export written every way must load
// the same, and an error on its fourth line must be reported there.

struct formcase {
  const char *name;
  std::string prefix;  // a byte-order mark
  bool utf16;
  const char *eol;
  bool lastend;  // whether the last line has its line end
};

std::string encode(const formcase &c, const std::vector<std::string> &lines) {
  std::string t;
  for (size_t i = 0; i < lines.size(); i++) {
    t += lines[i];
    if (i + 1 < lines.size() || c.lastend)
      t += c.eol;
  }
  return c.prefix + (c.utf16 ? u16(t) : t);
}

void PrintTo(const formcase &c, std::ostream *os) {
  *os << c.name;
}

class Forms : public testing::TestWithParam<formcase> {};

TEST_P(Forms, LoadTheSame) {
  const formcase &c = GetParam();
  loaded l = load(encode(c, {"Windows Registry Editor Version 5.00", "", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]",
                             "\"s\"=\"x y\"", "\"h\"=hex:01,\\", "  02", "@=dword:5"}));
  ASSERT_EQ(l.rc, 0) << "line " << l.line << ": " << l.msg;
  EXPECT_EQ(query("SOFTWARE\\T", "s").data, "x y\0"s);
  EXPECT_EQ(query("SOFTWARE\\T", "h").data, "\x01\x02"s);
  EXPECT_EQ(query("SOFTWARE\\T", "").data, dw(5));
}

TEST_P(Forms, CountLines) {
  const formcase &c = GetParam();
  loaded l =
      load(encode(c, {"REGEDIT4", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]", "\"h\"=hex:01,\\", "  zz", "x"}));
  EXPECT_EQ(l.rc, 0);
  EXPECT_EQ(l.skips,
            (std::vector<std::string>{"3: expected hex bytes on the line after '\\'",
                                      "5: expected a [key] line, a \"name\"= or @= value, or a comment"}));
}

INSTANTIATE_TEST_SUITE_P(Input, Forms,
                         testing::Values(formcase{"Crlf", "", false, "\r\n", true},
                                         formcase{"Lf", "", false, "\n", true},
                                         formcase{"CrOnly", "", false, "\r", true},
                                         formcase{"NoFinalLineEnd", "", false, "\r\n", false},
                                         formcase{"Utf8Crlf", BOM8, false, "\r\n", true},
                                         formcase{"Utf16Crlf", BOM16, true, "\r\n", true},
                                         formcase{"Utf16Lf", BOM16, true, "\n", true},
                                         formcase{"Utf16CrOnly", BOM16, true, "\r", true},
                                         formcase{"Utf16NoFinalLineEnd", BOM16, true, "\r\n", false}),
                         [](const testing::TestParamInfo<formcase> &i) { return std::string(i.param.name); });

// Text: what the "A" calls hand back from each kind of file, in code page
// 1252 (the export names none).

struct textcase {
  const char *name;
  std::string text;  // a whole export
  const char *key;
  const char *valuename;
  DWORD type;
  std::string data;
};

void PrintTo(const textcase &c, std::ostream *os) {
  *os << c.name;
}

class Text : public testing::TestWithParam<textcase> {};

TEST_P(Text, ComesBackInTheCodePageOrAsItsBytes) {
  const textcase &c = GetParam();
  loaded l = load(c.text);
  ASSERT_EQ(l.rc, 0) << "line " << l.line << ": " << l.msg;
  got g = query(c.key, c.valuename);
  ASSERT_TRUE(g.found);
  EXPECT_EQ(g.type, c.type);
  EXPECT_EQ(g.data, c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, Text,
    testing::Values(
        textcase{"Utf16String", x16("\"a\"=\"caf\xc3\xa9 \xe2\x82\xac\"\r\n"), "SOFTWARE\\T", "a", REG_SZ,
                 "caf\xe9 \x80\0"s},
        textcase{"Utf16SurrogatePairToTwoDefaults", x16("\"a\"=\"\xf0\x9f\x98\x80\"\r\n"), "SOFTWARE\\T", "a",
                 REG_SZ, "??\0"s},
        textcase{"Utf16ValueName", x16("\"n\xc3\xbc\"=dword:1\r\n"), "SOFTWARE\\T", "n\xfc", REG_DWORD,
                 dw(1)},
        textcase{"Utf16KeyName",
                 BOM16 + u16("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\\xc3\x9f]\r\n\"a\"=\"x\"\r\n"),
                 "SOFTWARE\\\xdf", "a", REG_SZ, "x\0"s},
        textcase{"Utf16ExpandSzHex", x16("\"a\"=hex(2):25,00,e9,00,25,00,00,00\r\n"), "SOFTWARE\\T", "a",
                 REG_EXPAND_SZ, "%\xe9%\0"s},
        textcase{"Utf16MultiSzHex", x16("\"a\"=hex(7):61,00,00,00,ac,20,00,00,\\\r\n  00,00\r\n"),
                 "SOFTWARE\\T", "a", REG_MULTI_SZ, "a\0\x80\0\0"s},
        textcase{"Utf16SzHexWithoutZeroGetsNone", x16("\"a\"=hex(1):41,00,42,00\r\n"), "SOFTWARE\\T", "a",
                 REG_SZ, "AB"},
        textcase{"Utf16SurrogatePairInHex", x16("\"a\"=hex(1):3d,d8,00,de,00,00\r\n"), "SOFTWARE\\T", "a",
                 REG_SZ, "??\0"s},
        textcase{"Utf16UnpairedSurrogatesInHexAsDefaults", x16("\"a\"=hex(1):3d,d8,41,00,00,dc\r\n"),
                 "SOFTWARE\\T", "a", REG_SZ, "?A?"},
        textcase{"Utf16UnpairedSurrogateInStringAsDefault", x16("\"a\"=\"") + "\x3d\xd8"s + u16("x\"\r\n"),
                 "SOFTWARE\\T", "a", REG_SZ, "?x\0"s},
        textcase{"Utf16BinaryHexUntouched", x16("\"a\"=hex:41,00\r\n"), "SOFTWARE\\T", "a", REG_BINARY,
                 "A\0"s},
        textcase{"Utf16LinkHexUntouched", x16("\"a\"=hex(6):41,00\r\n"), "SOFTWARE\\T", "a", REG_LINK,
                 "A\0"s},
        textcase{"Utf8String",
                 BOM8 + "Windows Registry Editor Version 5.00\r\n" + K + "\"a\"=\"\xc3\xa9\"\r\n",
                 "SOFTWARE\\T", "a", REG_SZ, "\xe9\0"s},
        textcase{"Utf8HexTextIsUtf16",
                 BOM8 + "Windows Registry Editor Version 5.00\r\n" + K + "\"a\"=hex(2):e9,00,00,00\r\n",
                 "SOFTWARE\\T", "a", REG_EXPAND_SZ, "\xe9\0"s},
        textcase{"EightBitHexTextPassesThrough", "REGEDIT4\r\n" + K + "\"a\"=hex(7):e9,00,00\r\n",
                 "SOFTWARE\\T", "a", REG_MULTI_SZ, "\xe9\0\0"s}),
    [](const testing::TestParamInfo<textcase> &i) { return std::string(i.param.name); });

// UTF-8 is decoded sequence by sequence; a byte that starts none that is
// well-formed (at its shortest, no surrogate, at most U+10FFFF) stands for
// U+FFFD on its own, as the Unicode standard has it for these.
TEST(Utf8, DecodedSequenceBySequence) {
  struct row {
    const char *name;
    std::string in;
    std::u16string out;
  } rows[] = {
      {"Ascii", "A~\0b"s, u"A~\0b"s},
      {"TwoBytes", "\xc3\xa9", u"\u00e9"},
      {"ThreeBytes", "\xe2\x82\xac", u"\u20ac"},
      {"FourBytesAsASurrogatePair", "\xf0\x9f\x98\x80", u"\U0001f600"},
      {"HighestCharacter", "\xf4\x8f\xbf\xbf", u"\U0010ffff"},
      {"LoneTrailByte", "\x80x", u"\ufffdx"},
      {"NeverALead", "\xc0\xaf\xf5\xff", u"\ufffd\ufffd\ufffd\ufffd"},
      {"Overlong", "\xe0\x80\xaf", u"\ufffd\ufffd\ufffd"},
      {"EncodedSurrogate", "\xed\xa0\x80", u"\ufffd\ufffd\ufffd"},
      {"BeyondTheLastCharacter", "\xf4\x90\x80\x80", u"\ufffd\ufffd\ufffd\ufffd"},
  };
  for (const row &r : rows)
    EXPECT_EQ(utf8to16(r.in), r.out) << r.name;
}

// An 8-bit export is in the machine's code page already, the one its ACP
// names: its bytes pass as they are, and its names match as that code
// page's characters (lower-case Cyrillic opens the upper-case key). The
// text is read in that code page wherever the ACP comes: an export read in
// another first is read again, once (its skipped line is reported once);
// after a UTF-16 export, in the code page named so far.
TEST(EightBit, ReadInTheCodePageTheExportNames) {
  auto acp = [](const std::string &cp) {
    return "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage]\r\n\"ACP\"=\"" + cp +
           "\"";
  };
  const std::string acp1251 = acp("1251");
  const std::string cyr = "[HKEY_LOCAL_MACHINE\\S\\\xcf\xd0]\r\n\"\xc8\"=\"\xc6\"\r\n\"bad\"=dword:x";
  const std::string sk = "expected 1 to 8 hex digits after 'dword:'";
  struct row {
    const char *name;
    std::string text;
    const char *key, *value;
    std::string data;
    std::vector<std::string> skips;
  } rows[] = {
      {"NamedFirst", part8(acp1251 + "\r\n" + cyr), "S\\\xef\xf0", "\xe8", "\xc6\0"s, {"7: " + sk}},
      {"NamedLast", part8(cyr + "\r\n" + acp1251), "S\\\xef\xf0", "\xe8", "\xc6\0"s, {"5: " + sk}},
      {"NamedInALaterUtf16Export",
       part8(cyr) + part16(acp1251),
       "S\\\xef\xf0",
       "\xe8",
       "\xc6\0"s,
       {"5: " + sk}},
      {"NamedInAnEarlierUtf16Export",
       part16(acp1251) + part8(cyr),
       "S\\\xef\xf0",
       "\xe8",
       "\xc6\0"s,
       {"9: " + sk}},
      // A machine set to UTF-8 writes its 8-bit exports in UTF-8; what the A
      // calls hand over is those bytes again.
      {"Utf8Machine",
       part8("[HKEY_LOCAL_MACHINE\\S\\\xe1\x83\x9f]\r\n\"\xc3\xa9\"=\"\xf0\x9f\x98\x80\"\r\n" + acp("65001")),
       "S\\\xe1\x83\x9f",
       "\xc3\xa9",
       "\xf0\x9f\x98\x80\0"s,
       {}},
      // A second byte that is a backslash, in a name and before a closing quote.
      {"DoubleByte",
       part8("[HKEY_LOCAL_MACHINE\\S]\r\n\"\x83\x5c\"=\"\x95\x5c\"\r\n" + acp("932")),
       "S",
       "\x83\x5c",
       "\x95\x5c\0"s,
       {}},
  };
  for (const row &r : rows)
    eachsource(r.name, r.text, r.skips, [&] {
      mrready();
      got g = query(r.key, r.value);
      EXPECT_TRUE(g.found);
      EXPECT_EQ(g.data, r.data);
    });
}

// Concatenated exports: each part has its own header and byte-order mark,
// the encoding may change, and later content merges over earlier.

struct catcase {
  const char *name;
  std::string text;
};

void PrintTo(const catcase &c, std::ostream *os) {
  *os << c.name;
}

class Concatenated : public testing::TestWithParam<catcase> {};

const std::string A =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n\"a\"=\"first\"\r\n\"b\"=hex(2):41,00,00,00\r\n\"c\"=dword:1";
const std::string B = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n\"a\"=\"second\"\r\n\"d\"=hex(2):42,00,00,00";

TEST_P(Concatenated, LaterPartsMergeOverEarlier) {
  const catcase &c = GetParam();
  loaded l = load(c.text);
  ASSERT_EQ(l.rc, 0) << "line " << l.line << ": " << l.msg;
  EXPECT_EQ(query("SOFTWARE\\T", "a").data, "second\0"s);
  EXPECT_EQ(query("SOFTWARE\\T", "c").data, dw(1));
  EXPECT_TRUE(query("SOFTWARE\\T", "b").found);
  EXPECT_TRUE(query("SOFTWARE\\T", "d").found);
}

INSTANTIATE_TEST_SUITE_P(Input, Concatenated,
                         testing::Values(catcase{"Utf16ThenUtf16", part16(A) + part16(B)},
                                         catcase{"Utf16Then8Bit", part16(A) + part8(B)},
                                         catcase{"Utf16ThenUtf8", part16(A) + partutf8(B)},
                                         catcase{"EightBitThenUtf16", part8(A) + part16(B)},
                                         catcase{"Utf8ThenUtf16", partutf8(A) + part16(B)},
                                         catcase{"Utf8Then8Bit", partutf8(A) + part8(B)},
                                         catcase{"EightBitThenEightBit", part8(A) + part8(B)}),
                         [](const testing::TestParamInfo<catcase> &i) { return std::string(i.param.name); });

// Each part's hex text is read in that part's own encoding.
TEST(Concatenation, HexTextFollowsEachPartsEncoding) {
  struct row {
    const char *name;
    std::string text;
    std::string b, d;
  } rows[] = {
      {"Utf16Then8Bit", part16(A) + part8(B), "A\0"s, "B\0\0\0"s},
      {"EightBitThenUtf16", part8(A) + part16(B), "A\0\0\0"s, "B\0"s},
      {"Utf8Then8Bit", partutf8(A) + part8(B), "A\0"s, "B\0\0\0"s},
      {"Utf16ThenUtf8", part16(A) + partutf8(B), "A\0"s, "B\0"s},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    loaded l = load(r.text);
    ASSERT_EQ(l.rc, 0) << "line " << l.line << ": " << l.msg;
    EXPECT_EQ(query("SOFTWARE\\T", "b").data, r.b);
    EXPECT_EQ(query("SOFTWARE\\T", "d").data, r.d);
  }
}

TEST(Concatenation, LinesCountOnAcrossParts) {
  // The first part has six lines; the second part's fourth is bad.
  loaded l = load(part16(A) + part8("[HKEY_LOCAL_MACHINE\\x]\r\n\"a\"=dword:"));
  EXPECT_EQ(l.rc, 0);
  EXPECT_EQ(l.skips, std::vector<std::string>{"10: expected 1 to 8 hex digits after 'dword:'"});
}

// A later export's values before its first key line go nowhere, as when
// regedit imports that export on its own, whatever the encodings on either
// side; a header line inside a UTF-16 export changes nothing.
TEST(Concatenation, ValuesBeforeALaterExportsFirstKeyGoNowhere) {
  const std::string early = "\"x\"=\"early\"\r\n@=dword:1\r\n" + B;  // lines 9 and 10 of the stream
  const std::vector<std::string> lost = {"9: expected a [key] line before the first value",
                                         "10: expected a [key] line before the first value"};
  struct row {
    const char *name;
    std::string text;
    std::vector<std::string> skips;
  } rows[] = {
      {"Utf16AfterUtf16", part16(A) + part16(early), lost},
      {"EightBitAfterUtf16", part16(A) + part8(early), lost},
      {"Utf8After8Bit", part8(A) + partutf8(early), lost},
      {"Utf16After8Bit", part8(A) + part16(early), lost},
      {"EightBitAfter8Bit", part8(A) + part8(early), lost},
      {"Utf8AfterUtf8", partutf8(A) + partutf8(early), lost},
      {"HeaderLineInsideAnExport", part16(A + "\r\nWindows Registry Editor Version 5.00\r\n" + early), {}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    loaded l = load(r.text);
    ASSERT_EQ(l.rc, 0) << "line " << l.line << ": " << l.msg;
    EXPECT_EQ(l.skips, r.skips);
    EXPECT_EQ(query("SOFTWARE\\T", "x").found, r.skips.empty());
    EXPECT_EQ(query("SOFTWARE\\T", "").found, r.skips.empty());
    EXPECT_EQ(query("SOFTWARE\\T", "a").data, "second\0"s);
  }
}

TEST(Concatenation, SeparateLoadsMerge) {
  testreset();
  std::string a = part8(A), b = part16(B);
  unsigned long line;
  char msg[100];
  ASSERT_EQ(regloadmem(a.data(), a.size(), &line, msg, sizeof msg), 0);
  ASSERT_EQ(regloadmem(b.data(), b.size(), &line, msg, sizeof msg), 0);
  EXPECT_EQ(query("SOFTWARE\\T", "a").data, "second\0"s);
  EXPECT_EQ(query("SOFTWARE\\T", "c").data, dw(1));
}

// Keys: creation with parents, other roots, deletes.

TEST(Keys, CreateParentsAndKeepRootsApart) {
  loaded l = load(H5 +
                  "[HKEY_LOCAL_MACHINE\\A\\B\\C]\r\n"
                  "[HKEY_CURRENT_USER\\A\\X]\r\n\"u\"=\"cu\"\r\n"
                  "[hkey_current_user\\A\\Y]\r\n"
                  "[HKEY_USERS\\A]\r\n[HKEY_USERS\\B]\r\n[HKEY_CLASSES_ROOT\\A]\r\n[HKEY_CLASSES_ROOT\\B]\r\n"
                  "[HKEY_CURRENT_CONFIG\\A]\r\n[HKEY_CURRENT_CONFIG\\B]\r\n"
                  "[HKEY_LOCAL_MACHINE]\r\n\"root\"=dword:1\r\n");
  ASSERT_EQ(l.rc, 0) << l.msg;
  EXPECT_TRUE(haskey(HKEY_LOCAL_MACHINE, "A\\B\\C"));
  EXPECT_EQ(subkeys("A"), std::vector<std::string>{"B"});
  EXPECT_FALSE(haskey(HKEY_LOCAL_MACHINE, "A\\X"));
  EXPECT_TRUE(haskey(HKEY_CURRENT_USER, "A\\X"));
  EXPECT_TRUE(haskey(HKEY_CURRENT_USER, "A\\Y"));
  struct {
    HKEY root;
    const char *path;
  } others[] = {{HKEY_USERS, "A"},        {HKEY_USERS, "B"},          {HKEY_CLASSES_ROOT, "A"},
                {HKEY_CLASSES_ROOT, "B"}, {HKEY_CURRENT_CONFIG, "A"}, {HKEY_CURRENT_CONFIG, "B"}};
  for (const auto &o : others) {
    SCOPED_TRACE(o.path);
    EXPECT_TRUE(haskey(o.root, o.path));
  }
  EXPECT_EQ(query("", "root").data, dw(1));
  EXPECT_FALSE(query("A\\X", "u").found);
}

TEST(Keys, NameRunsToTheLastBracketOnTheLine) {
  loaded l = load(H5 +
                  "[HKEY_LOCAL_MACHINE\\A\\x]y]\r\n[HKEY_LOCAL_MACHINE\\A\\p] ; "
                  "q]\r\n[HKEY_LOCAL_MACHINE\\A\\m]]] z\r\n" +
                  "[HKEY_LOCAL_MACHINE\\A\\s ]\r\n[HKEY_LOCAL_MACHINE\\A\\\\d\\\\]\r\n");
  ASSERT_EQ(l.rc, 0) << l.msg;
  EXPECT_EQ(subkeys("A"), (std::vector<std::string>{"d", "m]]", "p] ; q", "s ", "x]y"}));
}

TEST(Keys, KeepTheirFirstSpellingAndMatchAnyCase) {
  loaded l = load(H5 +
                  "[HKEY_LOCAL_MACHINE\\Soft\\Ware]\r\n\"a\"=\"1\"\r\n[HKEY_LOCAL_MACHINE\\SOFT\\WARE]"
                  "\r\n\"b\"=\"2\"\r\n");
  ASSERT_EQ(l.rc, 0) << l.msg;
  EXPECT_EQ(subkeys(""), std::vector<std::string>{"Soft"});
  EXPECT_EQ(subkeys("Soft"), std::vector<std::string>{"Ware"});
  EXPECT_TRUE(query("soft\\ware", "a").found);
  EXPECT_TRUE(query("soft\\ware", "b").found);
}

TEST(Keys, DeletesTable) {
  struct row {
    const char *name;
    std::string body;
    std::vector<std::string> underA;  // subkeys of A afterwards
    bool ahasv;                       // A\B holds v
  } rows[] = {
      {"DeleteRemovesSubtree",
       "[HKEY_LOCAL_MACHINE\\A\\B\\C]\r\n[HKEY_LOCAL_MACHINE\\A\\D]\r\n[-HKEY_LOCAL_MACHINE\\A\\B]\r\n",
       {"D"},
       false},
      {"DeleteMissingIsNoError",
       "[HKEY_LOCAL_MACHINE\\A\\D]\r\n[-HKEY_LOCAL_MACHINE\\A\\Nope\\Deeper]\r\n[-HKEY_LOCAL_MACHINE\\Z]\r\n",
       {"D"},
       false},
      {"DeleteMatchesAnyCase",
       "[HKEY_LOCAL_MACHINE\\A\\B]\r\n[HKEY_LOCAL_MACHINE\\A\\D]\r\n[-hkey_local_machine\\a\\b]\r\n",
       {"D"},
       false},
      {"ValuesAfterDeleteAreDropped",
       "[HKEY_LOCAL_MACHINE\\A\\B]\r\n[-HKEY_LOCAL_MACHINE\\A\\B]\r\n\"v\"=\"x\"\r\n\"w\"=hex:01\r\n",
       {},
       false},
      {"RecreateAfterDelete",
       "[HKEY_LOCAL_MACHINE\\A\\B\\C]\r\n[-HKEY_LOCAL_MACHINE\\A\\B]\r\n[HKEY_LOCAL_MACHINE\\A\\B]\r\n\"v\"="
       "\"x\"\r\n",
       {"B"},
       true},
      // A root cannot be deleted: regedit ends its import there.
      {"DeleteOfRootEndsTheImport",
       "[HKEY_LOCAL_MACHINE\\A\\B]\r\n\"v\"=\"x\"\r\n[-HKEY_LOCAL_MACHINE]\r\n[HKEY_LOCAL_MACHINE\\A\\C]\r\n",
       {"B"},
       true},
      {"DeleteOfRootAndBackslashEndsTheImport",
       "[HKEY_LOCAL_MACHINE\\A\\B]\r\n[-hkey_local_machine\\]\r\n[HKEY_LOCAL_MACHINE\\A\\C]\r\n\"v\"="
       "\"x\"\r\n",
       {"B"},
       false},
      {"DeleteOfRootAndTwoBackslashesDeletesNothing",
       "[HKEY_LOCAL_MACHINE\\A\\B]\r\n\"v\"=\"x\"\r\n[-HKEY_LOCAL_MACHINE\\\\]\r\n[HKEY_LOCAL_MACHINE\\A\\C]"
       "\r\n",
       {"B", "C"},
       true},
      {"ValueDelete", "[HKEY_LOCAL_MACHINE\\A\\B]\r\n\"v\"=\"x\"\r\n\"v\"=-\r\n", {"B"}, false},
      {"ValueDeleteOfMissingValue", "[HKEY_LOCAL_MACHINE\\A\\B]\r\n\"q\"=-\r\n\"v\"=\"x\"\r\n", {"B"}, true},
      {"ValueDeleteWithBlanksAndComment",
       "[HKEY_LOCAL_MACHINE\\A\\B]\r\n\"v\"=\"x\"\r\n\"v\" = - ; gone\r\n",
       {"B"},
       false},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    loaded l = load(H5 + r.body);
    ASSERT_EQ(l.rc, 0) << "line " << l.line << ": " << l.msg;
    EXPECT_EQ(subkeys("A"), r.underA);
    EXPECT_EQ(query("A\\B", "v").found, r.ahasv);
    EXPECT_FALSE(query("", "z").found);
  }
}

TEST(Keys, DefaultValueDelete) {
  loaded l = load(H5 + "[HKEY_LOCAL_MACHINE\\A]\r\n@=\"x\"\r\n\"b\"=\"y\"\r\n@=-\r\n");
  ASSERT_EQ(l.rc, 0) << l.msg;
  EXPECT_FALSE(query("A", "").found);
  EXPECT_TRUE(query("A", "b").found);
}

// Each key under HKLM, and its value v, in enumeration order.
void tree(const std::string &path, std::vector<std::string> &out) {
  for (const std::string &k : subkeys(path.c_str())) {
    std::string p = path.empty() ? k : path + "\\" + k;
    got v = query(p.c_str(), "v");
    out.push_back(p + "=" + v.data);
    tree(p, out);
  }
}

TEST(Keys, DeepPathLoads) {
  std::string path = "HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 2000; i++)
    path += "\\k";
  loaded l = load(H5 + "[" + path + "]\r\n\"v\"=dword:1\r\n[" + path + "\\z]\r\n");
  ASSERT_EQ(l.rc, 0) << l.msg;
  DWORD k = MRHKLM;
  for (int i = 0; i < 2000 && k != MRNONE; i++)
    k = mrfind(k, u"K");
  ASSERT_NE(k, MRNONE);
  DWORD type;
  const char *data;
  size_t size;
  EXPECT_EQ(mrgetvalue(k, u"v", &type, &data, &size), 0);
  EXPECT_NE(mrfind(k, u"z"), MRNONE);
}

// CurrentControlSet, linked to the control set that Select\Current names
// when the export has none of its own.

TEST(ControlSet, LinkedFromSelect) {
  struct row {
    const char *name;
    std::string body;
    const char *expect;  // value "n" under CurrentControlSet\Enum, or nullptr for no such key
  } rows[] = {
      {"SelectNamesTwo",
       "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Enum]\r\n\"n\"=\"one\"\r\n[HKEY_LOCAL_"
       "MACHINE\\SYSTEM\\ControlSet002\\Enum]\r\n"
       "\"n\"=\"two\"\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\r\n\"Current\"=dword:00000002\r\n",
       "two\0"},
      {"SelectAsFourHexBytes",
       "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Enum]\r\n\"n\"=\"one\"\r\n[HKEY_LOCAL_"
       "MACHINE\\SYSTEM\\Select]\r\n"
       "\"Current\"=hex(4):01,00,00,00\r\n",
       "one\0"},
      {"OwnCurrentControlSetWins",
       "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Enum]\r\n\"n\"=\"one\"\r\n[HKEY_LOCAL_"
       "MACHINE\\SYSTEM\\CurrentControlSet\\Enum]\r\n"
       "\"n\"=\"live\"\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\r\n\"Current\"=dword:1\r\n",
       "live\0"},
      {"NoSelect", "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Enum]\r\n\"n\"=\"one\"\r\n", nullptr},
      {"SelectNamesMissingSet",
       "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Enum]\r\n\"n\"=\"one\"\r\n[HKEY_LOCAL_"
       "MACHINE\\SYSTEM\\Select]\r\n\"Current\"=dword:"
       "3\r\n",
       nullptr},
      {"CurrentNotFourBytes",
       "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Enum]\r\n\"n\"=\"one\"\r\n[HKEY_LOCAL_"
       "MACHINE\\SYSTEM\\Select]\r\n\"Current\"=hex:"
       "01\r\n",
       nullptr},
      {"SelectWithoutCurrent",
       "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Enum]\r\n\"n\"=\"one\"\r\n[HKEY_LOCAL_"
       "MACHINE\\SYSTEM\\Select]\r\n\"Default\"=dword:"
       "1\r\n",
       nullptr},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    loaded l = load(H5 + r.body);
    ASSERT_EQ(l.rc, 0) << "line " << l.line << ": " << l.msg;
    got g = query("SYSTEM\\CurrentControlSet\\Enum", "n");
    if (!r.expect) {
      EXPECT_FALSE(haskey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet"));
      continue;
    }
    ASSERT_TRUE(g.found);
    EXPECT_EQ(g.data, std::string(r.expect, strlen(r.expect) + 1));
  }
}

// Empty input, and what a failing load hands back. A stream without even
// a header line is no export; a header alone is an empty one.

TEST(Load, EmptyInputs) {
  struct row {
    const char *name;
    std::string text;
    int rc;
  } rows[] = {{"Nothing", "", -1},
              {"MarkOnly", BOM16, -1},
              {"Utf8MarkOnly", BOM8, -1},
              {"HeaderOnly", "REGEDIT4", 0},
              {"Utf16HeaderOnly", part16(""), 0}};
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    loaded l = load(r.text);
    EXPECT_EQ(l.rc, r.rc) << l.msg;
    EXPECT_EQ(mrnkeys(), (DWORD)MRNROOTS);
  }
}

TEST(Load, MessageIsCutToItsBuffer) {
  testreset();
  std::string t = "REGEDIT5\r\n";
  unsigned long line = 0;
  char msg[9];
  memset(msg, 'z', sizeof msg);
  EXPECT_EQ(regloadmem(t.data(), t.size(), &line, msg, sizeof msg), -1);
  EXPECT_EQ(line, 1u);
  EXPECT_STREQ(msg, "expected");
}

// Streaming: a file is read in 64 KiB chunks. The first chunk ends T bytes
// before a run of long lines, so over the rows it splits every position of
// such a line: surrogate pairs, CR from LF, a hex byte's digits.

TEST(Stream, ChunkBoundariesFallAnywhere) {
  std::string emoji;
  for (int i = 0; i < 50; i++)
    emoji += "\xf0\x9f\x98\x80";
  std::string longline = "\"e\"=\"" + emoji + "\"\r\n";  // 208 bytes, or 216 in UTF-16
  std::string hex = "\"h\"=hex:";
  for (int i = 0; i < 60; i++)
    hex += "ab,ab,ab,ab,ab,\\\r\n  ";
  hex += "cd\r\n";
  for (int utf16 = 0; utf16 < 2; utf16++) {
    size_t unit = utf16 ? 2 : 1;
    for (size_t t = 100; t < 340; t += unit) {
      SCOPED_TRACE(std::string(utf16 ? "utf16 " : "8bit ") + std::to_string(t));
      std::string text = "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\S]\r\n";
      size_t room = (65536 - t - (utf16 ? 2 : 0)) / unit - text.size();  // characters before the long lines
      for (; room > 200; room -= 102)
        text += "; " + std::string(98, 'c') + "\r\n";
      text += "; " + std::string(room - 4, 'c') + "\r\n";
      for (int i = 0; i < 3; i++) {
        text += longline;
        text += hex;
      }
      text = utf16 ? BOM16 + u16(text) : text;
      ASSERT_EQ(text.find(utf16 ? u16("\"e\"") : "\"e\""), 65536 - t);
      FILE *f = memfile(text);
      ASSERT_NE(f, nullptr);
      testreset();
      unsigned long line = 0;
      char msg[100] = "";
      int rc = regloadfile(f, &line, msg, sizeof msg);
      fclose(f);
      ASSERT_EQ(rc, 0) << "line " << line << ": " << msg;
      // In 8 bits the bytes pass; from UTF-16, each surrogate is a '?' in 1252.
      EXPECT_EQ(query("S", "e").data, (utf16 ? std::string(100, '?') : emoji) + "\0"s);
      EXPECT_EQ(query("S", "h").data, std::string(300, '\xab') + "\xcd");
    }
  }
}

// A UTF-16 line ends at a CR or LF unit only: units below 16 that end no line
// (a tab, VT, FF), at any place in a line, and units whose bytes look like
// line ends (U+0D0A, U+0A0D), leave each value whole and each line counted.
// Hex bytes go the same way, two digits or not.
TEST(Stream, LineEndsFallAnywhereInAWord) {
  const std::string odd = "\t\x0b\x0c\xe0\xb4\x8a\xe0\xa8\x8d";  // tab, VT, FF, U+0D0A, U+0A0D
  for (const char *eol : {"\r\n", "\n", "\r"}) {
    SCOPED_TRACE(eol[0] == '\r' ? eol[1] ? "crlf" : "cr" : "lf");
    std::string text = "Windows Registry Editor Version 5.00" + std::string(eol) + "[HKEY_LOCAL_MACHINE\\S]";
    for (size_t pad = 0; pad < 9; pad++) {
      text += eol + "\""s + std::to_string(pad) + "\"=\"" + std::string(pad, 'x') + odd + "\"";
      text += eol + "\"h"s + std::to_string(pad) + "\"=hex:" + std::string(pad, ' ') + "1,0a,\\" + eol +
              "ff,0D,7";
    }
    text += eol + "x"s + eol;
    loaded l = load(BOM16 + u16(text));
    ASSERT_EQ(l.rc, 0) << "line " << l.line << ": " << l.msg;
    EXPECT_EQ(l.skips,
              std::vector<std::string>{"30: expected a [key] line, a \"name\"= or @= value, or a comment"});
    for (size_t pad = 0; pad < 9; pad++) {
      SCOPED_TRACE(pad);
      DWORD type;
      const char *data;
      size_t size;
      ASSERT_EQ(mrgetvalue(mrpath("S"), utf8to16(std::to_string(pad)), &type, &data, &size), 0);
      EXPECT_EQ(std::string(data, size), u16(std::string(pad, 'x') + odd) + "\0\0"s);
      EXPECT_EQ(query("S", ("h" + std::to_string(pad)).c_str()).data, "\x01\x0a\xff\x0d\x07"s);
    }
  }
}

TEST(Stream, SkippedLineFromFileMatchesMemory) {
  std::string text = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S]\r\n";
  for (int i = 0; i < 5000; i++)
    text += "\"v" + std::to_string(i) + "\"=hex:01,02,03,\\\r\n  04\r\n";
  text += "\"bad\"=dword:123456789\r\n";
  for (int utf16 = 0; utf16 < 2; utf16++) {
    SCOPED_TRACE(utf16);
    std::string t = utf16 ? BOM16 + u16(text) : text;
    FILE *f = memfile(t);
    ASSERT_NE(f, nullptr);
    testreset();
    unsigned long line = 0;
    char msg[100] = "";
    std::vector<std::string> skips;
    EXPECT_EQ(regloadfile(f, &line, msg, sizeof msg, collect, &skips), 0);
    fclose(f);
    EXPECT_EQ(skips, std::vector<std::string>{"10003: expected 1 to 8 hex digits after 'dword:'"});
    EXPECT_EQ(load(t).skips, skips);
  }
}

TEST(Stream, LongLinesLoad) {
  // A 3 MB hex line and a 1 MB string, without continuations.
  std::string hex = "\"h\"=hex:";
  for (int i = 0; i < 1000000; i++)
    hex += i ? ",7f" : "7f";
  std::string text =
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S]\r\n" + hex + "\r\n\"s\"=\"" + std::string(1 << 20, 's') + "\"\r\n";
  FILE *f = memfile(text);
  ASSERT_NE(f, nullptr);
  testreset();
  unsigned long line = 0;
  char msg[100] = "";
  ASSERT_EQ(regloadfile(f, &line, msg, sizeof msg), 0) << msg;
  fclose(f);
  EXPECT_EQ(query("S", "h").data, std::string(1000000, '\x7f'));
  EXPECT_EQ(query("S", "s").data.size(), (size_t)(1 << 20) + 1);
}

// regprepare: standard input is the export.

struct stdinfile {
  int saved;
  stdinfile(const std::string &text) {
    FILE *f = memfile(text);
    saved = dup(0);
    dup2(fileno(f), 0);
    fclose(f);
    clearerr(stdin);
  }
  ~stdinfile() {
    fflush(stdin);  // drops what stdio read ahead of a failed load
    dup2(saved, 0);
    close(saved);
    clearerr(stdin);
  }
};

TEST(Prepare, LoadsStandardInput) {
  struct row {
    const char *name;
    std::string text;
    int status;
    const char *err;
    bool loaded;
  } rows[] = {
      {"GoodExport", part16("[HKEY_LOCAL_MACHINE\\S]\r\n\"v\"=\"x\""), 0, "", true},
      {"Empty", "", 2, "comserial: line 1: expected 'Windows Registry Editor Version 5.00' or 'REGEDIT4'\n",
       false},
      {"LineSkipped", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"w\"=hex:1,2 3\r\n\"v\"=\"x\"\r\n", 0,
       "comserial: line 3: expected hex bytes (00 to ff) separated by commas; skipped\n", true},
      {"OddLastByte", BOM16 + u16("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"v\"=\"x\"\r\n") + "\x41", 0,
       "comserial: line 4: expected two bytes to each UTF-16 character (the odd last byte is not read); "
       "skipped\n",
       true},
      {"ReadAgainInItsCodePage",
       "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"w\"=hex:1,2 3\r\n\"v\"=\"x\"\r\n"
       "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage]\r\n\"ACP\"=\"1251\"\r\n",
       0, "comserial: line 3: expected hex bytes (00 to ff) separated by commas; skipped\n", true},
      {"NotAnExport", "REGEDIT4 \r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"v\"=\"x\"\r\n", 2,
       "comserial: line 1: expected 'Windows Registry Editor Version 5.00' or 'REGEDIT4'\n", false},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    testreset();
    mrsz("OLD", "v", "stale");
    int status;
    std::string err;
    {
      stdinfile in(r.text);
      testing::internal::CaptureStderr();
      status = regprepare();
      err = testing::internal::GetCapturedStderr();
    }
    EXPECT_EQ(status, r.status);
    EXPECT_EQ(err, r.err);
    EXPECT_FALSE(haskey(HKEY_LOCAL_MACHINE, "OLD"));
    EXPECT_EQ(query("S", "v").found, r.loaded);
  }
}

// A terminal is no export: say how to feed one, and run nothing.
TEST(Prepare, RefusesATerminal) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  int saved = dup(0);
  dup2(slave, 0);
  testing::internal::CaptureStderr();
  int status = regprepare();
  std::string err = testing::internal::GetCapturedStderr();
  dup2(saved, 0);
  close(saved);
  close(slave);
  close(master);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(
      err,
      "comserial: no registry export read from a terminal; feed one on standard input, e.g. comserial < "
      "export.reg\n");
}

}  // namespace
