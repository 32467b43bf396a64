// The OEM information reader of cHalden: the same table of file contents
// through a scripted file facility and through the build's own backend (a
// temporary prefix's drive C: natively, the real file API under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/utf8.h"
#include "platform/textfile.h"
#include "profile/cHalden.h"
#include "tests/support/oem_env.h"
#include "tests/support/oem_scripted.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/support/posix/backends.h"
#include "tests/support/posix/temp_prefix.h"
#endif

namespace {

using namespace std::string_literals;

constexpr char kPath[] = "C:\\Windows\\system\\Oeminfo.ini";

struct Fields {
  std::u16string model;
  std::u16string language;
  std::u16string recovery;
  bool operator==(const Fields&) const = default;
};

void PrintTo(const Fields& f, std::ostream* os) {
  *os << "{" << plat::ToUtf8(f.model) << "|" << plat::ToUtf8(f.language) << "|" << plat::ToUtf8(f.recovery) << "}";
}

Fields Read(const skelvin::cHalden& halden) { return {halden.ModelName(), halden.Language(), halden.RecoveryCD()}; }

// What each case's object holds before the case's read: the result of an
// earlier successful read of this file.
const std::string kEarlierFile = "Model=OLD-1 OLDLANG dropped OLDCD\r\n";
const Fields kEarlier{u"OLD-1", u"OLDLANG", u"OLDCD"};

struct OemCase {
  const char* name;
  std::string content;
  // The fields after the read, or the error it ends with (fields unchanged).
  std::optional<Fields> fields;
  std::int32_t error = 0;
};

void PrintTo(const OemCase& c, std::ostream* os) { *os << c.name; }

OemCase Ok(const char* name, std::string content, Fields fields) { return {name, std::move(content), fields, 0}; }
OemCase Fails(const char* name, std::string content, std::int32_t error) {
  return {name, std::move(content), std::nullopt, error};
}

std::vector<OemCase> Cases() {
  const std::string megabyte_line(3 * 1024 * 1024, 'x');
  const std::string megabyte_word(2 * 1024 * 1024 + 17, 'M');
  return {
      Ok("WorkedExample", "[General]\r\nManufacturer=Acme\r\nModel=MX-200 ENG R2 CD-77 EXTRA\r\nSupport=None\r\n",
         {u"MX-200", u"ENG", u"CD-77"}),
      Ok("TwoSpacesAfterTheModel", "Model=MX-200  ENG R2 CD-77 EXTRA\r\n", {u"MX-200", u"", u"R2"}),
      Ok("LeadingSpace", "Model= MX-200 ENG R2 CD-77 EXTRA\r\n", {u"", u"MX-200", u"R2"}),
      Ok("ModelAlone", "Model=\r\n", {u"", u"", u""}),
      Ok("OneWord", "Model=MX-200\r\n", {u"MX-200", u"", u""}),
      Ok("TwoModelLinesFirstCounts", "Model=FIRST EN x R1\r\nModel=SECOND DE y R2\r\n", {u"FIRST", u"EN", u"R1"}),
      Fails("LowerCaseKey", "[General]\r\nmodel=MX-200 ENG R2 CD-77\r\n", plat::kInputPastEndOfFile),
      Fails("BlankBeforeKey", " Model=MX-200 ENG R2 CD-77\r\n", plat::kInputPastEndOfFile),
      Fails("BlankBeforeEquals", "Model =MX-200 ENG R2 CD-77\r\n", plat::kInputPastEndOfFile),
      Ok("TabInsideWords", "Model=MX\t200 ENG R2 CD\t77\r\n", {u"MX\t200", u"ENG", u"CD\t77"}),
      Ok("TabIsNoSeparator", "Model=A\tB C\r\n", {u"A\tB", u"C", u""}),
      Ok("ModelLineLastWithoutLineEnd", "[General]\r\nModel=A B C D", {u"A", u"B", u"D"}),
      Fails("LfOnlyModelNotFirst", "[General]\nModel=A B C D\n", plat::kInputPastEndOfFile),
      Ok("LfOnlyModelFirstTakesTheRestOfTheFile", "Model=A B C D\nSupport=1\n", {u"A", u"B", u"D\nSupport=1\n"}),
      Ok("CrOnlyLineEnds", "[General]\rModel=A B C D\rSupport=1\r", {u"A", u"B", u"D"}),
      Ok("BlankLineBeforeModel", "\r\n\r\nModel=A B C D\r\n", {u"A", u"B", u"D"}),
      Ok("ShortLinesBeforeModel", "M\r\nModel\r\nModel=A B C D\r\n", {u"A", u"B", u"D"}),
      Ok("CrCrLf", "Model=A B\r\r\nModel=C D E F\r\n", {u"A", u"B", u""}),
      Ok("TrailingSpaces", "Model=A B C D   \r\n", {u"A", u"B", u"D"}),
      Ok("WordsBeyondThreeDropped", "Model=A B C D E F G H\r\n", {u"A", u"B", u"D"}),
      Fails("EmptyFile", "", plat::kInputPastEndOfFile),
      Fails("OnlyLineEnds", "\r\n\r\n\r", plat::kInputPastEndOfFile),
      Fails("NoModelLine", "[General]\r\nManufacturer=Acme\r\n", plat::kInputPastEndOfFile),
      Ok("NulBytesBelongToWords", "Model=A\0B C\0 x \0D\r\n"s, {u"A\0B"s, u"C\0"s, u"\0D"s}),
      Ok("BytesAboveAscii", "Model=\x80\xE9 \x81\xFF x \x9D\r\n",
         {plat::FromAnsi("\x80\xE9"), plat::FromAnsi("\x81\xFF"), plat::FromAnsi("\x9D")}),
      Ok("MegabyteLineBeforeModel", megabyte_line + "\r\nModel=A B C D\r\n", {u"A", u"B", u"D"}),
      Ok("MegabyteModelWord", "Model=" + megabyte_word + " L x R\r\n",
         {std::u16string(megabyte_word.begin(), megabyte_word.end()), u"L", u"R"}),
      Fails("MegabyteLineWithoutModel", megabyte_line, plat::kInputPastEndOfFile),
  };
}

// Reads through whatever file facility is installed: first the earlier file
// (through `write`), then the case's content; checks the fields or the error.
template <class Write>
void CheckCase(const OemCase& c, Write write) {
  skelvin::cHalden halden;
  write(kEarlierFile);
  ASSERT_NO_THROW(halden.Collect(-1));
  ASSERT_EQ(Read(halden), kEarlier);
  write(c.content);
  if (c.fields) {
    EXPECT_NO_THROW(halden.Collect(-1));
    EXPECT_EQ(Read(halden), *c.fields);
  } else {
    try {
      halden.Collect(-1);
      ADD_FAILURE() << "Collect succeeded; expected error " << c.error;
    } catch (const plat::Error& error) {
      EXPECT_EQ(error.Number(), c.error);
      EXPECT_EQ(error.Description(), plat::FaultText(c.error));
    }
    EXPECT_EQ(Read(halden), kEarlier);
  }
}

// The error that Collect ends with, 0 when it succeeds.
std::int32_t CollectError(skelvin::cHalden& halden, std::int16_t go = -1) {
  try {
    halden.Collect(go);
    return 0;
  } catch (const plat::Error& error) {
    return error.Number();
  }
}

// --- The table through a scripted facility, in several chunk sizes. --------

class ScriptedOemTest : public ::testing::TestWithParam<std::tuple<OemCase, plat::DWORD>> {};

TEST_P(ScriptedOemTest, GivesTheFieldsOrTheErrorAndClosesTheFile) {
  const auto& [c, chunk] = GetParam();
  testenv::ScriptedFileInput files;
  files.chunk = chunk;
  plat::ScopedUse<plat::FileInput> use(files);
  CheckCase(c, [&](const std::string& content) { files.SetContent(content); });
  ASSERT_EQ(files.opened.size(), 2U);
  EXPECT_EQ(files.opened[0], kPath);
  EXPECT_EQ(files.opened[1], kPath);
  EXPECT_EQ(files.closes, 2);
  EXPECT_FALSE(files.open());
  EXPECT_EQ(files.bad_handle_calls, 0);
  // Read in chunks: never more asked for than the reader's buffer.
  EXPECT_LE(files.largest_request, plat::TextInput::kChunk);
}

INSTANTIATE_TEST_SUITE_P(Contents, ScriptedOemTest,
                         ::testing::Combine(::testing::ValuesIn(Cases()), ::testing::Values(1U, 3U, 4096U)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_chunk" +
                                  std::to_string(std::get<1>(info.param));
                         });

// --- The same table on the build's own backend. -----------------------------

class BackendOemTest : public ::testing::TestWithParam<OemCase> {};

TEST_P(BackendOemTest, GivesTheFieldsOrTheError) {
  testenv::OemFileEnv env;
  CheckCase(GetParam(), [&](const std::string& content) { env.Write(content); });
}

INSTANTIATE_TEST_SUITE_P(Contents, BackendOemTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BackendOem, AMissingFileIsError53AndLeavesTheFields) {
  testenv::OemFileEnv env;
  skelvin::cHalden halden;
  env.Write(kEarlierFile);
  ASSERT_EQ(CollectError(halden), 0);
  env.Remove();
  EXPECT_EQ(CollectError(halden), plat::kFileNotFound);
  EXPECT_EQ(Read(halden), kEarlier);
}

TEST(BackendOem, AFailedReadThenASuccessfulOne) {
  testenv::OemFileEnv env;
  skelvin::cHalden halden;
  env.Write(kEarlierFile);
  ASSERT_EQ(CollectError(halden), 0);
  env.Write("[General]\r\nManufacturer=Acme\r\n");
  EXPECT_EQ(CollectError(halden), plat::kInputPastEndOfFile);
  EXPECT_EQ(Read(halden), kEarlier);
  env.Write("[General]\r\nManufacturer=Acme\r\nModel=NEW-2 DEU R CD-9\r\n");
  EXPECT_EQ(CollectError(halden), 0);
  EXPECT_EQ(Read(halden), (Fields{u"NEW-2", u"DEU", u"CD-9"}));
}

TEST(BackendOem, TheFileNameIsFoundWithoutRegardToCase) {
  testenv::OemFileEnv env;
  env.Write("Model=UPPER EN x CD\r\n", "OEMINFO.INI");
  skelvin::cHalden halden;
  EXPECT_EQ(CollectError(halden), 0);
  EXPECT_EQ(Read(halden), (Fields{u"UPPER", u"EN", u"CD"}));
}

TEST(BackendOem, AMissingFolderIsError76) {
  testenv::OemFileEnv env;
  try {
    plat::TextInput file(u"C:\\SkelvinNoSuchFolder\\Oeminfo.ini");
    ADD_FAILURE() << "the open succeeded";
  } catch (const plat::Error& error) {
    EXPECT_EQ(error.Number(), plat::kPathNotFound);
  }
}

TEST(BackendOem, AFolderInPlaceOfTheFileIsError75) {
  testenv::OemFileEnv env;
  try {
    plat::TextInput file(u"C:\\Windows\\system");
    ADD_FAILURE() << "the open succeeded";
  } catch (const plat::Error& error) {
    EXPECT_EQ(error.Number(), plat::kPathFileAccessError);
  }
}

// --- Collect itself, through a recording facility. ---------------------------

TEST(Collect, FalseTouchesNothing) {
  testenv::ScriptedFileInput files(kEarlierFile);
  plat::ScopedUse<plat::FileInput> use(files);
  skelvin::cHalden halden;
  ASSERT_EQ(CollectError(halden), 0);
  files.opened.clear();
  files.reads = 0;
  files.SetContent("Model=NEW NEW x NEW\r\n");
  EXPECT_EQ(CollectError(halden, 0), 0);
  EXPECT_TRUE(files.opened.empty());
  EXPECT_EQ(files.reads, 0);
  EXPECT_EQ(Read(halden), kEarlier);
}

TEST(Collect, FalseWithNoFileDoesNotFail) {
  testenv::ScriptedFileInput files;
  files.open_status = plat::ERROR_FILE_NOT_FOUND;
  plat::ScopedUse<plat::FileInput> use(files);
  skelvin::cHalden halden;
  EXPECT_EQ(CollectError(halden, 0), 0);
  EXPECT_TRUE(files.opened.empty());
  EXPECT_EQ(Read(halden), (Fields{}));
}

class CollectTrueTest : public ::testing::TestWithParam<std::int16_t> {};

TEST_P(CollectTrueTest, AnyNonZeroValueReadsTheFileOnceFromItsBeginning) {
  testenv::ScriptedFileInput files("Model=A B C D\r\n");
  plat::ScopedUse<plat::FileInput> use(files);
  skelvin::cHalden halden;
  EXPECT_EQ(CollectError(halden, GetParam()), 0);
  EXPECT_EQ(files.opened.size(), 1U);
  EXPECT_EQ(Read(halden), (Fields{u"A", u"B", u"D"}));
  files.SetContent("Model=E F G H\r\n");
  EXPECT_EQ(CollectError(halden, GetParam()), 0);
  EXPECT_EQ(files.opened.size(), 2U);
  EXPECT_EQ(files.closes, 2);
  EXPECT_EQ(Read(halden), (Fields{u"E", u"F", u"H"}));
}

INSTANTIATE_TEST_SUITE_P(TruthValues, CollectTrueTest, ::testing::Values(-1, 1, 2, INT16_MIN, INT16_MAX));

struct OpenFailure {
  plat::LONG status;
  std::int32_t error;
};

class OpenFailureTest : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(OpenFailureTest, EndsCollectWithTheOpensFaultAndNothingIsRead) {
  testenv::ScriptedFileInput files(kEarlierFile);
  plat::ScopedUse<plat::FileInput> use(files);
  skelvin::cHalden halden;
  ASSERT_EQ(CollectError(halden), 0);
  files.open_status = GetParam().status;
  files.reads = 0;
  EXPECT_EQ(CollectError(halden), GetParam().error);
  EXPECT_EQ(files.reads, 0);
  EXPECT_EQ(files.closes, 1);  // the earlier read's only
  EXPECT_EQ(Read(halden), kEarlier);
}

INSTANTIATE_TEST_SUITE_P(Statuses, OpenFailureTest,
                         ::testing::Values(OpenFailure{plat::ERROR_FILE_NOT_FOUND, plat::kFileNotFound},
                                           OpenFailure{plat::ERROR_PATH_NOT_FOUND, plat::kPathNotFound},
                                           OpenFailure{plat::ERROR_INVALID_DRIVE, plat::kPathNotFound},
                                           OpenFailure{plat::ERROR_BAD_PATHNAME, plat::kPathNotFound},
                                           OpenFailure{plat::ERROR_ACCESS_DENIED, plat::kPathFileAccessError},
                                           OpenFailure{plat::ERROR_SHARING_VIOLATION, plat::kPermissionDenied},
                                           OpenFailure{plat::ERROR_LOCK_VIOLATION, plat::kPermissionDenied},
                                           OpenFailure{plat::ERROR_NOT_ENOUGH_MEMORY, plat::kOutOfMemory},
                                           OpenFailure{plat::ERROR_GEN_FAILURE, plat::kPathFileAccessError}));

TEST(Collect, AFailingReadIsError57AndTheFileIsClosed) {
  testenv::ScriptedFileInput files(kEarlierFile);
  plat::ScopedUse<plat::FileInput> use(files);
  skelvin::cHalden halden;
  ASSERT_EQ(CollectError(halden), 0);
  files.SetContent("[General]\r\nManufacturer=Acme\r\nModel=A B C D\r\n");
  files.chunk = 4;
  files.fail_reads_from = 8;
  EXPECT_EQ(CollectError(halden), plat::kDeviceIOError);
  EXPECT_EQ(files.closes, 2);
  EXPECT_FALSE(files.open());
  EXPECT_EQ(Read(halden), kEarlier);
}

// A close that raises a fault: on the normal path the fault reaches the
// caller; while another fault leaves, that first one does.
TEST(Collect, AFaultingCloseNeverEndsTheProcess) {
  testenv::ScriptedFileInput files("[General]\r\nModel=A B C D\r\n");
  files.close_fault = plat::kDeviceIOError;
  plat::ScopedUse<plat::FileInput> use(files);
  skelvin::cHalden halden;
  EXPECT_EQ(CollectError(halden), plat::kDeviceIOError);
  EXPECT_EQ(files.closes, 1);
  files.SetContent("[General]\r\nNo model here\r\n");
  EXPECT_EQ(CollectError(halden), plat::kInputPastEndOfFile);
  EXPECT_EQ(files.closes, 2);
  EXPECT_FALSE(files.open());
}

TEST(Collect, LinesAfterTheModelLineAreNeverRead) {
  const std::string head = "[General]\r\nModel=A B C D\r";
  testenv::ScriptedFileInput files(head + "\nSupport=1\r\n");
  files.chunk = 1;
  files.fail_reads_from = head.size();  // any read past the model line's CR fails
  plat::ScopedUse<plat::FileInput> use(files);
  skelvin::cHalden halden;
  EXPECT_EQ(CollectError(halden), 0);
  EXPECT_EQ(files.consumed, head.size());
  EXPECT_EQ(Read(halden), (Fields{u"A", u"B", u"D"}));
}

TEST(Collect, AHugeFileWithoutAModelLineIsReadThroughInChunks) {
  // 32 MiB of short lines, generated as they are read.
  constexpr std::uint64_t kSize = 32ULL << 20;
  const std::string pattern = "Key=Value 0123456789\r\n";
  testenv::ScriptedFileInput files;
  files.SetSource([&](std::uint64_t offset, char* out, plat::DWORD max) -> plat::DWORD {
    const auto n = static_cast<plat::DWORD>(std::min<std::uint64_t>(max, kSize - std::min(offset, kSize)));
    for (plat::DWORD i = 0; i < n;) {
      const std::size_t at = static_cast<std::size_t>((offset + i) % pattern.size());
      const std::size_t take = std::min<std::size_t>(pattern.size() - at, n - i);
      pattern.copy(out + i, take, at);
      i += static_cast<plat::DWORD>(take);
    }
    return n;
  });
  plat::ScopedUse<plat::FileInput> use(files);
  skelvin::cHalden halden;
  EXPECT_EQ(CollectError(halden), plat::kInputPastEndOfFile);
  EXPECT_EQ(files.consumed, kSize);
  EXPECT_LE(files.largest_request, plat::TextInput::kChunk);
  EXPECT_EQ(files.closes, 1);
}

#if !defined(_WIN32)

// --- How the native backend maps drive C: onto a prefix. ---------------------

namespace fs = std::filesystem;

class PrefixDriveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(prefix_.path() / "dosdevices");
    fs::create_directories(prefix_.path() / "drive_c");
  }
  void Link(const std::string& target) { fs::create_directory_symlink(target, prefix_.path() / "dosdevices" / "c:"); }
  void Put(const std::string& relative, const std::string& bytes) {
    const fs::path file = prefix_.path() / "drive_c" / relative;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
  }
  std::int32_t Collect(skelvin::cHalden& halden) {
    plat::ScopedUse<plat::FileInput> use(*files_);
    return CollectError(halden);
  }
  Fields CollectFields() {
    skelvin::cHalden halden;
    const std::int32_t error = Collect(halden);
    EXPECT_EQ(error, 0);
    return Read(halden);
  }

  testenv::TempPrefix prefix_;
  std::unique_ptr<plat::FileInput> files_ = testenv::PrefixFilesOn(prefix_.path());
};

TEST_F(PrefixDriveTest, FoldersAndFileOfAnyCaseAreFound) {
  Link("../drive_c");
  Put("WINDOWS/SYSTEM/OEMINFO.INI", "Model=CASE EN x CD\r\n");
  EXPECT_EQ(CollectFields(), (Fields{u"CASE", u"EN", u"CD"}));
}

TEST_F(PrefixDriveTest, AnExactNameWinsOverOneOfAnotherCase) {
  Link("../drive_c");
  Put("windows/system/oeminfo.ini", "Model=LOWER\r\n");
  Put("windows/system/Oeminfo.ini", "Model=EXACT\r\n");
  Put("windows/system/OEMINFO.INI", "Model=UPPER\r\n");
  EXPECT_EQ(CollectFields().model, u"EXACT");
}

TEST_F(PrefixDriveTest, DriveCIsWhereDosdevicesPointsNotDriveCItself) {
  Link("elsewhere");
  fs::create_directories(prefix_.path() / "dosdevices" / "elsewhere" / "Windows" / "System");
  std::ofstream(prefix_.path() / "dosdevices" / "elsewhere" / "Windows" / "System" / "Oeminfo.ini")
      << "Model=LINKED\r\n";
  Put("windows/system/Oeminfo.ini", "Model=NOTLINKED\r\n");
  EXPECT_EQ(CollectFields().model, u"LINKED");
}

struct LayoutCase {
  const char* name;
  const char* link;  // dosdevices/c: target, or nullptr for none
  std::vector<std::string> dirs;
  std::vector<std::string> files;
  std::int32_t error;
};

class PrefixLayoutTest : public PrefixDriveTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(PrefixLayoutTest, OpenFailsWithTheMappedFault) {
  const LayoutCase& c = GetParam();
  if (c.link != nullptr) Link(c.link);
  for (const std::string& dir : c.dirs) fs::create_directories(prefix_.path() / "drive_c" / dir);
  for (const std::string& file : c.files) Put(file, "Model=NOT REACHED\r\n");
  skelvin::cHalden halden;
  EXPECT_EQ(Collect(halden), c.error);
  EXPECT_EQ(Read(halden), (Fields{}));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PrefixLayoutTest,
    ::testing::Values(
        LayoutCase{"NoFile", "../drive_c", {"windows/system"}, {}, plat::kFileNotFound},
        LayoutCase{
            "OtherFileOnly", "../drive_c", {"windows/system"}, {"windows/system/Oeminfo.bak"}, plat::kFileNotFound},
        LayoutCase{"NoSystemFolder", "../drive_c", {"windows"}, {}, plat::kPathNotFound},
        LayoutCase{"NoWindowsFolder", "../drive_c", {}, {}, plat::kPathNotFound},
        LayoutCase{"SystemIsAFile", "../drive_c", {"windows"}, {"windows/system"}, plat::kPathNotFound},
        LayoutCase{"NoDriveC", nullptr, {"windows/system"}, {"windows/system/Oeminfo.ini"}, plat::kPathNotFound},
        LayoutCase{"DriveCDangling",
                   "../no_such_drive",
                   {"windows/system"},
                   {"windows/system/Oeminfo.ini"},
                   plat::kPathNotFound},
        LayoutCase{
            "FolderNamedLikeTheFile", "../drive_c", {"windows/system/Oeminfo.ini"}, {}, plat::kPathFileAccessError}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PrefixDriveTest, AFifoInPlaceOfTheFileIsRefusedWithoutWaiting) {
  Link("../drive_c");
  fs::create_directories(prefix_.path() / "drive_c" / "windows" / "system");
  ASSERT_EQ(::mkfifo((prefix_.path() / "drive_c" / "windows" / "system" / "Oeminfo.ini").c_str(), 0600), 0);
  skelvin::cHalden halden;
  EXPECT_EQ(Collect(halden), plat::kPathFileAccessError);
}

TEST_F(PrefixDriveTest, DotAndDotDotComponentsAreNormalised) {
  Link("../drive_c");
  Put("windows/system/Oeminfo.ini", "x");
  for (const char* path : {"c:/WINDOWS/./Fonts/../system\\\\oeminfo.INI", "C:\\..\\..\\windows\\system\\Oeminfo.ini"}) {
    plat::FileHandle file = 0;
    ASSERT_EQ(files_->OpenForReading(path, &file), plat::ERROR_SUCCESS) << path;
    EXPECT_EQ(files_->CloseHandle(file), plat::ERROR_SUCCESS);
  }
  plat::FileHandle file = 0;
  EXPECT_EQ(files_->OpenForReading("windows\\system\\Oeminfo.ini", &file), plat::ERROR_BAD_PATHNAME);
  EXPECT_EQ(files_->OpenForReading("C:\\windows\\sys*em\\Oeminfo.ini", &file), plat::ERROR_INVALID_NAME);
}

TEST_F(PrefixDriveTest, TheBackendUsesTheDefaultPrefixAtEachOpen) {
  Link("../drive_c");
  Put("windows/system/Oeminfo.ini", "Model=DEFAULT EN x CD\r\n");
  const char* old = std::getenv("WINEPREFIX");
  const std::optional<std::string> saved = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
  ::setenv("WINEPREFIX", (prefix_.path().string() + "/").c_str(), 1);
  skelvin::cHalden halden;
  const std::int32_t error = CollectError(halden);  // nothing installed: the backend
  if (saved) {
    ::setenv("WINEPREFIX", saved->c_str(), 1);
  } else {
    ::unsetenv("WINEPREFIX");
  }
  EXPECT_EQ(error, 0);
  EXPECT_EQ(Read(halden), (Fields{u"DEFAULT", u"EN", u"CD"}));
}

#endif  // !_WIN32

}  // namespace
