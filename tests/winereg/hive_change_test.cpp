// The Wine registry file format: trees saved again after changes, and keys
// made only when first asked for.
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
