// The Windows backend's file input: statuses of failed opens, reads to the
// end, and the text lines read through it.
#include <gtest/gtest.h>

#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/utf8.h"
#include "platform/textfile.h"

namespace {

class FileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* temp = std::getenv("TEMP");
    ASSERT_NE(temp, nullptr);
    static int counter = 0;
    dir_ = temp;
    path_ = dir_ + "\\skelvin-file-" + std::to_string(_getpid()) + "-" + std::to_string(counter++) + ".txt";
  }
  void TearDown() override { std::remove(path_.c_str()); }

  void Write(const std::string& bytes) {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
  }

  plat::FileInput& api() { return plat::Backend<plat::FileInput>(); }

  std::string dir_;
  std::string path_;
};

struct OpenFailure {
  const char* name;
  const char* path;  // below the temporary folder, or absolute when it starts with a drive
  plat::LONG status;
};

class FileInputOpenTest : public FileInputTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(FileInputOpenTest, FailsWithTheSystemStatusAndNoHandle) {
  const std::string path = std::string(GetParam().path).find(':') == 1 ? GetParam().path : dir_ + GetParam().path;
  plat::FileHandle handle = 77;
  EXPECT_EQ(api().OpenForReading(path.c_str(), &handle), GetParam().status);
  EXPECT_EQ(handle, 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, FileInputOpenTest,
    ::testing::Values(OpenFailure{"MissingFile", "\\no-such-file.ini", plat::ERROR_FILE_NOT_FOUND},
                      OpenFailure{"MissingFolder", "\\no-such-folder\\Oeminfo.ini", plat::ERROR_PATH_NOT_FOUND},
                      OpenFailure{"Folder", "", plat::ERROR_ACCESS_DENIED},
                      OpenFailure{"Device", "C:\\windows\\NUL", plat::ERROR_ACCESS_DENIED}),
    [](const ::testing::TestParamInfo<OpenFailure>& info) { return std::string(info.param.name); });

TEST_F(FileInputTest, ReadsEveryByteThenZeroAtTheEnd) {
  Write("Model=A B C D\r\n");
  plat::FileHandle handle = 0;
  ASSERT_EQ(api().OpenForReading(path_.c_str(), &handle), plat::ERROR_SUCCESS);
  ASSERT_NE(handle, 0U);
  char buffer[64] = {};
  plat::DWORD got = 0;
  ASSERT_EQ(api().ReadFile(handle, buffer, 4, &got), plat::ERROR_SUCCESS);
  EXPECT_EQ(got, 4U);
  EXPECT_EQ(std::string(buffer, got), "Mode");
  ASSERT_EQ(api().ReadFile(handle, buffer, sizeof buffer, &got), plat::ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer, got), "l=A B C D\r\n");
  ASSERT_EQ(api().ReadFile(handle, buffer, sizeof buffer, &got), plat::ERROR_SUCCESS);
  EXPECT_EQ(got, 0U);
  EXPECT_EQ(api().CloseHandle(handle), plat::ERROR_SUCCESS);
}

TEST_F(FileInputTest, TextLinesEndAtCrOrCrLfInTheAnsiCodePage) {
  Write("Model=Caf\xe9 1\r\nsecond\rthird\nstill third");
  plat::TextInput input(plat::FromUtf8(path_));
  EXPECT_EQ(input.LineInput(), u"Model=Caf\u00e9 1");
  EXPECT_EQ(input.LineInput(), u"second");
  EXPECT_EQ(input.LineInput(), u"third\nstill third");
  EXPECT_THROW(input.LineInput(), plat::Error);
}

}  // namespace
