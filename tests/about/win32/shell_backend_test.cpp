// The Windows shell facility under Wine or Windows: FindFirstFileA lookups of
// normal files, and starts that fail.
#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/shell.h"
#include "tests/support/win32/testing.h"

#include <string>

namespace {

namespace files = plat::win32::testing;
constexpr plat::DWORD kAttributeNormal = 0x80;  // FILE_ATTRIBUTE_NORMAL

class Win32ShellTest : public ::testing::Test {
 protected:
  Win32ShellTest() {
    dir = files::TempPath() + "skelvin-shell-" + std::to_string(files::ProcessId());
    files::MakeFolder(dir);
    Touch("MsInfo32.exe", kAttributeNormal);
    Touch("hidden.exe", plat::ATTR_HIDDEN);
    Touch("readonly.exe", plat::ATTR_READONLY);
    files::MakeFolder(dir + "\\folder.exe");
  }
  ~Win32ShellTest() override {
    for (const char* name : {"MsInfo32.exe", "hidden.exe", "readonly.exe"}) files::RemoveFile(dir + "\\" + name);
    files::RemoveFolder(dir + "\\folder.exe");
    files::RemoveFolder(dir);
  }
  void Touch(const std::string& name, plat::DWORD attributes) {
    ASSERT_TRUE(files::MakeFile(dir + "\\" + name, attributes)) << name;
  }

  std::string dir;
  plat::Shell& shell = plat::Backend<plat::Shell>();
};

TEST_F(Win32ShellTest, NormalFilesAreFoundByAnyCase) {
  std::string found;
  EXPECT_EQ(shell.FindFile((dir + "\\MSINFO32.EXE").c_str(), plat::ATTR_NORMAL, &found), 0);
  EXPECT_EQ(found, "MsInfo32.exe");
  EXPECT_EQ(plat::Dir(std::u16string(dir.begin(), dir.end()) + u"\\readonly.exe"), u"readonly.exe");
}

TEST_F(Win32ShellTest, HiddenFilesFoldersAndMissingNames) {
  std::string found = "stale";
  EXPECT_EQ(shell.FindFile((dir + "\\hidden.exe").c_str(), plat::ATTR_NORMAL, &found), 2);
  EXPECT_EQ(found, "");
  EXPECT_EQ(shell.FindFile((dir + "\\folder.exe").c_str(), plat::ATTR_NORMAL, &found), 2);
  EXPECT_EQ(shell.FindFile((dir + "\\none.exe").c_str(), plat::ATTR_NORMAL, &found), 2);
  EXPECT_EQ(shell.FindFile((dir + "\\no folder\\x.exe").c_str(), plat::ATTR_NORMAL, &found), 3);
  // Asked for, hidden files are accepted too.
  EXPECT_EQ(shell.FindFile((dir + "\\hidden.exe").c_str(), plat::ATTR_HIDDEN, &found), 0);
  EXPECT_EQ(found, "hidden.exe");
}

TEST_F(Win32ShellTest, MissingProgramIsFault53) {
  plat::DWORD id = 5;
  EXPECT_EQ(shell.StartProcess((dir + "\\none.exe").c_str(), 1, &id), 2);
  EXPECT_EQ(id, 0U);
  try {
    plat::StartProgram(std::u16string(dir.begin(), dir.end()) + u"\\none.exe", 1);
    FAIL() << "started";
  } catch (const plat::Error& error) {
    EXPECT_EQ(error.Number(), plat::kFileNotFound);
  }
}

TEST_F(Win32ShellTest, EmptyCommandIsFault5) {
  try {
    plat::StartProgram(u"", 1);
    FAIL() << "started";
  } catch (const plat::Error& error) {
    EXPECT_EQ(error.Number(), plat::kInvalidArgument);
  }
}

}  // namespace
