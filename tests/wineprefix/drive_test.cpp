// Paths on a prefix's drives: dosdevices/<drive>:, folders and files found
// without regard to case, and the statuses of what is not there.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>

#include "tests/support/posix/temp_prefix.h"
#include "wineprefix/drive.h"

namespace {

namespace fs = std::filesystem;
using vocab::LONG;

struct DriveCase {
  const char* name;
  std::u16string path;
  LONG status;
  const char* found;  // below the prefix ("@" for the other folder); nullptr on failure
};

void PrintTo(const DriveCase& c, std::ostream* out) { *out << c.name; }

// A prefix whose C: is the usual link to ../drive_c, whose D: leads out of
// the prefix, whose E: is a file and whose F: leads nowhere.
class DriveTest : public ::testing::TestWithParam<DriveCase> {
 protected:
  void SetUp() override {
    const fs::path c = prefix_.path() / "drive_c";
    fs::create_directories(c / "Windows/System");
    fs::create_directories(c / "Données");
    fs::create_directories(c / "Ÿes");
    fs::create_directories(c / "Ābc");
    fs::create_directories(elsewhere_.path() / "Data");
    fs::create_directories(prefix_.path() / "dosdevices");
    Touch(c / "Windows/System/OEMINFO.ini");
    Touch(c / "Données/Été.txt");
    Touch(c / "Ÿes/šx.txt");
    Touch(c / "plain.txt");
    Touch(elsewhere_.path() / "Data/File.bin");
    Touch(prefix_.path() / "not_a_drive");
    fs::create_directory_symlink("../drive_c", prefix_.path() / "dosdevices/c:");
    fs::create_directory_symlink(elsewhere_.path(), prefix_.path() / "dosdevices/d:");
    fs::create_symlink("../not_a_drive", prefix_.path() / "dosdevices/e:");
    fs::create_symlink("../gone", prefix_.path() / "dosdevices/f:");
  }
  static void Touch(const fs::path& file) { std::ofstream(file) << "x"; }

  testenv::TempPrefix prefix_;
  testenv::TempPrefix elsewhere_;
};

TEST_P(DriveTest, ResolvesAsWineDoes) {
  const DriveCase& c = GetParam();
  fs::path out = "untouched";
  EXPECT_EQ(wineprefix::ResolveDrivePath(prefix_.path(), c.path, &out).code, c.status);
  if (c.found == nullptr) {
    EXPECT_EQ(out, "untouched");
  } else {
    const std::string found = c.found;
    EXPECT_EQ(out, found[0] == '@' ? prefix_.path() / "dosdevices/d:" / found.substr(2) : prefix_.path() / found);
    EXPECT_TRUE(fs::exists(out)) << out;
  }
}

constexpr LONG kOk = vocab::ERROR_SUCCESS;
constexpr LONG kNoPath = vocab::ERROR_PATH_NOT_FOUND;
constexpr LONG kNoFile = vocab::ERROR_FILE_NOT_FOUND;

INSTANTIATE_TEST_SUITE_P(
    Table, DriveTest,
    ::testing::Values(
        DriveCase{"ExactNames", u"C:\\Windows\\System\\OEMINFO.ini", kOk, "dosdevices/c:/Windows/System/OEMINFO.ini"},
        DriveCase{"AnyCase", u"c:\\WINDOWS\\system\\Oeminfo.INI", kOk, "dosdevices/c:/Windows/System/OEMINFO.ini"},
        DriveCase{"SlashesDotsAndDotDots", u"C:/windows/./Fonts/../system//oeminfo.ini", kOk,
                  "dosdevices/c:/Windows/System/OEMINFO.ini"},
        DriveCase{"DotDotStopsAtTheRoot", u"C:\\..\\..\\windows", kOk, "dosdevices/c:/Windows"},
        DriveCase{"TheDriveItself", u"C:\\", kOk, "dosdevices/c:"},
        DriveCase{"Windows1252Letters", u"C:\\DONNÉES\\éTÉ.TXT", kOk, "dosdevices/c:/Données/Été.txt"},
        DriveCase{"YDiaeresisAndSCaron", u"C:\\ÿES\\Šx.TXT", kOk, "dosdevices/c:/Ÿes/šx.txt"},
        DriveCase{"LettersBeyondWindows1252AsTheyAre", u"C:\\ābc", kNoFile, nullptr},
        DriveCase{"MissingFolder", u"C:\\Windows\\Missing\\oeminfo.ini", kNoPath, nullptr},
        DriveCase{"MissingFile", u"C:\\Windows\\System\\missing.ini", kNoFile, nullptr},
        DriveCase{"AFileIsNoFolder", u"C:\\plain.txt\\x", kNoPath, nullptr},
        DriveCase{"AFileAtTheEnd", u"C:\\PLAIN.TXT", kOk, "dosdevices/c:/plain.txt"},
        DriveCase{"DosdevicesLinkElsewhere", u"D:\\data\\file.BIN", kOk, "@/Data/File.bin"},
        DriveCase{"ADriveThatIsAFile", u"E:\\x", kNoPath, nullptr},
        DriveCase{"ADanglingDrive", u"F:\\x", kNoPath, nullptr}, DriveCase{"AMissingDrive", u"G:\\x", kNoPath, nullptr},
        DriveCase{"Wildcard", u"C:\\windows\\sys*em\\x", vocab::ERROR_INVALID_NAME, nullptr},
        DriveCase{"InvalidNameBeforeMissingFolder", u"C:\\Missing\\a<b", vocab::ERROR_INVALID_NAME, nullptr},
        DriveCase{"ControlCharacter", u"C:\\a\x01", vocab::ERROR_INVALID_NAME, nullptr},
        DriveCase{"Relative", u"windows\\system", vocab::ERROR_BAD_PATHNAME, nullptr},
        DriveCase{"DriveRelative", u"C:windows", vocab::ERROR_BAD_PATHNAME, nullptr},
        DriveCase{"Empty", u"", vocab::ERROR_BAD_PATHNAME, nullptr},
        DriveCase{"NoLetter", u"1:\\x", vocab::ERROR_INVALID_DRIVE, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DriveWithoutPrefix, NoPrefixHasNoPath) {
  fs::path out = "untouched";
  EXPECT_EQ(wineprefix::ResolveDrivePath(fs::path(), u"C:\\windows", &out).code, vocab::ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(wineprefix::ResolveDrivePath(fs::path(), u"C:windows", &out).code, vocab::ERROR_BAD_PATHNAME);
  EXPECT_EQ(out, "untouched");
}

TEST(FileNames, CompareWithoutRegardToCaseInWindows1252) {
  EXPECT_TRUE(wineprefix::SameFileName(u"OemInfo.INI", u"oeminfo.ini"));
  EXPECT_TRUE(wineprefix::SameFileName(u"àçéÿšœž", u"ÀÇÉŸŠŒŽ"));
  EXPECT_FALSE(wineprefix::SameFileName(u"÷", u"×"));  // not letters
  EXPECT_FALSE(wineprefix::SameFileName(u"ā", u"Ā"));
  EXPECT_FALSE(wineprefix::SameFileName(u"ab", u"abc"));
}

TEST(FileNames, ThoseNoWindowsFileHasAreInvalid) {
  EXPECT_TRUE(wineprefix::IsValidFileName(u"Oeminfo.ini"));
  EXPECT_TRUE(wineprefix::IsValidFileName(u"a b.c d"));
  for (const std::u16string name :
       {u"", u".", u"..", u"a/b", u"a\\b", u"a:b", u"a\"b", u"a|b", u"a?b", u"a>b", u"a\tb"}) {
    EXPECT_FALSE(wineprefix::IsValidFileName(name));
  }
}

TEST(FileNames, AFolderThatCannotBeListedIsItsStatus) {
  const testenv::TempPrefix dir;
  fs::path found = "untouched";
  const vocab::Status missing = wineprefix::FindInFolder(dir.path() / "missing", u"x", &found);
  EXPECT_EQ(missing.code, vocab::ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(missing.message, "");  // nothing to add to the status
  // A folder that is there but cannot be listed says which and why (a loop
  // fails for root too).
  fs::create_symlink("loop", dir.path() / "loop");
  const vocab::Status loop = wineprefix::FindInFolder(dir.path() / "loop", u"x", &found);
  EXPECT_NE(loop.code, vocab::ERROR_SUCCESS);
  EXPECT_EQ(loop.message, (dir.path() / "loop").string() + ": cannot list the folder: " + std::strerror(ELOOP));
  EXPECT_EQ(wineprefix::FindInFolder(dir.path(), u"a*", &found).code, vocab::ERROR_INVALID_NAME);
  EXPECT_EQ(wineprefix::FindInFolder(dir.path(), u"absent", &found).code, vocab::ERROR_SUCCESS);
  EXPECT_EQ(found, fs::path());
}

}  // namespace
