// The Wine registry file format: input wineserver tolerates (normalised on
// save), input it refuses, and hostile or huge input.
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

}  // namespace
}  // namespace winereg
