// ReadHeader: the lines before a file's first key, read as Parse reads them,
// from the whole file or from its first bytes.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "winereg/reader.h"

namespace winereg {
namespace {

constexpr char kTop[] = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n";
constexpr char kKey[] = "\n[Software] 1690913106\n#time=1d9c4a2b3c4d5e6\n";

struct HeaderCase {
  const char* name;
  std::string text;
  Extent extent = Extent::kWholeFile;
  // The header read, or the fault's line and message.
  std::optional<Arch> arch;
  std::u16string branch = u"REGISTRY\\Machine";
  bool complete = true;
  int error_line = 0;
  std::string error = {};
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

HeaderCase Read(const char* name, std::string text, Arch arch, std::u16string branch = u"REGISTRY\\Machine") {
  return HeaderCase{name, std::move(text), Extent::kWholeFile, arch, std::move(branch)};
}
HeaderCase Refused(const char* name, std::string text, int line, std::string error) {
  return HeaderCase{name, std::move(text), Extent::kWholeFile, std::nullopt, {}, false, line, std::move(error)};
}
HeaderCase Start(const char* name, std::string text, Arch arch, bool complete,
                 std::u16string branch = u"REGISTRY\\Machine") {
  return HeaderCase{name, std::move(text), Extent::kFileStart, arch, std::move(branch), complete};
}

const std::vector<HeaderCase>& Cases() {
  static const std::vector<HeaderCase> cases = {
      Read("NoArch", std::string(kTop) + kKey, Arch::kUnspecified),
      Read("Win32", std::string(kTop) + "#arch=win32\n" + kKey, Arch::kWin32),
      Read("Win64", std::string(kTop) + "#arch=win64\n" + kKey, Arch::kWin64),
      Read("Win64Twice", std::string(kTop) + "#arch=win64\n#arch=win64\n" + kKey, Arch::kWin64),
      Read("Indented", std::string(kTop) + " \t#arch=win64\n" + kKey, Arch::kWin64),
      Read("AmongCommentsAndOptions", std::string(kTop) + ";x\n#other=1\n\n#arch=win64\n;y\n" + kKey, Arch::kWin64),
      Read("ArchAfterTheFirstKeyIgnored", std::string(kTop) + kKey + "#arch=win64\n", Arch::kUnspecified),
      Read("BadArchAfterTheFirstKeyIgnored", std::string(kTop) + "#arch=win32\n" + kKey + "#arch=bogus\n",
           Arch::kWin32),
      Read("Crlf",
           "WINE REGISTRY Version 2\r\n;; All keys relative to REGISTRY\\\\Machine\r\n\r\n#arch=win64\r\n\r\n"
           "[Software] 1690913106\r\n",
           Arch::kWin64),
      Read("NoKey", std::string(kTop) + "#arch=win64\n", Arch::kWin64),
      Read("NoKeyNoLastNewline", std::string(kTop) + "#arch=win64", Arch::kWin64),
      Read("BranchOnlyOnTheSecondLine",
           "WINE REGISTRY Version 2\n\n;; All keys relative to REGISTRY\\\\User\n#arch=win32\n" + std::string(kKey),
           Arch::kWin32, u""),
      Read("UserBranch",
           "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n" +
               std::string(kKey),
           Arch::kUnspecified, u"REGISTRY\\User\\S-1-5-21-0-0-0-1000"),
      Refused("BadArch", std::string(kTop) + "#arch=win16\n" + kKey, 4,
              "expected 'win32' or 'win64' after '#arch=', found 'win16'"),
      Refused("EmptyArch", std::string(kTop) + "#arch=\n" + kKey, 4,
              "expected 'win32' or 'win64' after '#arch=', found end of line"),
      Refused("ArchWithTrailingBlank", std::string(kTop) + "#arch=win64 \n" + kKey, 4,
              "expected 'win32' or 'win64' after '#arch=', found 'win64 '"),
      Refused("CrlfTwice", std::string(kTop) + "#arch=win64\r\r\n" + kKey, 4,
              "expected 'win32' or 'win64' after '#arch=', found 'win64\\x0d'"),
      Refused("ContradictingArch", std::string(kTop) + "#arch=win32\n;\n#arch=win64\n" + kKey, 6,
              "expected the architecture given before, 'win32', found 'win64'"),
      Refused("NotARegistryFile", "REGEDIT4\n\n[A]\n", 1, "expected 'WINE REGISTRY Version 2', found 'REGEDIT4'"),
      Refused("EmptyFile", "", 1, "expected 'WINE REGISTRY Version 2', found end of file"),
      Refused("EmptyFirstLine", "\nWINE REGISTRY Version 2\n", 1,
              "expected 'WINE REGISTRY Version 2', found an empty line"),
      Refused("ValueBeforeTheFirstKey", std::string(kTop) + "\"a\"=\"b\"\n" + kKey, 4,
              "expected a '[key]' line before the first value, found '\"'"),
      Refused("NulBeforeTheFirstKey", std::string(kTop) + "#arch=win64" + std::string(1, '\0') + "\n" + kKey, 4,
              "expected text, found a NUL byte"),
      Refused("StrayLine", std::string(kTop) + "arch=win64\n" + kKey, 4,
              "expected '[', '@', '\"', '#' or ';' at the start of a line, found 'a'"),
      Start("StartUpToTheKey", std::string(kTop) + "#arch=win64\n" + kKey, Arch::kWin64, true),
      Start("StartCutInTheArch", std::string(kTop) + "#arch=win6", Arch::kUnspecified, false),
      Start("StartCutAfterTheArch", std::string(kTop) + "#arch=win64\n;", Arch::kWin64, false),
      Start("StartCutInTheFirstKey", std::string(kTop) + "#arch=win32\n\n[Softw", Arch::kWin32, false),
      Start("StartCutInTheFirstLine", "WINE REGISTRY Vers", Arch::kUnspecified, false, u""),
  };
  return cases;
}

class HeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderTest, ReadsTheLinesBeforeTheFirstKey) {
  const HeaderCase& c = GetParam();
  ParseError error;
  const std::optional<FileHeader> header = ReadHeader(c.text, c.extent, &error);
  if (!c.arch) {
    ASSERT_FALSE(header.has_value());
    EXPECT_EQ(error.line, c.error_line);
    EXPECT_EQ(error.message, c.error);
    return;
  }
  ASSERT_TRUE(header.has_value()) << error.line << ": " << error.message;
  EXPECT_EQ(header->arch, *c.arch);
  EXPECT_EQ(header->complete, c.complete);
  EXPECT_EQ(header->branch, c.branch);
}

std::vector<HeaderCase> WholeFiles() {
  std::vector<HeaderCase> whole;
  for (const HeaderCase& c : Cases()) {
    if (c.extent == Extent::kWholeFile) whole.push_back(c);
  }
  return whole;
}

class WholeFileHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

// The whole file's header is what Parse reads, and a refusal is Parse's.
TEST_P(WholeFileHeaderTest, AgreesWithParse) {
  const HeaderCase& c = GetParam();
  ParseError header_error;
  const std::optional<FileHeader> header = ReadHeader(c.text, c.extent, &header_error);
  ParseError parse_error;
  const std::optional<Hive> hive = Parse(ParseInput::FromString(c.text), &parse_error);
  ASSERT_EQ(header.has_value(), hive.has_value()) << parse_error.line << ": " << parse_error.message;
  if (!hive) {
    EXPECT_EQ(header_error.line, parse_error.line);
    EXPECT_EQ(header_error.message, parse_error.message);
    return;
  }
  EXPECT_EQ(header->arch, hive->arch);
  EXPECT_EQ(header->branch, hive->branch);
}

// Any start of the file gives the whole file's header once the header is
// all in it, and before that no refusal the whole file does not have.
TEST_P(WholeFileHeaderTest, ReadsTheSameFromEveryStartOfTheFile) {
  const HeaderCase& c = GetParam();
  ParseError whole_error;
  const std::optional<FileHeader> whole = ReadHeader(c.text, Extent::kWholeFile, &whole_error);
  for (std::size_t n = 0; n <= c.text.size(); ++n) {
    ParseError error;
    const std::optional<FileHeader> start =
        ReadHeader(std::string_view(c.text).substr(0, n), Extent::kFileStart, &error);
    if (!start) {
      ASSERT_FALSE(whole.has_value()) << "cut at " << n << ": " << error.message;
      EXPECT_EQ(error.line, whole_error.line) << "cut at " << n;
      EXPECT_EQ(error.message, whole_error.message) << "cut at " << n;
      continue;
    }
    if (!start->complete) continue;
    ASSERT_TRUE(whole.has_value()) << "cut at " << n;
    EXPECT_EQ(start->arch, whole->arch) << "cut at " << n;
    EXPECT_EQ(start->branch, whole->branch) << "cut at " << n;
  }
}

std::string CaseName(const ::testing::TestParamInfo<HeaderCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Table, HeaderTest, ::testing::ValuesIn(Cases()), CaseName);
INSTANTIATE_TEST_SUITE_P(Table, WholeFileHeaderTest, ::testing::ValuesIn(WholeFiles()), CaseName);

}  // namespace
}  // namespace winereg
