// The code-page and upper-case tables must give Wine's MultiByteToWideChar,
// WideCharToMultiByte and RtlUpcaseUnicodeChar; every expected value here is
// what tests/tools/cpdump.exe wrote under Wine.
#include "codepage.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace std::string_literals;

namespace {

// The bytes are followed by a trail byte, which must not be read.
std::u16string towide(unsigned cp, const std::string &s) {
  std::string in = s + "\x40";
  char16_t out[16];
  size_t n = cptowide(cpfind(cp), (const unsigned char *)in.data(), s.size(), out);
  return std::u16string(out, n);
}

std::string fromwide(unsigned cp, const std::u16string &s) {
  char out[32];
  size_t n = cpfromwide(cpfind(cp), s.data(), s.size(), out);
  return std::string(out, n);
}

struct convcase {
  const char *name;
  unsigned cp;
  std::string bytes;
  std::u16string units;
};

std::string convname(const testing::TestParamInfo<convcase> &i) {
  return i.param.name;
}

class ToWide : public testing::TestWithParam<convcase> {};

TEST_P(ToWide, AsWineReadsBytes) {
  const convcase &c = GetParam();
  ASSERT_NE(cpfind(c.cp), nullptr);
  EXPECT_EQ(towide(c.cp, c.bytes), c.units);
}

INSTANTIATE_TEST_SUITE_P(Codepage, ToWide,
                         testing::Values(convcase{"EuroIn1252", 1252, "\x80", u"\u20ac"},
                                         convcase{"Unassigned1252", 1252, "\x81", u"\x81"},
                                         convcase{"ZeroByte", 1252, "a\0b"s, u"a\0b"s},
                                         convcase{"CyrillicIn1251", 1251, "\xc0", u"\u0410"},
                                         convcase{"BackslashIn932", 932, "\\~", u"\\~"},
                                         convcase{"PairIn932", 932, "\x88\x9f", u"\u4e9c"},
                                         convcase{"HalfWidthKanaIn932", 932, "\xb1", u"\uff71"},
                                         convcase{"PrivateUseByteIn932", 932, "\xa0", u"\uf8f0"},
                                         convcase{"BadTrailByteTakenIn932", 932, "\x81\x20x", u"\u30fbx"},
                                         convcase{"LeadBeforeZeroIn932", 932, "\x81\0x"s, u"\u30fb\0x"s},
                                         convcase{"LeadAtEndIn932", 932, "x\x81", u"x\u30fb"},
                                         convcase{"LeadAtEndIn936", 936, "\x81", u"?"},
                                         convcase{"EuroIn936", 936, "\x80", u"\u20ac"},
                                         convcase{"LeadBeforeZeroIn950", 950, "\x81\0"s, u"?\0"s},
                                         convcase{"HangulIn949", 949, "\xb0\xa1", u"\uac00"},
                                         convcase{"HanIn950", 950, "\xa4\x40", u"\u4e00"}),
                         convname);

class FromWide : public testing::TestWithParam<convcase> {};

TEST_P(FromWide, AsWineWritesUnits) {
  const convcase &c = GetParam();
  ASSERT_NE(cpfind(c.cp), nullptr);
  EXPECT_EQ(fromwide(c.cp, c.units), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Codepage, FromWide,
    testing::Values(
        convcase{"EuroIn1252", 1252, "\x80", u"\u20ac"}, convcase{"ZeroUnit", 1252, "a\0"s, u"a\0"s},
        convcase{"BestFitStrokedL", 1252, "L", u"\u0141"},
        convcase{"StrokedLIn1250", 1250, "\xa3", u"\u0141"},
        convcase{"BestFitMinusSign", 1252, "-", u"\u2212"},
        convcase{"BestFitFullWidth", 1252, "A", u"\uff21"},
        convcase{"NoCharacterIn1252", 1252, "?", u"\u4e00"},
        convcase{"SurrogatePairIn1252", 1252, "??", u"\xd83d\xde00"},
        convcase{"LoneSurrogateIn932", 932, "?", u"\xdc00"}, convcase{"SigmaIn1253", 1253, "\xd3", u"\u03a3"},
        convcase{"PairIn932", 932, "\x88\x9f", u"\u4e9c"},
        convcase{"DefaultCharIn932", 932, "\x81\x45", u"\u30fb"},
        convcase{"BestFitYenIn932", 932, "\\", u"\u00a5"},
        convcase{"BestFitAccentIn932", 932, "e", u"\u00e9"},
        convcase{"AccentIn936", 936, "\xa8\xa6", u"\u00e9"},
        convcase{"HangulIn949", 949, "\xb0\xa1", u"\uac00"}, convcase{"HanIn950", 950, "\xa4\x40", u"\u4e00"},
        convcase{"AccentInUtf8", 65001, "\xc3\xa9", u"\u00e9"},
        convcase{"GeorgianInUtf8", 65001, "\xe1\x83\x9f", u"\u10df"},
        convcase{"SurrogatePairInUtf8", 65001, "\xf0\x9f\x98\x80", u"\xd83d\xde00"},
        convcase{"LoneHighSurrogateInUtf8", 65001,
                 "a\xef\xbf\xbd"
                 "b",
                 u"a\xd800"
                 u"b"},
        convcase{"LoneLowSurrogateInUtf8", 65001, "\xef\xbf\xbd", u"\xdc00"},
        convcase{"PairReversedInUtf8", 65001, "\xef\xbf\xbd\xef\xbf\xbd", u"\xdc00\xd800"}),
    convname);

TEST(Codepage, FindsOnlyTheKnownPages) {
  std::set<const cpage *> pages;
  for (unsigned cp : {874u, 932u, 936u, 949u, 950u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u,
                      1258u, 65001u}) {
    ASSERT_NE(cpfind(cp), nullptr) << cp;
    pages.insert(cpfind(cp));
  }
  EXPECT_EQ(pages.size(), 15u);  // each its own
  for (unsigned cp : {0u, 437u, 1200u, 1249u, 1259u, 1361u, 20127u, 65000u})
    EXPECT_EQ(cpfind(cp), nullptr) << cp;
}

// Every byte of a single-byte page comes back as it went, as under Wine.
TEST(Codepage, SingleBytePagesRoundTrip) {
  for (unsigned cp : {874u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u})
    for (unsigned b = 0; b < 0x100; b++) {
      std::string s(1, (char)b);
      EXPECT_EQ(fromwide(cp, towide(cp, s)), s) << cp << " " << b;
    }
}

struct upcase {
  const char *name;
  char16_t c, want;
};

class Upper : public testing::TestWithParam<upcase> {};

TEST_P(Upper, AsWindowsFoldsNames) {
  EXPECT_EQ(cpupper(GetParam().c), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(Codepage, Upper,
                         testing::Values(upcase{"AsciiLetter", u'a', u'A'}, upcase{"AsciiBrace", u'{', u'{'},
                                         upcase{"Latin1Letter", u'\u00e4', u'\u00c4'},
                                         upcase{"SharpSUnchanged", u'\u00df', u'\u00df'},
                                         upcase{"YDiaeresisOutOfLatin1", u'\u00ff', u'\u0178'},
                                         upcase{"CyrillicLetter", u'\u0430', u'\u0410'},
                                         upcase{"DotlessIUnchanged", u'\u0131', u'\u0131'},
                                         upcase{"MicroSignUnchanged", u'\u00b5', u'\u00b5'},
                                         upcase{"FinalSigmaUnchanged", u'\u03c2', u'\u03c2'},
                                         upcase{"TitleCaseUnchanged", u'\u01c5', u'\u01c5'},
                                         upcase{"GeorgianToMtavruli", u'\u10d0', u'\u1c90'},
                                         upcase{"CherokeeSmallLetter", u'\uab70', u'\u13a0'},
                                         upcase{"FullWidthLetter", u'\uff41', u'\uff21'},
                                         upcase{"SurrogateUnchanged", u'\xd800', u'\xd800'}),
                         [](const testing::TestParamInfo<upcase> &i) { return std::string(i.param.name); });

}  // namespace
