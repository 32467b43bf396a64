// The Wine registry file format: names, the key API, round trips of
// wineserver's own text and trees built in code, saved as wineserver saves.
#include "tests/winereg/fast_path_check.h"
#include "tests/winereg/hive_helpers.h"
#include "tests/winereg/lenient_rows.h"
#include "winereg/internal/inspect.h"
#include "winereg/model.h"
#include "winereg/reader.h"
#include "winereg/writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace winereg {
namespace {

using namespace hive_test;  // NOLINT: the shared helpers
using ::testing::TestWithParam;
using ::testing::ValuesIn;

// --- Names -------------------------------------------------------------------

struct NameOrder {
  std::u16string a, b;
  int sign;  // of CompareNames(a, b)
};

class CompareNamesTest : public TestWithParam<NameOrder> {};

TEST_P(CompareNamesTest, OrdersAsWineserver) {
  const NameOrder& p = GetParam();
  const int r = CompareNames(p.a, p.b);
  EXPECT_EQ((r > 0) - (r < 0), p.sign);
  const int back = CompareNames(p.b, p.a);
  EXPECT_EQ((back > 0) - (back < 0), -p.sign);
  EXPECT_EQ(SameName(p.a, p.b), p.sign == 0);
}

INSTANTIATE_TEST_SUITE_P(Table, CompareNamesTest,
                         ValuesIn(std::vector<NameOrder>{
                             {u"abc", u"ABC", 0},
                             {u"a", u"B", -1},
                             {u"ab", u"abc", -1},  // a shorter prefix first
                             {u"", u"a", -1},
                             {u"[", u"a", -1},  // '[' and '_' sort before letters, even upper-case ones
                             {u"_", u"A", -1},
                             {u"Z", u"_", 1},
                             {u"a\u00e9", u"A\u00c9", 0},  // Latin-1 letters fold
                             {u"\u03a3", u"\u03c3", 0},    // Greek sigma
                             {u"\u0416", u"\u0436", 0},    // Cyrillic zhe
                             {u"\u0130", u"i", 1},         // dotted capital I does not fold to ASCII
                             {u"\u212a", u"k", 1},         // nor does the Kelvin sign
                             {u"\u01c5", u"\u01c6", -1},   // title-case digraphs stay as they are
                             {u"\u2126", u"\u03c9", 1},    // the Ohm sign folds to no Greek letter
                             {u"\u2c2f", u"\u2c5f", 0},    // a pair of Unicode 14
                             {u"\u1c89", u"\u1c8a", -1},   // one of Unicode 16, after wineserver's table
                             {u"a", u"\u00e9", -1},
                             {u"\xd83c\xdf0e", u"\xd83c\xdf0f", -1},  // surrogate units compare as units
                         }));

// --- Key API ---------------------------------------------------------------

TEST(KeyTest, SubkeysStaySortedAndKeepTheirFirstSpelling) {
  Key root;
  for (const char* name : {"zeta", "Alpha", "_x", "beta", "[y", "Gamma"}) root.AddSubkey(U(name), 7);
  bool created = true;
  Key& again = root.AddSubkey(u"ALPHA", 9, &created);
  EXPECT_FALSE(created);
  EXPECT_EQ(again.name(), u"Alpha");
  EXPECT_EQ(again.modif(), 7);
  std::vector<std::u16string> names;
  for (const auto& k : root.subkeys()) names.push_back(k->name());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"[y", u"_x", u"Alpha", u"beta", u"Gamma", u"zeta"}));
  EXPECT_EQ(root.FindSubkey(u"GAMMA"), root.subkeys()[4].get());
  EXPECT_EQ(root.FindSubkey(u"gam"), nullptr);
  EXPECT_TRUE(root.RemoveSubkey(u"BETA"));
  EXPECT_FALSE(root.RemoveSubkey(u"beta"));
  EXPECT_EQ(root.subkeys().size(), 5u);
}

TEST(KeyTest, ValuesStaySortedUnnamedFirstAndKeepTheirFirstSpelling) {
  Key key;
  key.SetValue(u"b", 4, {1, 0, 0, 0});
  key.SetValue(u"Aa", 1, Utf16Z(u"x"));
  key.SetValue(u"", 1, Utf16Z(u"default"));
  key.SetValue(u"_", 3, {});
  key.SetValue(u"AA", 3, {9});
  ASSERT_EQ(key.values().size(), 4u);
  EXPECT_EQ(key.values()[0].name, u"");
  EXPECT_EQ(key.values()[1].name, u"_");
  EXPECT_EQ(key.values()[2].name, u"Aa");
  EXPECT_EQ(key.values()[2].type, 3u);
  EXPECT_EQ(key.values()[2].data, std::vector<BYTE>{9});
  EXPECT_EQ(key.values()[3].name, u"b");
  ASSERT_NE(key.FindValue(u"B"), nullptr);
  EXPECT_EQ(key.FindValue(u"B")->type, 4u);
  EXPECT_TRUE(key.RemoveValue(u"aA"));
  EXPECT_FALSE(key.RemoveValue(u"aa"));
  EXPECT_EQ(key.FindValue(u"aa"), nullptr);
}

// --- Round trips of wineserver's own text ------------------------------------

struct TextCase {
  const char* name;
  std::string text;
};

std::string PrintName(const ::testing::TestParamInfo<TextCase>& info) { return info.param.name; }
void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class RoundTripTest : public TestWithParam<TextCase> {};

TEST_P(RoundTripTest, SavesTheBytesItParsed) {
  const std::string& text = GetParam().text;
  Hive hive = MustParse(text);
  EXPECT_EQ(Save(hive), text);
  internal::DropSectionTexts(hive);  // every section written anew
  EXPECT_EQ(Save(hive), text);
}

const std::string kControlNames = std::string(kMachineHead) + R"reg(
[Control] 1690913106
#time=1d9c4a2b3c4d5e6
"ctl"="\a\b\t\n\v\f\r\e\1\0013\37)reg" +
                                  "\x7f" + R"reg(\0z"
"nul"="x\0y\0005"
)reg";

INSTANTIATE_TEST_SUITE_P(Table, RoundTripTest,
                         ValuesIn(std::vector<TextCase>{
                             {"Strings", std::string(kMachineHead) + R"reg(
[Strings] 1690913106
#time=1d9c4a2b3c4d5e6
@="default"
"Empty"=""
"Expand"=str(2):"%SystemRoot%\\system32"
"Multi"=str(7):"one\0two\0"
"Plain"="abc"
)reg"},
                             {"HexForms", std::string(kMachineHead) + R"reg(
[Hex] 1690913106
#time=1d9c4a2b3c4d5e6
"Binary"=hex:00,ff,10
"BinaryEmpty"=hex:
"Dword"=dword:0000002a
"DwordLong"=hex(4):01,02,03,04,05,06,07,08
"DwordShort"=hex(4):01,02,03
"ExpandOdd"=hex(2):41,00,42
"MultiUnterminated"=hex(7):41,00,42,00
"None"=hex(0):
"Qword"=hex(b):01,00,00,00,00,00,00,00
"StringEmptyData"=hex(1):
"StringOdd"=hex(1):61,00,62
"StringOneByte"=hex(1):00
"Type20000"=hex(20000):ab
)reg"},
                             {"Wrapping", std::string(kMachineHead) + R"reg(
[Wrap] 1690913106
#time=1d9c4a2b3c4d5e6
"A"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\
  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,\
  30,31,32,33,34,35,36,37,38,39,3a,3b
"LongValueNameThatShiftsTheWrapColumn0123"=hex:00,01,02,03,04,05,06,07,08,09,\
  0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,19,1a,1b,1c,1d
"q\"uote"=hex(b):00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,\
  14,15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27
)reg"},
                             {"EscapedNames", std::string(kMachineHead) + R"reg(
[Esc\\a\[b\]\\\xe9] 1690913106
#time=1d9c4a2b3c4d5e6
"[x]"="]["
"a\"b\\c"="x"
"\x00e9a"="\x00e9a"
"\xe9g"="\xe9g"
"\xe9\x20ac"="\x20ac\xe9"

[q"k] 1690913106
#time=1d9c4a2b3c4d5e6
"surrogates"="\xd83c\xdf0e"
)reg"},
                             {"ControlCharacters", kControlNames},
                             {"ClassLinkEmpty", std::string(kMachineHead) + R"reg(
[Classy] 1690913106
#time=1d9c4a2b3c4d5e6
#class="my \"class\""

[Classy\\Sub] 1699102524
#time=1da0f1e2d3c4b5a
"v"=dword:00000001

[Empty] 1699102524
#time=1da0f1e2d3c4b5a

[Link] 1699102524
#time=1da0f1e2d3c4b5a
#link
"SymbolicLinkValue"=hex(6):5c,00,52,00
)reg"},
                             {"RootSection", std::string(kMachineHead) + R"reg(
[] 1690913106
#time=1d9c4a2b3c4d5e6
"v"="root"

[Sub] 1699102524
#time=1da0f1e2d3c4b5a
)reg"},
                             {"EmptyRoot", std::string(kMachineHead) + R"reg(
[] 1690913106
#time=1d9c4a2b3c4d5e6
)reg"},
                             {"UserBranch32", R"reg(WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\User\\S-1-5-21-0-0-0-1000

#arch=win32

[Console] 1690913106
#time=1d9c4a2b3c4d5e6
"CursorSize"=dword:00000019
)reg"},
                         }),
                         PrintName);

TEST(RoundTripTest, ParsedContentIsTheData) {
  const Hive hive = MustParse(std::string(kMachineHead) + R"reg(
[Esc\\a\[b\]\\\xe9] 1690913106
#time=1d9c4a2b3c4d5e6
"\x00e9a"="\x00e9a"
@=str(7):"one\0two\0"
"bin"=hex(b):01,02
)reg");
  EXPECT_EQ(hive.branch, u"REGISTRY\\Machine");
  EXPECT_EQ(hive.arch, Arch::kWin64);
  const Key* key = Path(hive.root, {u"Esc", u"a[b]", u"\u00e9"});
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->modif(), kTime1);
  ASSERT_EQ(key->values().size(), 3u);
  EXPECT_EQ(key->values()[0].name, u"");
  EXPECT_EQ(key->values()[0].type, 7u);
  EXPECT_EQ(key->values()[0].data, Utf16Z(std::u16string(u"one\0two\0", 8)));
  ASSERT_NE(key->FindValue(u"\u00c9A"), nullptr);
  EXPECT_EQ(key->FindValue(u"\u00e9a")->data, Utf16Z(u"\u00e9a"));
  EXPECT_EQ(key->FindValue(u"BIN")->type, 11u);
  EXPECT_EQ(key->FindValue(u"bin")->data, (std::vector<BYTE>{1, 2}));
}

TEST(RoundTripTest, ControlCharactersDecode) {
  const Hive hive = MustParse(kControlNames);
  const Key* key = Path(hive.root, {u"Control"});
  ASSERT_NE(key, nullptr);
  const std::u16string ctl(
      u"\a\b\t\n\v\f\r\x1b\x01\x01"
      u"3\x1f\x7f\0z",
      15);
  EXPECT_EQ(key->FindValue(u"ctl")->data, Utf16Z(ctl));
  EXPECT_EQ(key->FindValue(u"nul")->data, Utf16Z(std::u16string(u"x\0y\0"
                                                                u"5",
                                                                5)));
}

class WineFileTest : public TestWithParam<const char*> {};

// Excerpts of files that wineserver wrote on a fresh prefix.
TEST_P(WineFileTest, SavesTheBytesItParsed) {
  const std::string text = ReadData(GetParam());
  ASSERT_GT(text.size(), 1000u);
  Hive hive = MustParse(text);
  // Every section without #class or #link keeps the text read.
  std::size_t kept = 0;
  std::vector<const Key*> pending{&hive.root};
  while (!pending.empty()) {
    const Key* key = pending.back();
    pending.pop_back();
    if (key->has_values() && !key->is_link() && !key->class_name()) {
      EXPECT_TRUE(internal::HasReadSectionText(*key)) << std::string(key->name().begin(), key->name().end());
      ++kept;
    }
    for (const auto& child : key->subkeys()) pending.push_back(child.get());
  }
  EXPECT_GT(kept, 5u);
  EXPECT_EQ(Save(hive), text);
  internal::DropSectionTexts(hive);
  EXPECT_EQ(Save(hive), text);
}

INSTANTIATE_TEST_SUITE_P(Files, WineFileTest,
                         ValuesIn(std::vector<const char*>{"wine64_system.reg", "wine32_user.reg"}));

// --- Saving a tree built in code ---------------------------------------------

TEST(SaveTest, WritesWhatWineserverWrites) {
  Hive hive;
  hive.branch = u"REGISTRY\\Machine";
  hive.arch = Arch::kWin64;
  Key& software = hive.root.AddSubkey(u"Software", kTime1);
  Key& alpha = software.AddSubkey(u"alpha", kTime1);
  alpha.SetValue(u"b", 4, {0x78, 0x56, 0x34, 0x12});
  alpha.SetValue(u"A", 1, Utf16Z(u"x"));
  alpha.SetValue(u"", 1, Utf16Z(u"default"));
  alpha.SetValue(u"_x", 3, {});
  alpha.SetValue(u"[y", 2, Utf16Z(u"%p%"));
  software.AddSubkey(u"Zeta", kTime1);                               // empty: written
  software.AddSubkey(u"_under", kTime1).AddSubkey(u"Leaf", kTime1);  // only a subkey: omitted
  software.AddSubkey(u"[br", kTime1).SetValue(u"v", 3, {1});
  Key& vol = software.AddSubkey(u"Volatile", kTime1);
  vol.set_volatile(true);
  vol.AddSubkey(u"Inner", kTime1).SetValue(u"gone", 1, Utf16Z(u"gone"));
  Key& only_volatile = software.AddSubkey(u"OnlyVolatileChild", kTime1);
  only_volatile.AddSubkey(u"Scratch", kTime1).set_volatile(true);
  Key& classy = software.AddSubkey(u"Classy", kTime1);
  classy.set_class_name(u"cls");
  classy.AddSubkey(u"Child", kTime1);
  Key& link = software.AddSubkey(u"Lnk", kTime1);
  link.set_link(true);
  link.SetValue(u"SymbolicLinkValue", 6, {0x5c, 0, 0x41, 0});

  EXPECT_EQ(Save(hive), std::string(kMachineHead) + R"reg(
[Software\\\[br] 1690913106
#time=1d9c4a2b3c4d5e6
"v"=hex:01

[Software\\_under\\Leaf] 1690913106
#time=1d9c4a2b3c4d5e6

[Software\\alpha] 1690913106
#time=1d9c4a2b3c4d5e6
@="default"
"[y"=str(2):"%p%"
"_x"=hex:
"A"="x"
"b"=dword:12345678

[Software\\Classy] 1690913106
#time=1d9c4a2b3c4d5e6
#class="cls"

[Software\\Classy\\Child] 1690913106
#time=1d9c4a2b3c4d5e6

[Software\\Lnk] 1690913106
#time=1d9c4a2b3c4d5e6
#link
"SymbolicLinkValue"=hex(6):5c,00,41,00

[Software\\Zeta] 1690913106
#time=1d9c4a2b3c4d5e6
)reg");
}

TEST(SaveTest, EmptyHiveIsItsRootSection) {
  Hive hive;
  hive.branch = u"REGISTRY\\User\\.Default";
  hive.arch = Arch::kWin32;
  hive.root.set_modif(kTime1);
  EXPECT_EQ(Save(hive),
            "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\.Default\n\n#arch=win32\n"
            "\n[] 1690913106\n#time=1d9c4a2b3c4d5e6\n");
}

// Without an #arch line wineserver takes the prefix for 32-bit and says so
// when it saves; a file that has the line keeps it.
TEST(SaveTest, AFileWithoutArchIsSavedAsWin32) {
  const std::string body = "\n[A] 1690913106\n#time=1d9c4a2b3c4d5e6\n";
  const std::string head = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\.Default\n";
  for (const std::string& options : {std::string(), std::string("\n#unknown=1\n")}) {
    Hive hive = MustParse(head + options + body);
    EXPECT_EQ(hive.arch, Arch::kUnspecified);
    EXPECT_EQ(Save(hive), head + "\n#arch=win32\n" + body);
    internal::DropSectionTexts(hive);
    EXPECT_EQ(Save(hive), head + "\n#arch=win32\n" + body);
  }
  for (const char* arch : {"win32", "win64"}) {
    const std::string text = head + "\n#arch=" + arch + "\n" + body;
    EXPECT_EQ(Save(MustParse(text)), text);
  }
}

TEST(SaveTest, TimeStampsDeriveFromModif) {
  Hive hive;
  hive.branch = u"REGISTRY\\Machine";
  hive.arch = Arch::kWin64;
  // Whole seconds, a fraction (truncated), before 1970 (wraps as unsigned).
  hive.root.AddSubkey(u"a", kTicks1601To1970 + 1700000000LL * 10000000);
  hive.root.AddSubkey(u"b", kTicks1601To1970 + 1700000000LL * 10000000 + 9999999);
  hive.root.AddSubkey(u"c", kTicks1601To1970 - 10000000);
  EXPECT_EQ(Save(hive),
            "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n"
            "\n[a] 1700000000\n#time=1da1747c66d0000\n"
            "\n[b] 1700000000\n#time=1da1747c705967f\n"
            "\n[c] 4294967295\n#time=19db1ded4a5e980\n");
}

}  // namespace
}  // namespace winereg
