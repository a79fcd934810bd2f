// The export reader: grammar, encodings, line ends, errors with their line
// numbers, concatenated exports, deletes, the CurrentControlSet link, and
// input that straddles the reader's chunks.
#include "regfile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "memreg.h"
#include "registry.h"

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

struct loaded {
  int rc;
  unsigned long line;
  std::string msg;
};

loaded load(const std::string &text) {
  mrclear();
  loaded l = {0, 0, ""};
  char msg[200] = "";
  l.rc = regloadmem(text.data(), text.size(), &l.line, msg, sizeof msg);
  l.msg = msg;
  return l;
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
        valuecase{"HexIsBinary", K + "\"a\"=hex:00,01,fe,FF\r\n", "a", REG_BINARY, "\x00\x01\xfe\xff"s},
        valuecase{"HexSingleDigitBytes", K + "\"a\"=hex:1,a,0f\r\n", "a", REG_BINARY, "\x01\x0a\x0f"s},
        valuecase{"HexEmpty", K + "\"a\"=hex:\r\n", "a", REG_BINARY, ""},
        valuecase{"HexEmptyWithComment", K + "\"a\"=hex: ; nothing\r\n", "a", REG_BINARY, ""},
        valuecase{"HexBlanksBetweenBytes", K + "\"a\"=hex: 01 , 02\r\n", "a", REG_BINARY, "\x01\x02"s},
        valuecase{"HexTrailingComma", K + "\"a\"=hex:01,02,\r\n", "a", REG_BINARY, "\x01\x02"s},
        valuecase{"HexContinuationLines", K + "\"a\"=hex:01,02,\\\r\n  03,04,\\\r\n\t05\r\n", "a", REG_BINARY,
                  "\x01\x02\x03\x04\x05"s},
        valuecase{"HexContinuesRightAfterColon", K + "\"a\"=hex(3):\\\r\n  aa,bb\r\n", "a", REG_BINARY,
                  "\xaa\xbb"s},
        valuecase{"HexContinuationWithComment", K + "\"a\"=hex:01,\\ ; more\r\n  02\r\n", "a", REG_BINARY,
                  "\x01\x02"s},
        valuecase{"HexTypeZeroIsNone", K + "\"a\"=hex(0):\r\n", "a", REG_NONE, ""},
        valuecase{"HexTypeQword", K + "\"a\"=hex(b):01,00,00,00,00,00,00,00\r\n", "a", REG_QWORD,
                  "\x01\0\0\0\0\0\0\0"s},
        valuecase{"HexTypeLargest", K + "\"a\"=hex(ffffffff):5a\r\n", "a", 0xffffffffu, "\x5a"s},
        valuecase{"HexTypeUpperCaseTag", K + "\"a\"=HEX(A):01\r\n", "a", 10, "\x01"s},
        valuecase{"HexTypeLeadingZeros", K + "\"a\"=hex(00000004):01,00,00,00\r\n", "a", REG_DWORD, dw(1)},
        valuecase{"ExpandSzBytesPassThroughIn8BitFile", K + "\"a\"=hex(2):25,41,25,00\r\n", "a",
                  REG_EXPAND_SZ, "%A%\0"s},
        valuecase{"HighBytesPassThroughIn8BitFile", K + "\"a\"=\"\xe9t\xe9\"\r\n", "a", REG_SZ,
                  "\xe9t\xe9\0"s},
        valuecase{"LaterValueReplacesEarlier", K + "\"a\"=\"x\"\r\n\"A\"=dword:1\r\n", "a", REG_DWORD, dw(1)},
        valuecase{"ShortRootName", "[HKLM\\SOFTWARE\\T]\r\n\"a\"=\"x\"\r\n", "a", REG_SZ, "x\0"s},
        valuecase{"RootMatchesAnyCase", "[hkey_Local_Machine\\SOFTWARE\\T]\r\n\"a\"=\"x\"\r\n", "a", REG_SZ,
                  "x\0"s},
        valuecase{"KeyLineWithCommentAndBlanks", "  [HKLM\\SOFTWARE\\T]  ; c ]\r\n\"a\"=\"x\"\r\n", "a",
                  REG_SZ, "x\0"s},
        valuecase{"TrailingBackslashInKeyIsIgnored", "[HKLM\\SOFTWARE\\T\\]\r\n\"a\"=\"x\"\r\n", "a", REG_SZ,
                  "x\0"s},
        valuecase{"CommentsAndBlankLinesAreSkipped",
                  "; one\r\n# two\r\n   ; three\r\n\t\r\n" + K + "; four\r\n\"a\"=\"x\"\r\n", "a", REG_SZ,
                  "x\0"s}),
    [](const testing::TestParamInfo<valuecase> &i) { return std::string(i.param.name); });

// Errors: each row is a whole export, the line the error is on and what the
// message says.

struct errcase {
  const char *name;
  std::string text;
  unsigned long line;
  const char *msg;
};

void PrintTo(const errcase &c, std::ostream *os) {
  *os << c.name;
}

class Errors : public testing::TestWithParam<errcase> {};

TEST_P(Errors, ReportLineAndWhatWasExpected) {
  const errcase &c = GetParam();
  loaded l = load(c.text);
  EXPECT_EQ(l.rc, -1);
  EXPECT_EQ(l.line, c.line);
  EXPECT_EQ(l.msg, c.msg);
}

const std::string E = "REGEDIT4\r\n\r\n[HKLM\\SOFTWARE\\T]\r\n";  // the error is on line 4
const char HDR[] = "expected 'Windows Registry Editor Version 5.00' or 'REGEDIT4'";

INSTANTIATE_TEST_SUITE_P(
    Grammar, Errors,
    testing::Values(
        errcase{"MissingHeader", "[HKLM\\SOFTWARE\\T]\r\n", 1, HDR},
        errcase{"UnknownHeaderVersion", "Windows Registry Editor Version 4.00\r\n", 1, HDR},
        errcase{"HeaderWithTrailingText", "REGEDIT4 x\r\n", 1, HDR},
        errcase{"HeaderIsCaseSensitive", "regedit4\r\n", 1, HDR},
        errcase{"CommentBeforeHeader", "; hi\r\nREGEDIT4\r\n", 1, HDR},
        errcase{"HeaderAfterBlankLinesIsCounted", "\r\n\r\nREGEDIT5\r\n", 3, HDR},
        errcase{"ValueBeforeAnyKey", "REGEDIT4\r\n\"a\"=\"x\"\r\n", 2,
                "expected a [key] line before the first value"},
        errcase{"ValueAfterSecondHeaderBeforeKey", E + "REGEDIT4\r\n@=\"x\"\r\n", 5,
                "expected a [key] line before the first value"},
        errcase{"UnterminatedString", E + "\"a\"=\"abc\r\n\"b\"=\"x\"\r\n", 4,
                "expected '\"' to end the string"},
        errcase{"UnterminatedStringAtEnd", E + "\"a\"=\"abc", 4, "expected '\"' to end the string"},
        errcase{"BackslashAtEndOfString", E + "\"a\"=\"abc\\\r\n", 4, "expected '\"' to end the string"},
        errcase{"NameEndsAtSecondQuote", E + "\"a=\"x\r\n", 4, "expected '=' after the value name"},
        errcase{"UnterminatedNameAtLineEnd", E + "\"abc\r\n", 4, "expected '\"' to end the value name"},
        errcase{"BadEscapeTab", E + "\"a\"=\"x\\ty\"\r\n", 4,
                "expected \\\\, \\\", \\n or \\r after a backslash"},
        errcase{"BadEscapeZero", E + "\"a\"=\"x\\0\"\r\n", 4,
                "expected \\\\, \\\", \\n or \\r after a backslash"},
        errcase{"BadEscapeInName", E + "\"a\\x\"=\"x\"\r\n", 4,
                "expected \\\\, \\\", \\n or \\r after a backslash"},
        errcase{"MissingEquals", E + "\"a\" \"x\"\r\n", 4, "expected '=' after the value name"},
        errcase{"DefaultWithoutEquals", E + "@\"x\"\r\n", 4, "expected '=' after '@'"},
        errcase{"NoData", E + "\"a\"=\r\n", 4, "expected \"string\", dword:, hex: or hex(type): after '='"},
        errcase{"UnknownTypeTag", E + "\"a\"=qword:1\r\n", 4,
                "expected \"string\", dword:, hex: or hex(type): after '='"},
        errcase{"TagWithoutColon", E + "\"a\"=dword 1\r\n", 4,
                "expected \"string\", dword:, hex: or hex(type): after '='"},
        errcase{"BareNumber", E + "\"a\"=1\r\n", 4,
                "expected \"string\", dword:, hex: or hex(type): after '='"},
        errcase{"TextAfterString", E + "\"a\"=\"x\" y\r\n", 4, "expected end of line after the string"},
        errcase{"TextAfterDelete", E + "\"a\"=- x\r\n", 4, "expected end of line after '-'"},
        errcase{"DwordTooLong", E + "\"a\"=dword:123456789\r\n", 4,
                "expected at most 8 hex digits after 'dword:'"},
        errcase{"DwordNotHex", E + "\"a\"=dword:xyz\r\n", 4, "expected 1 to 8 hex digits after 'dword:'"},
        errcase{"DwordEmpty", E + "\"a\"=dword:\r\n", 4, "expected 1 to 8 hex digits after 'dword:'"},
        errcase{"DwordTrailingText", E + "\"a\"=dword:12g4\r\n", 4, "expected end of line after the dword"},
        errcase{"BadHexByte", E + "\"a\"=hex:01,zz\r\n", 4, "expected a hex byte"},
        errcase{"HexByteOverFF", E + "\"a\"=hex:01,100\r\n", 4,
                "expected a hex byte of at most two digits (00 to ff)"},
        errcase{"HexBytesWithoutComma", E + "\"a\"=hex:01 02\r\n", 4,
                "expected ',' or end of line after hex byte"},
        errcase{"HexBackslashWithoutComma", E + "\"a\"=hex:01\\\r\n  02\r\n", 4,
                "expected ',' or end of line after hex byte"},
        errcase{"TwoCommas", E + "\"a\"=hex:01,,02\r\n", 4, "expected a hex byte"},
        errcase{"TextAfterBackslash", E + "\"a\"=hex:01,\\ 02\r\n  03\r\n", 4,
                "expected end of line after '\\'"},
        errcase{"ContinuationNotHex", E + "\"a\"=hex:01,\\\r\n  \"b\"=\"x\"\r\n", 5,
                "expected a hex byte on the continuation line"},
        errcase{"ContinuationBlank", E + "\"a\"=hex:01,\\\r\n\r\n", 5,
                "expected a hex byte on the continuation line"},
        errcase{"ContinuationBadByteOnThirdLine", E + "\"a\"=hex:01,\\\r\n  02,\\\r\n  03,g\r\n", 6,
                "expected a hex byte"},
        errcase{"ContinuationMissingAtEnd", E + "\"a\"=hex:01,\\\r\n", 4,
                "expected a continuation line after '\\'"},
        errcase{"ContinuationMissingNoLineEnd", E + "\"a\"=hex:01,\\", 4,
                "expected a continuation line after '\\'"},
        errcase{"HexTypeOverFFFFFFFF", E + "\"a\"=hex(100000000):00\r\n", 4,
                "expected a type of at most ffffffff in hex(type):"},
        errcase{"HexTypeEmpty", E + "\"a\"=hex():00\r\n", 4, "expected hex(type): with the type in hex"},
        errcase{"HexTypeNotHex", E + "\"a\"=hex(x):00\r\n", 4, "expected hex(type): with the type in hex"},
        errcase{"HexTypeUnclosed", E + "\"a\"=hex(2:00\r\n", 4, "expected hex(type): with the type in hex"},
        errcase{"HexTypeWithoutColon", E + "\"a\"=hex(2)00\r\n", 4, "expected ':' after hex(type)"},
        errcase{"UnknownRoot", "REGEDIT4\r\n[HKEY_LOCAL\\x]\r\n", 2,
                "expected a root key such as HKEY_LOCAL_MACHINE after '['"},
        errcase{"EmptyKey", "REGEDIT4\r\n[]\r\n", 2,
                "expected a root key such as HKEY_LOCAL_MACHINE after '['"},
        errcase{"KeyWithoutBracket", "REGEDIT4\r\n[HKLM\\x\r\n", 2,
                "expected ']' at the end of the key line"},
        errcase{"KeyWithTextAfter", "REGEDIT4\r\n[HKLM\\x] y\r\n", 2,
                "expected ']' at the end of the key line"},
        errcase{"UnknownLine", E + "x=1\r\n", 4,
                "expected a [key] line, a \"name\"= or @= value, or a comment"},
        errcase{"ErrorAfterLongHexCountsItsLines", E + "\"a\"=hex:01,\\\n 02,\\\r 03\r\n\"b\"=dword:\r\n", 7,
                "expected 1 to 8 hex digits after 'dword:'"}),
    [](const testing::TestParamInfo<errcase> &i) { return std::string(i.param.name); });

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
  loaded l = load(encode(c, {"REGEDIT4", "[HKLM\\SOFTWARE\\T]", "\"h\"=hex:01,\\", "  zz"}));
  EXPECT_EQ(l.rc, -1);
  EXPECT_EQ(l.line, 4u);
  EXPECT_EQ(l.msg, "expected a hex byte on the continuation line");
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

std::string x16(const std::string &body) {
  return BOM16 +
         u16("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n" + body);
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
        textcase{"Utf16KeyName", BOM16 + u16("REGEDIT4\r\n[HKLM\\SOFTWARE\\\xc3\x9f]\r\n\"a\"=\"x\"\r\n"),
                 "SOFTWARE\\\xdf", "a", REG_SZ, "x\0"s},
        textcase{"Utf16ExpandSzHex", x16("\"a\"=hex(2):25,00,e9,00,25,00,00,00\r\n"), "SOFTWARE\\T", "a",
                 REG_EXPAND_SZ, "%\xe9%\0"s},
        textcase{"Utf16MultiSzHex", x16("\"a\"=hex(7):61,00,00,00,ac,20,00,00,\\\r\n  00,00\r\n"),
                 "SOFTWARE\\T", "a", REG_MULTI_SZ, "a\0\x80\0\0"s},
        textcase{"Utf16SzHexWithoutZeroGetsNone", x16("\"a\"=hex(1):41,00,42,00\r\n"), "SOFTWARE\\T", "a",
                 REG_SZ, "AB"},
        textcase{"Utf16SurrogatePairInHex", x16("\"a\"=hex(1):3d,d8,00,de,00,00\r\n"), "SOFTWARE\\T", "a",
                 REG_SZ, "??\0"s},
        textcase{"Utf16UnpairedSurrogateInHex", x16("\"a\"=hex(1):3d,d8,41,00\r\n"), "SOFTWARE\\T", "a",
                 REG_SZ, "?A"},
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
                 "SOFTWARE\\T", "a", REG_MULTI_SZ, "\xe9\0\0"s},
        textcase{"Utf16NulInStringIsKept", x16("\"a\"=\"x") + "\0\0"s + u16("y\"\r\n"), "SOFTWARE\\T", "a",
                 REG_SZ, "x\0y\0"s}),
    [](const testing::TestParamInfo<textcase> &i) { return std::string(i.param.name); });

// An 8-bit export is in the machine's code page already: its bytes pass as
// they are, and its names match as that code page's characters (lower-case
// Cyrillic here opens the upper-case key).
TEST(EightBit, NamesMatchInTheirCodePage) {
  loaded l = load(
      "REGEDIT4\r\n[HKLM\\SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage]\r\n\"ACP\"=\"1251\"\r\n"
      "[HKLM\\S\\\xcf\xd0]\r\n\"\xc8\"=\"\xc6\"\r\n");
  ASSERT_EQ(l.rc, 0) << "line " << l.line << ": " << l.msg;
  mrready();
  got g = query("S\\\xef\xf0", "\xe8");
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.data, "\xc6\0"s);
}

// Bad UTF-16, and where it is reported.

INSTANTIATE_TEST_SUITE_P(
    Encodings, Errors,
    testing::Values(
        errcase{"Utf16UnpairedHighSurrogate", x16("\"a\"=\"") + "\x3d\xd8"s + u16("x\"\r\n"), 4,
                "expected valid UTF-16 text, found an unpaired high surrogate"},
        errcase{"Utf16UnpairedLowSurrogate", x16("; ok\r\n\"a\"=\"") + "\x00\xde"s + u16("\"\r\n"), 5,
                "expected valid UTF-16 text, found an unpaired low surrogate"},
        errcase{"Utf16HighSurrogateAtEnd", x16("; ") + "\x3d\xd8"s, 4,
                "expected valid UTF-16 text, found an unpaired high surrogate"},
        errcase{"Utf16SurrogateInComment", x16("; ") + "\x00\xdc"s + u16("\r\n"), 4,
                "expected valid UTF-16 text, found an unpaired low surrogate"},
        errcase{"Utf16OddByteAtEnd", x16("\"a\"=\"x\"\r\n") + "\x41"s, 5,
                "expected UTF-16 text to end on a whole character, found an odd byte"},
        errcase{"Utf16OddHexBytesReportedOnValueLine", x16("\"a\"=hex(2):41,00,\\\r\n  42\r\n"), 4,
                "expected an even number of bytes of UTF-16 text in hex(2):"},
        errcase{"Utf16OddMultiSzBytes", x16("\"a\"=hex(7):00\r\n"), 4,
                "expected an even number of bytes of UTF-16 text in hex(7):"},
        errcase{"Utf8OddHexTextBytes",
                BOM8 + "Windows Registry Editor Version 5.00\r\n" + K + "\"a\"=hex(1):41\r\n", 3,
                "expected an even number of bytes of UTF-16 text in hex(1):"},
        errcase{"Utf16WithoutMarkIsNot8BitHeader", u16("Windows Registry Editor Version 5.00\r\n"), 1, HDR},
        errcase{"BigEndianMarkIsNotKnown", "\xfe\xff"s + "\0W"s, 1, HDR}),
    [](const testing::TestParamInfo<errcase> &i) { return std::string(i.param.name); });

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

std::string part16(const std::string &body) {
  return BOM16 + u16("Windows Registry Editor Version 5.00\r\n\r\n" + body + "\r\n");
}
std::string part8(const std::string &body) {
  return "REGEDIT4\r\n\r\n" + body + "\r\n";
}
std::string partutf8(const std::string &body) {
  return BOM8 + "Windows Registry Editor Version 5.00\r\n\r\n" + body + "\r\n";
}

const std::string A = "[HKLM\\SOFTWARE\\T]\r\n\"a\"=\"first\"\r\n\"b\"=hex(2):41,00,00,00\r\n\"c\"=dword:1";
const std::string B = "[HKLM\\SOFTWARE\\T]\r\n\"a\"=\"second\"\r\n\"d\"=hex(2):42,00,00,00";

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
  loaded l = load(part16(A) + part8("[HKLM\\x]\r\n\"a\"=dword:"));
  EXPECT_EQ(l.rc, -1);
  EXPECT_EQ(l.line, 10u);
  EXPECT_EQ(l.msg, "expected 1 to 8 hex digits after 'dword:'");
}

TEST(Concatenation, SeparateLoadsMerge) {
  mrclear();
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
                  "[HKCU\\A\\Y]\r\n"
                  "[HKU\\A]\r\n[HKEY_USERS\\B]\r\n[HKCR\\A]\r\n[HKEY_CLASSES_ROOT\\B]\r\n[HKCC\\A]\r\n"
                  "[HKEY_CURRENT_CONFIG\\B]\r\n"
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

TEST(Keys, NameRunsToTheBracketThatEndsTheLine) {
  loaded l = load(H5 + "[HKLM\\A\\x]y]\r\n[HKLM\\A\\p] ; q]\r\n");
  ASSERT_EQ(l.rc, 0) << l.msg;
  EXPECT_EQ(subkeys("A"), (std::vector<std::string>{"p", "x]y"}));
}

TEST(Keys, KeepTheirFirstSpellingAndMatchAnyCase) {
  loaded l = load(H5 + "[HKLM\\Soft\\Ware]\r\n\"a\"=\"1\"\r\n[HKLM\\SOFT\\WARE]\r\n\"b\"=\"2\"\r\n");
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
      {"DeleteRemovesSubtree", "[HKLM\\A\\B\\C]\r\n[HKLM\\A\\D]\r\n[-HKLM\\A\\B]\r\n", {"D"}, false},
      {"DeleteMissingIsNoError", "[HKLM\\A\\D]\r\n[-HKLM\\A\\Nope\\Deeper]\r\n[-HKLM\\Z]\r\n", {"D"}, false},
      {"DeleteMatchesAnyCase", "[HKLM\\A\\B]\r\n[HKLM\\A\\D]\r\n[-hklm\\a\\b]\r\n", {"D"}, false},
      {"ValuesAfterDeleteAreDropped",
       "[HKLM\\A\\B]\r\n[-HKLM\\A\\B]\r\n\"v\"=\"x\"\r\n\"w\"=hex:01\r\n",
       {},
       false},
      {"RecreateAfterDelete",
       "[HKLM\\A\\B\\C]\r\n[-HKLM\\A\\B]\r\n[HKLM\\A\\B]\r\n\"v\"=\"x\"\r\n",
       {"B"},
       true},
      {"DeleteOfRootKeepsIt",
       "[HKLM\\A\\B]\r\n\"v\"=\"x\"\r\n[-HKEY_LOCAL_MACHINE]\r\n\"z\"=\"dropped\"\r\n",
       {"B"},
       true},
      {"ValueDelete", "[HKLM\\A\\B]\r\n\"v\"=\"x\"\r\n\"v\"=-\r\n", {"B"}, false},
      {"ValueDeleteOfMissingValue", "[HKLM\\A\\B]\r\n\"q\"=-\r\n\"v\"=\"x\"\r\n", {"B"}, true},
      {"ValueDeleteWithBlanksAndComment",
       "[HKLM\\A\\B]\r\n\"v\"=\"x\"\r\n\"v\" = - ; gone\r\n",
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
  loaded l = load(H5 + "[HKLM\\A]\r\n@=\"x\"\r\n\"b\"=\"y\"\r\n@=-\r\n");
  ASSERT_EQ(l.rc, 0) << l.msg;
  EXPECT_FALSE(query("A", "").found);
  EXPECT_TRUE(query("A", "b").found);
}

TEST(Keys, DeepPathLoads) {
  std::string path = "HKLM";
  for (int i = 0; i < 2000; i++)
    path += "\\k";
  loaded l = load(H5 + "[" + path + "]\r\n\"v\"=dword:1\r\n[" + path + "\\z]\r\n");
  ASSERT_EQ(l.rc, 0) << l.msg;
  DWORD k = mrroot(MRHKLM);
  for (int i = 0; i < 2000 && k != MRNONE; i++)
    k = mrfind(k, "K", 1);
  ASSERT_NE(k, MRNONE);
  DWORD type;
  const char *data;
  size_t size;
  EXPECT_EQ(mrgetvalue(k, "v", 1, &type, &data, &size), 0);
  EXPECT_NE(mrfind(k, "z", 1), MRNONE);
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
       "[HKLM\\SYSTEM\\ControlSet001\\Enum]\r\n\"n\"=\"one\"\r\n[HKLM\\SYSTEM\\ControlSet002\\Enum]\r\n"
       "\"n\"=\"two\"\r\n[HKLM\\SYSTEM\\Select]\r\n\"Current\"=dword:00000002\r\n",
       "two\0"},
      {"SelectAsFourHexBytes",
       "[HKLM\\SYSTEM\\ControlSet001\\Enum]\r\n\"n\"=\"one\"\r\n[HKLM\\SYSTEM\\Select]\r\n"
       "\"Current\"=hex(4):01,00,00,00\r\n",
       "one\0"},
      {"OwnCurrentControlSetWins",
       "[HKLM\\SYSTEM\\ControlSet001\\Enum]\r\n\"n\"=\"one\"\r\n[HKLM\\SYSTEM\\CurrentControlSet\\Enum]\r\n"
       "\"n\"=\"live\"\r\n[HKLM\\SYSTEM\\Select]\r\n\"Current\"=dword:1\r\n",
       "live\0"},
      {"NoSelect", "[HKLM\\SYSTEM\\ControlSet001\\Enum]\r\n\"n\"=\"one\"\r\n", nullptr},
      {"SelectNamesMissingSet",
       "[HKLM\\SYSTEM\\ControlSet001\\Enum]\r\n\"n\"=\"one\"\r\n[HKLM\\SYSTEM\\Select]\r\n\"Current\"=dword:"
       "3\r\n",
       nullptr},
      {"CurrentNotFourBytes",
       "[HKLM\\SYSTEM\\ControlSet001\\Enum]\r\n\"n\"=\"one\"\r\n[HKLM\\SYSTEM\\Select]\r\n\"Current\"=hex:"
       "01\r\n",
       nullptr},
      {"SelectWithoutCurrent",
       "[HKLM\\SYSTEM\\ControlSet001\\Enum]\r\n\"n\"=\"one\"\r\n[HKLM\\SYSTEM\\Select]\r\n\"Default\"=dword:"
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

TEST(ControlSet, NotLinkedWhenTheLoadFails) {
  loaded l =
      load(H5 + "[HKLM\\SYSTEM\\ControlSet001]\r\n[HKLM\\SYSTEM\\Select]\r\n\"Current\"=dword:1\r\nbad\r\n");
  EXPECT_EQ(l.rc, -1);
  EXPECT_FALSE(haskey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet"));
}

// Empty input, and what a failing load hands back.

TEST(Load, EmptyInputs) {
  struct row {
    const char *name;
    std::string text;
  } rows[] = {{"Nothing", ""},
              {"MarkOnly", BOM16},
              {"Utf8MarkOnly", BOM8},
              {"BlankLines", "\r\n  \n\t\r"},
              {"HeaderOnly", "REGEDIT4"},
              {"Utf16HeaderOnly", part16("")}};
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    loaded l = load(r.text);
    EXPECT_EQ(l.rc, 0) << l.msg;
    EXPECT_EQ(mrnkeys(), (DWORD)MRNROOTS);
  }
}

TEST(Load, MessageIsCutToItsBuffer) {
  mrclear();
  std::string t = "REGEDIT4\r\nx\r\n";
  unsigned long line = 0;
  char msg[9];
  memset(msg, 'z', sizeof msg);
  EXPECT_EQ(regloadmem(t.data(), t.size(), &line, msg, sizeof msg), -1);
  EXPECT_EQ(line, 2u);
  EXPECT_STREQ(msg, "expected");
}

// Streaming: a file is read in 64 KiB chunks. The first chunk ends T bytes
// before a run of long lines, so over the rows it splits every position of
// such a line: surrogate pairs, CR from LF, a hex byte's digits.

FILE *memfile(const std::string &s) {
  FILE *f = tmpfile();
  if (f) {
    fwrite(s.data(), 1, s.size(), f);
    rewind(f);
  }
  return f;
}

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
      std::string text = "Windows Registry Editor Version 5.00\r\n[HKLM\\S]\r\n";
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
      mrclear();
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

TEST(Stream, ErrorLineFromFileMatchesMemory) {
  std::string text = "REGEDIT4\r\n[HKLM\\S]\r\n";
  for (int i = 0; i < 5000; i++)
    text += "\"v" + std::to_string(i) + "\"=hex:01,02,03,\\\r\n  04\r\n";
  text += "\"bad\"=dword:123456789\r\n";
  for (int utf16 = 0; utf16 < 2; utf16++) {
    SCOPED_TRACE(utf16);
    std::string t = utf16 ? BOM16 + u16(text) : text;
    FILE *f = memfile(t);
    ASSERT_NE(f, nullptr);
    mrclear();
    unsigned long line = 0;
    char msg[100] = "";
    EXPECT_EQ(regloadfile(f, &line, msg, sizeof msg), -1);
    fclose(f);
    EXPECT_EQ(line, 10003u);
    EXPECT_STREQ(msg, "expected at most 8 hex digits after 'dword:'");
    loaded l = load(t);
    EXPECT_EQ(l.line, 10003u);
  }
}

TEST(Stream, LongLinesLoad) {
  // A 3 MB hex line and a 1 MB string, without continuations.
  std::string hex = "\"h\"=hex:";
  for (int i = 0; i < 1000000; i++)
    hex += i ? ",7f" : "7f";
  std::string text =
      "REGEDIT4\r\n[HKLM\\S]\r\n" + hex + "\r\n\"s\"=\"" + std::string(1 << 20, 's') + "\"\r\n";
  FILE *f = memfile(text);
  ASSERT_NE(f, nullptr);
  mrclear();
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
      {"GoodExport", part16("[HKLM\\S]\r\n\"v\"=\"x\""), 0, "", true},
      {"Empty", "", 0, "", false},
      {"BadExport", "REGEDIT4\r\n[HKLM\\S]\r\n\"v\"=hex:1,2 3\r\n", 2,
       "comserial: line 3: expected ',' or end of line after hex byte\n", false},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    mrclear();
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

}  // namespace
