// The Windows backend's ANSI conversions: the system's code page 1252, with
// '?' for characters it cannot hold (never a look-alike).
#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"

namespace {

struct RoundTripCase {
  const char* name;
  std::u16string text;
  std::u16string expected;
};

class AnsiRoundTripTest : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(AnsiRoundTripTest, KeepsWhatTheCodePageHoldsAndMarksTheRest) {
  EXPECT_EQ(plat::AnsiRoundTrip(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    CodePage1252, AnsiRoundTripTest,
    ::testing::Values(RoundTripCase{"Ascii", u"Software\\Mediamatics", u"Software\\Mediamatics"},
                      RoundTripCase{"Latin1", u"caf\u00e9 \u00fc\u00df\u00ff", u"caf\u00e9 \u00fc\u00df\u00ff"},
                      RoundTripCase{"EuroAndQuotes", u"\u20ac \u201cq\u201d \u2026", u"\u20ac \u201cq\u201d \u2026"},
                      // Best fit would give 'O' and 'L' here.
                      RoundTripCase{"GreekOmega", u"\u03a9", u"?"},
                      RoundTripCase{"PolishL", u"\u0141\u00f3d\u017a", u"?\u00f3d?"},
                      RoundTripCase{"Cjk", u"\u65e5\u672c", u"??"}, RoundTripCase{"Cyrillic", u"\u0414\u0430", u"??"}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) { return std::string(info.param.name); });

TEST(AnsiBytesTest, UsesWindows1252Bytes) {
  EXPECT_EQ(plat::ToAnsi(u"\u00e9\u20ac\u00ff"), std::string("\xe9\x80\xff"));
  EXPECT_EQ(plat::FromAnsi(std::string("\x80\x9c\xe9")), std::u16string(u"\u20ac\u0153\u00e9"));
}

TEST(WideCharToMultiByteTest, CountsWithAndWithoutTheTerminator) {
  const char16_t text[] = u"YV12";
  EXPECT_EQ(plat::WideCharToMultiByte(plat::CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr), 5);
  EXPECT_EQ(plat::WideCharToMultiByte(plat::CP_ACP, 0, text, 4, nullptr, 0, nullptr, nullptr), 4);
  char out[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
  ASSERT_EQ(plat::WideCharToMultiByte(plat::CP_ACP, 0, text, -1, out, sizeof out, nullptr, nullptr), 5);
  EXPECT_STREQ(out, "YV12");
}

TEST(WideCharToMultiByteTest, ReportsTheUseOfTheDefaultCharacter) {
  char out[8] = {};
  plat::BOOL used = 7;
  ASSERT_EQ(plat::WideCharToMultiByte(plat::CP_ACP, 0, u"a\u03a9", 2, out, sizeof out, nullptr, &used), 2);
  EXPECT_EQ(std::string(out, 2), "a?");
  EXPECT_EQ(used, plat::TRUE);
  used = 7;
  ASSERT_EQ(plat::WideCharToMultiByte(plat::CP_ACP, 0, u"ab", 2, out, sizeof out, nullptr, &used), 2);
  EXPECT_EQ(used, plat::FALSE);
}

TEST(WideCharToMultiByteTest, FailsWhenTheBufferIsTooSmall) {
  char out[2] = {};
  EXPECT_EQ(plat::WideCharToMultiByte(plat::CP_ACP, 0, u"NMMC", -1, out, sizeof out, nullptr, nullptr), 0);
}

TEST(MultiByteToWideCharTest, CountsAndConverts) {
  EXPECT_EQ(plat::MultiByteToWideChar(plat::CP_ACP, 0, "Formats", -1, nullptr, 0), 8);
  char16_t out[8] = {};
  ASSERT_EQ(plat::MultiByteToWideChar(plat::CP_ACP, 0, "Formats", -1, out, 8), 8);
  EXPECT_EQ(std::u16string(out), u"Formats");
}

}  // namespace
