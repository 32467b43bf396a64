// The Wine registry file store: parse and save as wineserver does.
#include "tests/winereg/fast_path_check.h"
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

using ::testing::TestWithParam;
using ::testing::ValuesIn;

constexpr char kMachineHead[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\Machine\n"
    "\n"
    "#arch=win64\n";

constexpr std::int64_t kTime1 = 0x1d9c4a2b3c4d5e6;  // written "1690913106", "#time=1d9c4a2b3c4d5e6"
constexpr std::int64_t kTicks1601To1970 = 116444736000000000;

std::u16string U(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::vector<BYTE> Utf16Z(std::u16string_view s) {
  std::vector<BYTE> out;
  for (char16_t c : s) {
    out.push_back(static_cast<BYTE>(c & 0xFF));
    out.push_back(static_cast<BYTE>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

Hive MustParse(std::string_view text) {
  ParseError error;
  std::optional<Hive> hive = Parse(ParseInput::FromString(std::string(text)), &error);
  EXPECT_TRUE(hive.has_value()) << "line " << error.line << ": " << error.message;
  return hive ? std::move(*hive) : Hive{};
}

const Key* Path(const Key& root, std::initializer_list<std::u16string_view> names) {
  const Key* key = &root;
  for (std::u16string_view name : names) {
    key = key->FindSubkey(name);
    if (!key) return nullptr;
  }
  return key;
}

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

std::string ReadData(const std::string& name) {
  std::ifstream in(std::string(HIVE_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
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

// --- Tolerated input, normalised on save -------------------------------------

using testing::LenientRow;

std::string PrintLenient(const ::testing::TestParamInfo<LenientRow>& info) { return info.param.name; }

class NormaliseTest : public TestWithParam<LenientRow> {};

// Parsed as the store parses a prefix's system.reg, at a fixed time of load.
TEST_P(NormaliseTest, ParsesAndSavesAsWineserver) {
  const LenientRow& c = GetParam();
  const std::string file = testing::RowFile(c);
  const std::string expected = std::string(kMachineHead) + c.saved;
  ParseError error;
  std::optional<Hive> hive =
      Parse(ParseInput::FromString(file), &error, ParseOptions{true, testing::kLoadTime, testing::kBranch});
  ASSERT_TRUE(hive.has_value()) << "line " << error.line << ": " << error.message;
  EXPECT_EQ(Save(*hive), expected);
  internal::DropSectionTexts(*hive);  // no text kept from the file that Save would not write
  EXPECT_EQ(Save(*hive), expected);
  std::optional<Hive> plain =
      Parse(ParseInput::FromString(file), &error, ParseOptions{false, testing::kLoadTime, testing::kBranch});
  ASSERT_TRUE(plain.has_value());
  EXPECT_EQ(Save(*plain), expected);
  EXPECT_EQ(testing::FastPathDisagreement(file), "");
  // What is saved is wineserver's form: it reads back to the same bytes.
  Hive back = MustParse(expected);
  EXPECT_EQ(Save(back), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, NormaliseTest, ValuesIn(testing::LenientRows()), PrintLenient);

TEST(ParseTest, BranchAndArchFromTheHeader) {
  const Hive hive = MustParse(
      "WINE REGISTRY Version 2\r\n;; All keys relative to REGISTRY\\\\User\\\\.Default\r\n\r\n#arch=win32\r\n");
  EXPECT_EQ(hive.branch, u"REGISTRY\\User\\.Default");
  EXPECT_EQ(hive.arch, Arch::kWin32);
  const Hive bare = MustParse("WINE REGISTRY Version 2\n[A] 1\n#arch=win64\n");
  EXPECT_EQ(bare.branch, u"");
  EXPECT_EQ(bare.arch, Arch::kUnspecified);
  EXPECT_NE(Path(bare.root, {u"a"}), nullptr);
}

TEST(ParseTest, TimesFollowWineserver) {
  const std::int64_t before = CurrentFileTime();
  const Hive hive = MustParse(std::string(kMachineHead) +
                              "[A\\\\B] 1690913106\n#time=1d9c4a2b3c4d5e6\n"
                              "[A] 1699102524\n#time=1da0f1e2d3c4b5a\n"  // A already has B's time
                              "[C] 1700000000\n"
                              "[D]\n"
                              "[E] 1700000000\n#time=0\n");
  const std::int64_t after = CurrentFileTime();
  EXPECT_EQ(Path(hive.root, {u"A", u"B"})->modif(), kTime1);
  EXPECT_EQ(Path(hive.root, {u"A"})->modif(), kTime1);
  EXPECT_EQ(Path(hive.root, {u"C"})->modif(), kTicks1601To1970 + 1700000000LL * 10000000);
  EXPECT_EQ(Path(hive.root, {u"E"})->modif(), kTicks1601To1970 + 1700000000LL * 10000000);
  const std::int64_t d = Path(hive.root, {u"D"})->modif();
  EXPECT_GE(d, before);
  EXPECT_LE(d, after);
  // The root has no section: the time of the load.
  EXPECT_GE(hive.root.modif(), before);
  EXPECT_LE(hive.root.modif(), after);
}

TEST(ParseTest, ClassLinkAndDuplicateClass) {
  const Hive hive =
      MustParse(std::string(kMachineHead) + "[K]\n#class=\"one\"\n#link\n#class=\"t\\\"wo\"\n[L]\n#class=\"\"\n");
  const Key* k = Path(hive.root, {u"K"});
  ASSERT_NE(k, nullptr);
  EXPECT_TRUE(k->is_link());
  EXPECT_EQ(k->class_name(), std::optional<std::u16string>(u"t\"wo"));
  const Key* l = Path(hive.root, {u"L"});
  EXPECT_FALSE(l->is_link());
  EXPECT_EQ(l->class_name(), std::optional<std::u16string>(u""));
}

// --- Refused input -------------------------------------------------------------

struct CorruptCase {
  const char* name;
  std::string text;
  int line;
  std::string message;
};

std::string PrintCorrupt(const ::testing::TestParamInfo<CorruptCase>& info) { return info.param.name; }
void PrintTo(const CorruptCase& c, std::ostream* os) { *os << c.name; }

class CorruptTest : public TestWithParam<CorruptCase> {};

TEST_P(CorruptTest, RefusedWithLineAndWording) {
  const CorruptCase& c = GetParam();
  ParseError error;
  EXPECT_FALSE(Parse(ParseInput::FromString(c.text), &error).has_value());
  EXPECT_EQ(error.line, c.line);
  EXPECT_EQ(error.message, c.message);
}

const std::string kHead(kMachineHead);     // 4 lines: the body starts on line 5
const std::string kKey = kHead + "[K]\n";  // the body starts on line 6

INSTANTIATE_TEST_SUITE_P(
    Table, CorruptTest,
    ValuesIn(std::vector<CorruptCase>{
        {"EmptyFile", "", 1, "expected 'WINE REGISTRY Version 2', found end of file"},
        {"WrongVersion", "WINE REGISTRY Version 1\n", 1,
         "expected 'WINE REGISTRY Version 2', found 'WINE REGISTRY Version 1'"},
        {"BlankFirstLine", "\nWINE REGISTRY Version 2\n", 1, "expected 'WINE REGISTRY Version 2', found an empty line"},
        {"UnknownArch", "WINE REGISTRY Version 2\n#arch=win16\n", 2,
         "expected 'win32' or 'win64' after '#arch=', found 'win16'"},
        {"MismatchedArch", kHead + "#arch=win32\n", 5,
         "expected the architecture given before, 'win64', found 'win32'"},
        {"UnterminatedKey", kHead + "[Software\\\\Wine\n", 5, "expected ']' after the key name, found end of line"},
        {"KeyEndsInEscape", kHead + "[Software\\]\n", 5, "expected ']' after the key name, found end of line"},
        {"ValueBeforeKey", kHead + "\"a\"=\"b\"\n", 5, "expected a '[key]' line before the first value, found '\"'"},
        {"UnnamedValueBeforeKey", kHead + "@=\"b\"\n", 5, "expected a '[key]' line before the first value, found '@'"},
        {"UnrecognizedInput", kKey + "x=1\n", 6,
         "expected '[', '@', '\"', '#' or ';' at the start of a line, found 'x'"},
        {"NoEquals", kKey + "\"a\"x\n", 6, "expected '=' after the value name, found 'x'"},
        {"NoEqualsAtEnd", kKey + "@\n", 6, "expected '=' after the value name, found end of line"},
        {"UnterminatedName", kKey + "\"a=\"b\n", 6, "expected '=' after the value name, found 'b'"},
        {"UnterminatedNameAtEnd", kKey + "\"a\\\"=1\n", 6, "expected '\"' after the value name, found end of line"},
        {"UnknownType", kKey + "\"a\"=qword:1\n", 6,
         "expected a value type ('\"', 'str:', 'str(2):', 'str(7):', 'hex:', 'hex(N):' or 'dword:'), found 'q'"},
        {"TypeTagsAreCaseSensitive", kKey + "\"a\"=HEX:01\n", 6,
         "expected a value type ('\"', 'str:', 'str(2):', 'str(7):', 'hex:', 'hex(N):' or 'dword:'), found 'H'"},
        {"BadTypeNumber", kKey + "\"a\"=hex(1:01\n", 6, "expected '):' after the type number of 'hex(', found ':'"},
        {"UnterminatedString", kKey + "\"a\"=\"abc\n", 6, "expected '\"' at the end of the string, found end of line"},
        {"BadHexDigit", kKey + "\"a\"=hex:01,0g\n", 6, "expected a hex byte, ',' or '\\' in hex data, found 'g'"},
        {"DoubleComma", kKey + "\"a\"=hex:01,,02\n", 6, "expected a hex byte, ',' or '\\' in hex data, found ','"},
        {"ByteTooLarge", kKey + "\"a\"=hex:123\n", 6, "expected a byte of at most two hex digits, found '123'"},
        {"BadHexOnContinuation", kKey + "\"a\"=hex:01,\\\n  02,zz\n", 7,
         "expected a hex byte, ',' or '\\' in hex data, found 'z'"},
        {"ContinuationAtEnd", kKey + "\"a\"=hex:01,\\\n", 6,
         "expected a continuation line after '\\', found end of file"},
        {"ArchWithTrailingBlank", "WINE REGISTRY Version 2\n#arch=win64 \n", 2,
         "expected 'win32' or 'win64' after '#arch=', found 'win64 '"},
        {"FirstLineWithTwoCarriageReturns", "WINE REGISTRY Version 2\r\r\n", 1,
         "expected 'WINE REGISTRY Version 2', found 'WINE REGISTRY Version 2\\x0d'"},
        {"IndentedFirstLine", " WINE REGISTRY Version 2\n", 1,
         "expected 'WINE REGISTRY Version 2', found ' WINE REGISTRY Version 2'"},
        {"BlankAfterTypeNumber", kKey + "\"a\"=hex( 7 ):01\n", 6,
         "expected '):' after the type number of 'hex(', found ' '"},
        {"SignedByte", kKey + "\"a\"=hex:-1\n", 6, "expected a hex byte, ',' or '\\' in hex data, found '-'"},
        {"ByteBeyondUnsignedLong", kKey + "\"a\"=hex:10000000000000000\n", 6,
         "expected a byte of at most two hex digits, found '10000000000000000'"},
        {"ByteOf32BitsTooLarge", kKey + "\"a\"=hex:1000000ff0\n", 6,
         "expected a byte of at most two hex digits, found '1000000ff0'"},
        {"TextAfterBackslashOnTheLastLine", kKey + "\"a\"=hex:01,\\ 02\n", 6,
         "expected a continuation line after '\\', found end of file"},
        {"NulByte", kKey + std::string("\"a\"=\"b\0c\"\n", 10), 6, "expected text, found a NUL byte"},
        {"NameTooLong", kKey + "\"" + std::string(16384, 'n') + "\"=\"x\"\n", 6,
         "expected a value name of at most 16383 characters, found 16384"},
        // wineserver reports such a key ("Error creating key") and drops it
        // with its values and subkeys.
        {"KeyNameTooLong", kHead + "[" + std::string(257, 'k') + "]\n", 5,
         "expected key names of at most 256 characters, found one of 257"},
        {"KeyNameTooLongOnTheWay", kHead + "[A\\\\" + std::string(300, 'k') + "\\\\B] 1\n", 5,
         "expected key names of at most 256 characters, found one of 300"},
        {"KeyNameTooLongEscaped", kKey + "[A\\\\" + std::string(255, 'k') + "\\x00e9\\x20ac]\n", 6,
         "expected key names of at most 256 characters, found one of 257"},
        {"KeyNameTooLongInWineserversForm",
         kHead + "\n[A\\\\" + std::string(257, 'k') + "] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"v\"=\"x\"\n", 6,
         "expected key names of at most 256 characters, found one of 257"},
    }),
    PrintCorrupt);

TEST(CorruptTest, LongestKeyNameAccepted) {
  const std::string name(256, 'k');
  const std::string text = kHead + "\n[A\\\\" + name + "] 1690913106\n#time=1d9c4a2b3c4d5e6\n";
  const Hive hive = MustParse(text);
  EXPECT_NE(Path(hive.root, {u"A", U(name)}), nullptr);
  EXPECT_EQ(Save(hive), text);
}

TEST(CorruptTest, LongestValueNameAccepted) {
  const Hive hive = MustParse(kKey + "\"" + std::string(16383, 'n') + "\"=\"x\"\n");
  EXPECT_EQ(Path(hive.root, {u"K"})->values().size(), 1u);
}

// --- Hostile input and size -------------------------------------------------------

TEST(RobustnessTest, HostileInputNeverCrashes) {
  const std::vector<std::string> bodies = {
      "[",
      "[\\",
      "[\\x",
      "[\\7",
      "[\xf0",
      "[\xf0\x9f",
      "[\xe2\x82]",
      "[a]\n\"",
      "[a]\n\"\\",
      "[a]\n\"a\"=\"\\x",
      "[a]\n\"a\"=\"\\",
      "[a]\n\"a\"=hex(",
      "[a]\n\"a\"=hex(ffffffffffffffffffff):",
      "[a]\n\"a\"=hex:0x",
      "[a]\n\"a\"=hex:,",
      "[a]\n#time=ffffffffffffffffffffffff",
      "[a]\n#time=8000000000000000\n\"v\"=\"x\"",
      "[a]\n#class=\"",
      "[a]\n#class=",
      "[a] 99999999999999999999999",
      "[a] -5",
      "[a] +",
      "[\\0x]\n\"v\"=\"r\"",
      "[a]\n\"a\"=str(2):\"\xff\xff\xff",
      "[a]\n@",
      "[a]\n\"a\"=hex:01,\\",
      "#arch=",
      "[a]\n\"\\x\xf4\x90\x80\x80\"=\"\"",
  };
  for (const std::string& body : bodies) {
    ParseError error;
    std::optional<Hive> hive = Parse(ParseInput::FromString(kHead + body), &error);
    if (hive) {
      const std::string saved = Save(*hive);
      EXPECT_TRUE(Parse(ParseInput::FromString(saved), &error).has_value()) << body << " -> " << saved;
    } else {
      EXPECT_GE(error.line, 1) << body;
      EXPECT_FALSE(error.message.empty()) << body;
    }
  }
}

// --- Saving again after changes ---------------------------------------------

// A key with values and a subkey, a class, a link, a key implied by its
// subkey only.
const std::string kCacheText = kHead +
                               "\n[A] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"x\"=dword:00000001\n"
                               "\n[A\\\\B] 1690913106\n#time=1d9c4a2b3c4d5e6\n@=\"default\"\n\"bin\"=hex:01,02\n"
                               "\n[C] 1690913106\n#time=1d9c4a2b3c4d5e6\n#class=\"cls\"\n"
                               "\n[D] 1690913106\n#time=1d9c4a2b3c4d5e6\n#link\n\"SymbolicLinkValue\"=hex(6):41,00\n"
                               "\n[E\\\\F] 1690913106\n#time=1d9c4a2b3c4d5e6\n";

Key& At(Hive& hive, std::initializer_list<std::u16string_view> names) {
  const Key* key = Path(hive.root, names);
  EXPECT_NE(key, nullptr);
  return *const_cast<Key*>(key ? key : &hive.root);
}

struct ChangeCase {
  const char* name;
  std::function<void(Hive&)> change;
  std::string changed_line;  // a line of the expected result that the file did not have
};

std::string ChangeName(const ::testing::TestParamInfo<ChangeCase>& info) { return info.param.name; }
void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.name; }

class ChangedHiveTest : public TestWithParam<ChangeCase> {
 protected:
  static Hive Load() {
    Hive hive = MustParse(kCacheText);
    hive.root.set_modif(kTime1);
    return hive;
  }
};

// A tree saved, changed and saved again writes what a tree never saved
// before writes after the same change.
TEST_P(ChangedHiveTest, SavesAsAFreshTree) {
  Hive saved = Load();
  ASSERT_EQ(Save(saved), kCacheText);
  GetParam().change(saved);
  Hive fresh = Load();
  GetParam().change(fresh);
  const std::string expected = Save(fresh);
  EXPECT_NE(expected, kCacheText);
  EXPECT_EQ(Save(saved), expected);
  EXPECT_EQ(Save(saved), expected);  // and again, from what the last save kept
  if (!GetParam().changed_line.empty()) {
    EXPECT_THAT(expected, ::testing::HasSubstr(GetParam().changed_line));
  }
  // What was saved parses back to the same text.
  Hive back = MustParse(expected);
  back.root.set_modif(kTime1);
  EXPECT_EQ(Save(back), expected);
}

// One change a row.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Changes, ChangedHiveTest,
    ValuesIn(std::vector<ChangeCase>{
        {"SetValueNew", [](Hive& h) { At(h, {u"A"}).SetValue(u"y", 4, {2, 0, 0, 0}); }, "\"y\"=dword:00000002\n"},
        {"SetValueReplace", [](Hive& h) { At(h, {u"A", u"B"}).SetValue(u"BIN", 3, {0xff}); }, "\"bin\"=hex:ff\n"},
        {"RemoveValue", [](Hive& h) { EXPECT_TRUE(At(h, {u"A", u"B"}).RemoveValue(u"bin")); }, ""},
        // Its only value gone, a key with a subkey is no longer written.
        {"RemoveLastValue", [](Hive& h) { EXPECT_TRUE(At(h, {u"A"}).RemoveValue(u"x")); }, ""},
        {"SetModif", [](Hive& h) { At(h, {u"C"}).set_modif(kTime1 + 10 * 10000000); }, "[C] 1690913116\n"},
        {"SetClassName", [](Hive& h) { At(h, {u"A", u"B"}).set_class_name(u"new"); }, "#class=\"new\"\n"},
        {"ClearClassName", [](Hive& h) { At(h, {u"C"}).set_class_name(std::nullopt); }, ""},
        {"SetLink", [](Hive& h) { At(h, {u"A"}).set_link(true); }, "#time=1d9c4a2b3c4d5e6\n#link\n\"x\"="},
        {"ClearLink", [](Hive& h) { At(h, {u"D"}).set_link(false); }, ""},
        {"SetVolatile", [](Hive& h) { At(h, {u"A", u"B"}).set_volatile(true); }, ""},
        {"SetVolatileOnParent", [](Hive& h) { At(h, {u"A"}).set_volatile(true); }, ""},
        {"AddSubkey", [](Hive& h) { At(h, {u"C"}).AddSubkey(u"New", kTime1).SetValue(u"", 1, Utf16Z(u"n")); },
         "[C\\\\New] 1690913106\n"},
        // A leaf without values is written; once it has a subkey it is implied.
        {"AddSubkeyToImpliedLeaf", [](Hive& h) { At(h, {u"E", u"F"}).AddSubkey(u"G", kTime1); },
         "[E\\\\F\\\\G] 1690913106\n"},
        // Its subkey gone, a key without values is written again.
        {"RemoveSubkey", [](Hive& h) { EXPECT_TRUE(At(h, {u"E"}).RemoveSubkey(u"f")); }, "[E] 1690913106\n"},
        {"ReplaceRoot", [](Hive& h) { h.root = std::move(At(h, {u"A"})); }, "[B] 1690913106\n"},
    }),
    ChangeName);
// clang-format on

TEST(ChangedHiveTest, KeepsTheTextOfUnchangedKeysOnly) {
  Hive hive = MustParse(kCacheText);
  Key& a = At(hive, {u"A"});
  Key& b = At(hive, {u"A", u"B"});
  Key& c = At(hive, {u"C"});
  // Sections in the form Save writes keep the text read; a #class line is
  // parsed at once.
  EXPECT_TRUE(internal::HasReadSectionText(a));
  EXPECT_TRUE(internal::HasReadSectionText(b));
  EXPECT_FALSE(internal::HasSectionText(c));
  Save(hive);
  EXPECT_TRUE(internal::HasSectionText(a));
  EXPECT_TRUE(internal::HasSectionText(b));
  b.SetValue(u"z", 4, {0, 0, 0, 0});
  EXPECT_FALSE(internal::HasSectionText(b));
  EXPECT_TRUE(internal::HasSectionText(a));
  c.set_modif(c.modif());  // no change: the text stays
  EXPECT_TRUE(internal::HasSectionText(c));
  c.set_link(false);
  EXPECT_TRUE(internal::HasSectionText(c));
  c.set_link(true);
  EXPECT_FALSE(internal::HasSectionText(c));
  EXPECT_FALSE(b.RemoveValue(u"absent"));
  SectionText(b);
  EXPECT_FALSE(b.RemoveValue(u"absent"));
  EXPECT_TRUE(internal::HasSectionText(b));
  EXPECT_THAT(Save(hive), ::testing::HasSubstr("\"z\"=dword:00000000\n"));
  // A moved key takes its text with it; the key moved from keeps none.
  Key key(u"K", kTime1);
  key.SetValue(u"v", 4, {1, 0, 0, 0});
  const std::string kept(SectionText(key));
  Key moved(std::move(key));
  EXPECT_TRUE(internal::HasSectionText(moved));
  EXPECT_FALSE(internal::HasSectionText(key));
  EXPECT_EQ(SectionText(moved), kept);
  Key assigned;
  assigned = std::move(moved);
  EXPECT_TRUE(internal::HasSectionText(assigned));
  EXPECT_FALSE(internal::HasSectionText(moved));
  EXPECT_EQ(SectionText(assigned), kept);
  EXPECT_EQ(kept, "] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"v\"=dword:00000001\n");
}

// A file all in the form and order Save writes is parsed into a root whose
// subkeys are made when first asked for; a subtree never opened is saved
// from the file's text, an opened one as its keys are.
TEST(FoldedHiveTest, SubkeysAreMadeWhenFirstAskedFor) {
  const std::string text = ReadData("wine64_system.reg");
  Hive hive = MustParse(text);
  EXPECT_TRUE(internal::HasFoldedSubkeys(hive.root));
  EXPECT_TRUE(hive.root.has_subkeys());
  Key* software = hive.root.FindSubkey(u"SOFTWARE");
  ASSERT_NE(software, nullptr);
  EXPECT_EQ(software->name(), u"Software");
  EXPECT_FALSE(internal::HasFoldedSubkeys(hive.root));
  EXPECT_TRUE(internal::HasFoldedSubkeys(*software));
  EXPECT_EQ(Save(hive), text);
  // Opening every key gives the same tree, written anew.
  internal::DropSectionTexts(hive);
  EXPECT_FALSE(internal::HasFoldedSubkeys(*software));
  EXPECT_EQ(Save(hive), text);
}

TEST(FoldedHiveTest, TimesAndLinksOfKeysMadeLater) {
  const std::string text = kHead +
                           "\n[A\\\\B] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"v\"=\"1\"\n"
                           "\n[A\\\\C] 1699102524\n#time=1da0f1e2d3c4b5a\n#link\n\"SymbolicLinkValue\"=hex(6):41,00\n"
                           "\n[D] 1699102524\n#time=1da0f1e2d3c4b5a\n";
  const Hive hive = MustParse(text);
  EXPECT_TRUE(internal::HasFoldedSubkeys(hive.root));
  const Key* a = Path(hive.root, {u"A"});
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->modif(), kTime1);  // a key without a section: the time of its first subkey's
  const Key* c = Path(hive.root, {u"A", u"C"});
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(c->is_link());
  EXPECT_EQ(c->modif(), 0x1da0f1e2d3c4b5a);
  ASSERT_EQ(c->values().size(), 1u);
  EXPECT_EQ(c->values()[0].type, 6u);
  EXPECT_EQ(Save(hive), text);
}

// Files not in that form or order take the full parse, with the same result.
TEST(FoldedHiveTest, OtherFilesAreParsedAtOnce) {
  for (const std::string body : {
           "\n[B] 1690913106\n#time=1d9c4a2b3c4d5e6\n\n[A] 1690913106\n#time=1d9c4a2b3c4d5e6\n",       // order
           "\n[A] 1690913106\n#time=1d9c4a2b3c4d5e6\n\n[A] 1690913106\n#time=1d9c4a2b3c4d5e6\n",       // twice
           "\n[A] 1690913106\n#time=1d9c4a2b3c4d5e6\n\n[a\\\\B] 1690913106\n#time=1d9c4a2b3c4d5e6\n",  // spelling
           "\n[A] 1690913106\n#time=1d9c4a2b3c4d5e6\n\n[A\\\\B] 1690913106\n#time=1d9c4a2b3c4d5e6\n",  // bare parent
           "\n[A] 1690913106\n#time=1d9c4a2b3c4d5e6\n#class=\"c\"\n",
           "\n[A] 1690913106\n#time=0\n",
       }) {
    Hive hive = MustParse(kHead + body);
    EXPECT_FALSE(internal::HasFoldedSubkeys(hive.root)) << body;
    const std::string saved = Save(hive);
    internal::DropSectionTexts(hive);
    EXPECT_EQ(Save(hive), saved) << body;
  }
}

TEST(ChangedHiveTest, PatchRunOnAWineFile) {
  const std::string text = ReadData("wine64_system.reg");
  Hive hive = MustParse(text);
  ASSERT_EQ(Save(hive), text);
  Hive fresh = MustParse(text);
  fresh.root.set_modif(hive.root.modif());
  for (Hive* h : {&hive, &fresh}) {
    Key& formats = h->root.AddSubkey(u"Software", 0).AddSubkey(u"Mediamatics", kTime1).AddSubkey(u"Formats", kTime1);
    h->root.FindSubkey(u"software")->set_modif(kTime1);
    formats.SetValue(u"YV12", 4, {0, 0, 0, 0});
    if (h == &hive) Save(hive);
    formats.SetValue(u"NMMC", 4, {0, 0, 0, 0});
    formats.set_modif(kTime1 + 1);
  }
  const std::string expected = Save(fresh);
  EXPECT_THAT(expected, ::testing::HasSubstr("[Software\\\\Mediamatics\\\\Formats] 1690913106\n#time=1d9c4a2b3c4d5e7\n"
                                             "\"NMMC\"=dword:00000000\n\"YV12\"=dword:00000000\n"));
  EXPECT_EQ(Save(hive), expected);
}

TEST(RobustnessTest, VeryDeepKeyParsesSavesAndFrees) {
  constexpr int kDepth = 100000;
  std::string line = "[";
  for (int i = 0; i < kDepth; ++i) line += i ? "\\\\k" : "k";
  line += "] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"v\"=\"deep\"\n";
  const std::string text = kHead + "\n" + line;
  std::optional<Hive> hive = Parse(ParseInput::FromString(text));
  ASSERT_TRUE(hive.has_value());
  EXPECT_EQ(Save(*hive), text);
  hive.reset();
}

TEST(RobustnessTest, HugeLine) {
  const std::string data(8 << 20, 'x');
  const Hive hive = MustParse(kKey + "\"big\"=\"" + data + "\"\n");
  EXPECT_EQ(Path(hive.root, {u"K"})->FindValue(u"big")->data.size(), 2 * (data.size() + 1));
}

// The most values a key holds, parsed and saved back (bench/store_bench.cpp
// times it: BM_FormatManyValues).
TEST(RobustnessTest, KeyWithMaximumValueCount) {
  std::string text = kHead + "\n[Many] 1690913106\n#time=1d9c4a2b3c4d5e6\n";
  for (int i = 0; i < 32767; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "\"Value%05d\"=dword:%08x\n", i, static_cast<unsigned>(i));
    text += line;
  }
  std::optional<Hive> hive = Parse(ParseInput::FromString(text));
  ASSERT_TRUE(hive.has_value());
  EXPECT_EQ(Save(*hive), text);
  EXPECT_EQ(Path(hive->root, {u"many"})->values().size(), 32767u);
}

}  // namespace
}  // namespace winereg
