// The POSIX shell facility: file lookup through a prefix's drive mapping, and
// the detached start of a Windows program with `wine` from PATH (here a
// script of the test's own that records how it was started).
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "platform/error.h"
#include "platform/shell.h"
#include "tests/support/posix/scoped_env.h"
#include "tests/support/posix/temp_prefix.h"

namespace {
namespace fs = std::filesystem;

using testenv::ScopedEnv;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WaitFor(const fs::path& path, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (fs::exists(path) && ReadFile(path).find("end\n") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

class PrefixShellTest : public ::testing::Test {
 protected:
  PrefixShellTest() : use_prefix("WINEPREFIX", prefix.path().string()) {
    fs::create_directories(prefix.path() / "drive_c" / "Program Files" / "Common Files" / "MSInfo");
    fs::create_directories(prefix.path() / "dosdevices");
    fs::create_symlink("../drive_c", prefix.path() / "dosdevices" / "c:");
    Touch("drive_c/Program Files/Common Files/MSInfo/msinfo32.exe");
    Touch("drive_c/tool.exe");
    fs::create_directories(prefix.path() / "drive_c" / "Folder.exe");
    fs::create_directories(bin);
  }
  ~PrefixShellTest() override {
    fs::remove_all(bin);
    fs::remove(record);
  }

  void Touch(const std::string& relative) { std::ofstream(prefix.path() / relative) << "MZ"; }

  // A `wine` that writes its arguments, prefix, session and standard
  // streams to `record`.
  void FakeWine() {
    const fs::path script = bin / "wine";
    std::ofstream(script) << "#!/bin/sh\n"
                          << "in=$(readlink /proc/$$/fd/0)\n"
                          << "out=$(readlink /proc/$$/fd/1)\n"
                          << "err=$(readlink /proc/$$/fd/2)\n"
                          << "{\n"
                          << "  for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done\n"
                          << "  printf 'prefix=%s\\n' \"$WINEPREFIX\"\n"
                          << "  echo \"pid=$$\"\n"
                          << "  echo \"sid=$(ps -o sid= -p $$ | tr -d ' ')\"\n"
                          << "  echo \"stdin=$in\"\n"
                          << "  echo \"stdout=$out\"\n"
                          << "  echo \"stderr=$err\"\n"
                          << "  echo end\n"
                          << "} > '" << record.string() << ".tmp'\n"
                          << "mv '" << record.string() << ".tmp' '" << record.string() << "'\n";
    fs::permissions(script, fs::perms::owner_all);
  }

  testenv::TempPrefix prefix;
  ScopedEnv use_prefix;
  fs::path bin = prefix.path().string() + "-bin";
  fs::path record = prefix.path().string() + "-record";
  plat::Shell& shell = plat::Backend<plat::Shell>();
};

TEST_F(PrefixShellTest, FindsFilesThroughTheDriveMappingWithoutRegardToCase) {
  std::string found = "stale";
  EXPECT_EQ(shell.FindFile("C:\\Program Files\\Common Files\\MSInfo\\MSINFO32.EXE", plat::ATTR_NORMAL, &found),
            plat::ERROR_SUCCESS);
  EXPECT_EQ(found, "msinfo32.exe");
  EXPECT_EQ(plat::Dir(u"c:\\PROGRAM FILES\\common files\\msinfo\\MsInfo32.exe"), u"msinfo32.exe");
}

TEST_F(PrefixShellTest, MissingFilesFoldersAndDrives) {
  std::string found = "stale";
  EXPECT_EQ(shell.FindFile("C:\\Program Files\\nothing.exe", plat::ATTR_NORMAL, &found), plat::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(found, "");
  EXPECT_EQ(shell.FindFile("C:\\No Folder\\x.exe", plat::ATTR_NORMAL, &found), plat::ERROR_PATH_NOT_FOUND);
  EXPECT_NE(shell.FindFile("Q:\\x.exe", plat::ATTR_NORMAL, &found), plat::ERROR_SUCCESS);
  // A folder is no normal file.
  EXPECT_EQ(shell.FindFile("C:\\Folder.exe", plat::ATTR_NORMAL, &found), plat::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(plat::Dir(u"C:\\Folder.exe"), u"");
  EXPECT_EQ(plat::Dir(u"\\MSINFO32.EXE"), u"");
}

TEST_F(PrefixShellTest, WithoutWineNothingStarts) {
  ScopedEnv path("PATH", bin.string());
  plat::DWORD id = 99;
  EXPECT_EQ(shell.StartProcess("C:\\tool.exe", plat::SW_SHOWNORMAL, &id), plat::ERROR_NOT_SUPPORTED);
  EXPECT_EQ(id, 0U);
  try {
    plat::StartProgram(u"C:\\tool.exe", plat::SW_SHOWNORMAL);
    FAIL() << "started";
  } catch (const plat::Error& error) {
    EXPECT_EQ(error.Number(), plat::kInvalidArgument);
  }
}

TEST_F(PrefixShellTest, StartsWithWineDetachedInThePrefix) {
  FakeWine();
  ScopedEnv path("PATH", bin.string() + ":/usr/bin:/bin");
  plat::DWORD id = 0;
  // An unquoted path with blanks names the program as a whole.
  ASSERT_EQ(shell.StartProcess("C:\\Program Files\\Common Files\\MSInfo\\msinfo32.exe", plat::SW_SHOWNORMAL, &id),
            plat::ERROR_SUCCESS);
  EXPECT_NE(id, 0U);
  ASSERT_TRUE(WaitFor(record, std::chrono::seconds(20)));
  const std::string text = ReadFile(record);
  EXPECT_NE(text.find("arg=C:\\Program Files\\Common Files\\MSInfo\\msinfo32.exe\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("arg=", text.find("arg=") + 1), std::string::npos) << "one argument only: " << text;
  EXPECT_NE(text.find("prefix=" + prefix.path().string() + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("pid=" + std::to_string(id) + "\n"), std::string::npos) << text;
  // A session of its own (led by the parent that ended at once), apart
  // from this process's session.
  const std::size_t sid_at = text.find("sid=");
  ASSERT_NE(sid_at, std::string::npos);
  const long sid = std::stol(text.substr(sid_at + 4));
  EXPECT_NE(sid, static_cast<long>(::getsid(0))) << text;
  EXPECT_NE(sid, 0) << text;
  EXPECT_NE(text.find("stdin=/dev/null\n"), std::string::npos) << text;
  EXPECT_NE(text.find("stdout=/dev/null\n"), std::string::npos) << text;
  EXPECT_NE(text.find("stderr=/dev/null\n"), std::string::npos) << text;
}

TEST_F(PrefixShellTest, ArgumentsAfterTheProgram) {
  FakeWine();
  ScopedEnv path("PATH", bin.string() + ":/usr/bin:/bin");
  plat::DWORD id = 0;
  ASSERT_EQ(shell.StartProcess("C:\\tool /a \"b c\"", plat::SW_SHOWNORMAL, &id), plat::ERROR_SUCCESS);
  ASSERT_TRUE(WaitFor(record, std::chrono::seconds(20)));
  const std::string text = ReadFile(record);
  EXPECT_NE(text.find("arg=C:\\tool\narg=/a\narg=b c\n"), std::string::npos) << text;
}

TEST_F(PrefixShellTest, MissingDriveProgramIsNotStarted) {
  FakeWine();
  ScopedEnv path("PATH", bin.string() + ":/usr/bin:/bin");
  plat::DWORD id = 7;
  EXPECT_EQ(shell.StartProcess("C:\\Missing\\msinfo32.exe", plat::SW_SHOWNORMAL, &id), plat::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(id, 0U);
  EXPECT_EQ(shell.StartProcess("", plat::SW_SHOWNORMAL, &id), plat::ERROR_FILE_NOT_FOUND);
  try {
    plat::StartProgram(u"C:\\Missing\\msinfo32.exe", plat::SW_SHOWNORMAL);
    FAIL() << "started";
  } catch (const plat::Error& error) {
    EXPECT_EQ(error.Number(), plat::kFileNotFound);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(record));
}

// A command whose program has no drive: looked for as Windows looks for it,
// and started by the path found, so that what was found is what runs.
struct SearchCase {
  const char* name;
  const char* command;
  // wine's arguments, one per line; {cwd} and {self} stand for the current
  // folder and the test program's folder. Empty: nothing may start.
  const char* started;
};

void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.command; }

class PlainNameSearch : public PrefixShellTest, public ::testing::WithParamInterface<SearchCase> {
 protected:
  static constexpr char kBeside[] = "skelvin_shell_beside.exe";

  PlainNameSearch() {
    for (const char* folder : {"drive_c/windows/system32", "drive_c/windows/system", "drive_c/Program Files"}) {
      fs::create_directories(prefix.path() / folder);
    }
    Touch("drive_c/windows/system32/Found32.exe");
    Touch("drive_c/windows/system32/both.exe");
    Touch("drive_c/windows/system32/noext");
    Touch("drive_c/windows/system/old16.exe");
    Touch("drive_c/windows/system/both16.exe");
    Touch("drive_c/windows/both16.exe");
    Touch("drive_c/windows/WinRoot.exe");
    Touch("drive_c/Program Files/elsewhere.exe");
    fs::create_directories(prefix.path() / "drive_c/windows/system32/folder.exe");
    cwd_ = prefix.path().string() + "-cwd";
    fs::create_directories(cwd_ / "Sub");
    std::ofstream(cwd_ / "Here.EXE") << "MZ";
    std::ofstream(cwd_ / "both.exe") << "MZ";
    std::ofstream(cwd_ / "Sub" / "tool.exe") << "MZ";
    self_ = fs::read_symlink("/proc/self/exe").parent_path();
    std::ofstream(self_ / kBeside) << "MZ";
    std::ofstream(cwd_ / kBeside) << "MZ";
    old_cwd_ = fs::current_path();
    fs::current_path(cwd_);
  }
  ~PlainNameSearch() override {
    fs::current_path(old_cwd_);
    fs::remove(self_ / kBeside);
    fs::remove_all(cwd_);
  }

  std::string Expand(std::string text) const {
    for (const auto& [mark, value] : {std::pair<std::string, std::string>{"{cwd}", cwd_.string()},
                                      std::pair<std::string, std::string>{"{self}", self_.string()}}) {
      for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark)) {
        text.replace(at, mark.size(), value);
      }
    }
    return text;
  }

  fs::path cwd_;
  fs::path self_;
  fs::path old_cwd_;
};

TEST_P(PlainNameSearch, StartsWhatWindowsWouldFindOrNothing) {
  FakeWine();
  ScopedEnv path("PATH", bin.string() + ":/usr/bin:/bin");
  plat::DWORD id = 7;
  const std::string started = GetParam().started;
  const plat::LONG status = shell.StartProcess(GetParam().command, plat::SW_SHOWNORMAL, &id);
  if (started.empty()) {
    EXPECT_EQ(status, plat::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(id, 0U);
    try {
      plat::StartProgram(plat::FromAnsi(GetParam().command), plat::SW_SHOWNORMAL);
      ADD_FAILURE() << "started";
    } catch (const plat::Error& error) {
      EXPECT_EQ(error.Number(), plat::kFileNotFound);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fs::exists(record));
    return;
  }
  ASSERT_EQ(status, plat::ERROR_SUCCESS);
  ASSERT_TRUE(WaitFor(record, std::chrono::seconds(20)));
  const std::string text = ReadFile(record);
  const std::size_t first = text.find("arg=");
  const std::size_t after = text.find("prefix=");
  ASSERT_NE(first, std::string::npos) << text;
  ASSERT_NE(after, std::string::npos) << text;
  EXPECT_EQ(text.substr(first, after - first), Expand(started));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, PlainNameSearch,
    ::testing::Values(
        SearchCase{"System32", "found32.exe", "arg=C:\\windows\\system32\\Found32.exe\n"},
        SearchCase{"ExeAppended", "FOUND32", "arg=C:\\windows\\system32\\Found32.exe\n"},
        SearchCase{"NoExtensionFile", "noext", "arg=C:\\windows\\system32\\noext\n"},
        SearchCase{"SystemAfterSystem32", "old16.exe", "arg=C:\\windows\\system\\old16.exe\n"},
        SearchCase{"SystemBeforeWindows", "both16.exe", "arg=C:\\windows\\system\\both16.exe\n"},
        SearchCase{"Windows", "winroot", "arg=C:\\windows\\WinRoot.exe\n"},
        SearchCase{"CurrentFolder", "here.exe", "arg={cwd}/Here.EXE\n"},
        SearchCase{"CurrentFolderBeforeSystem", "both.exe", "arg={cwd}/both.exe\n"},
        SearchCase{"ProgramFolderFirst", "skelvin_shell_beside.exe", "arg={self}/skelvin_shell_beside.exe\n"},
        SearchCase{"RelativeToCurrentFolder", "sub\\TOOL", "arg={cwd}/Sub/tool.exe\n"},
        SearchCase{"WithArguments", "found32 /a \"b c\"", "arg=C:\\windows\\system32\\Found32.exe\narg=/a\narg=b c\n"},
        SearchCase{"Quoted", "\"found32.exe\" x", "arg=C:\\windows\\system32\\Found32.exe\narg=x\n"},
        SearchCase{"Missing", "missing.exe", ""}, SearchCase{"MissingWithoutExtension", "missing", ""},
        SearchCase{"MissingQuoted", "\"missing.exe\" /a", ""}, SearchCase{"OnlyInAnotherFolder", "elsewhere.exe", ""},
        SearchCase{"AFolder", "folder.exe", ""}, SearchCase{"MissingRelative", "Sub\\none.exe", ""},
        SearchCase{"Wildcard", "found*.exe", ""}),
    [](const ::testing::TestParamInfo<SearchCase>& info) { return info.param.name; });

}  // namespace
