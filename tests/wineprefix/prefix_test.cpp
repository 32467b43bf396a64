// The prefix as Wine finds it, its architecture, the locks that guard it and
// the checks on its registry files.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "wineprefix/hive_file.h"
#include "wineprefix/lock.h"
#include "wineprefix/prefix.h"
#include "vocab/win32.h"
#include "tests/support/posix/report.h"
#include "tests/support/posix/scoped_env.h"
#include "tests/support/posix/temp_prefix.h"

namespace {

namespace fs = std::filesystem;
using testenv::Report;
using ::testing::HasSubstr;
using vocab::LONG;
using winereg::Arch;

using testenv::ScopedEnv;

std::string PasswdHome() {
  const passwd* entry = ::getpwuid(::getuid());
  return entry != nullptr ? entry->pw_dir : "";
}

struct PrefixCase {
  const char* name;
  std::optional<std::string> wineprefix;
  std::optional<std::string> home;
  std::optional<std::string> expected;  // nullopt: refused
  const char* message;                  // part of the refusal's line
};

class FindPrefixTest : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(FindPrefixTest, FollowsWinesRules) {
  const PrefixCase& c = GetParam();
  const ScopedEnv prefix("WINEPREFIX", c.wineprefix);
  const ScopedEnv home("HOME", c.home);
  fs::path found = "untouched";
  ::testing::internal::CaptureStderr();
  const LONG status = Report(wineprefix::FindPrefix(&found));
  const std::string err = ::testing::internal::GetCapturedStderr();
  if (c.expected) {
    const std::string want = *c.expected == "<passwd>" ? PasswdHome() + "/.wine" : *c.expected;
    EXPECT_EQ(status, vocab::ERROR_SUCCESS) << err;
    EXPECT_EQ(found, want);
    EXPECT_EQ(wineprefix::DefaultPrefix(), want);
    EXPECT_EQ(err, "");
  } else {
    EXPECT_EQ(status, vocab::ERROR_BAD_PATHNAME);
    EXPECT_EQ(found, "untouched");
    EXPECT_EQ(wineprefix::DefaultPrefix(), fs::path());
    EXPECT_THAT(err, HasSubstr(c.message));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FindPrefixTest,
    ::testing::Values(PrefixCase{"Absolute", "/srv/p", "/home/u", "/srv/p", ""},
                      PrefixCase{"TrailingSlashes", "/srv/p///", "/home/u", "/srv/p", ""},
                      PrefixCase{"Root", "/", "/home/u", "/", ""},
                      PrefixCase{"Relative", "p", "/home/u", std::nullopt, "not an absolute path"},
                      PrefixCase{"DotRelative", "./p", "/home/u", std::nullopt, "not an absolute path"},
                      PrefixCase{"SetButEmpty", "", "/home/u", std::nullopt, "not an absolute path"},
                      PrefixCase{"Home", std::nullopt, "/home/u", "/home/u/.wine", ""},
                      PrefixCase{"HomeWithSlash", std::nullopt, "/home/u/", "/home/u/.wine", ""},
                      PrefixCase{"HomeIsRoot", std::nullopt, "/", "/.wine", ""},
                      PrefixCase{"HomeUnset", std::nullopt, std::nullopt, "<passwd>", ""},
                      PrefixCase{"HomeEmpty", std::nullopt, "", std::nullopt, "not an absolute path"},
                      PrefixCase{"HomeRelative", std::nullopt, "home", std::nullopt, "not an absolute path"}),
    [](const auto& info) { return std::string(info.param.name); });

constexpr char kHeader[] =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n";

struct ArchCase {
  const char* name;
  const char* system;    // #arch of system.reg, "" for a file without one, nullptr for none
  const char* user;      // #arch of user.reg, nullptr for none
  const char* userdef;   // #arch of userdef.reg, nullptr for none
  const char* dir;       // a folder under drive_c/windows, or nullptr
  const char* winearch;  // nullptr: unset
  LONG status;
  Arch arch;  // when the status is ERROR_SUCCESS
};

class PrefixArchTest : public ::testing::TestWithParam<ArchCase> {
 protected:
  void Write(const char* file, const char* arch) {
    if (arch == nullptr) return;
    std::string text = kHeader;
    if (*arch != '\0') text += std::string("#arch=") + arch + "\n";
    text += "\n[Software] 1700000000\n#time=1d9f1b4c8e2a000\n";
    prefix_.Write(file, text);
  }
  testenv::TempPrefix prefix_;
};

TEST_P(PrefixArchTest, TakesWhatThePrefixHoldsThenWinearch) {
  const ArchCase& c = GetParam();
  Write("system.reg", c.system);
  Write("user.reg", c.user);
  Write("userdef.reg", c.userdef);
  if (c.dir != nullptr) fs::create_directories(prefix_.path() / "drive_c/windows" / c.dir);
  const ScopedEnv env("WINEARCH", c.winearch != nullptr ? std::optional<std::string>(c.winearch) : std::nullopt);
  Arch arch = Arch::kUnspecified;
  ::testing::internal::CaptureStderr();
  LONG status = Report(wineprefix::PrefixArch(prefix_.path(), &arch));
  if (status == vocab::ERROR_SUCCESS && c.system != nullptr) {
    // The file's own #arch decides; WINEARCH must agree with it.
    const Arch held = std::string(c.system) == "win64" ? Arch::kWin64 : Arch::kWin32;
    status = Report(wineprefix::CheckWineArch(prefix_.path(), held));
    arch = held;
  }
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, c.status) << err;
  if (c.status == vocab::ERROR_SUCCESS) {
    EXPECT_EQ(arch, c.arch);
    EXPECT_EQ(err, "");
  } else {
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
}

constexpr LONG kOk = vocab::ERROR_SUCCESS;
constexpr LONG kBad = vocab::ERROR_BAD_ENVIRONMENT;
constexpr Arch k32 = Arch::kWin32;
constexpr Arch k64 = Arch::kWin64;

INSTANTIATE_TEST_SUITE_P(
    Table, PrefixArchTest,
    ::testing::Values(
        ArchCase{"NewDefault", nullptr, nullptr, nullptr, nullptr, nullptr, kOk, k32},
        ArchCase{"NewWin64", nullptr, nullptr, nullptr, nullptr, "win64", kOk, k64},
        ArchCase{"NewWin32", nullptr, nullptr, nullptr, nullptr, "win32", kOk, k32},
        ArchCase{"InvalidWinearch", nullptr, nullptr, nullptr, nullptr, "x86", kBad, k32},
        ArchCase{"EmptyWinearch", nullptr, nullptr, nullptr, nullptr, "", kBad, k32},
        ArchCase{"UserRegSays64", nullptr, "win64", nullptr, nullptr, nullptr, kOk, k64},
        ArchCase{"UserRegSays64WinearchAgrees", nullptr, "win64", nullptr, nullptr, "win64", kOk, k64},
        ArchCase{"UserRegSays64WinearchDisagrees", nullptr, "win64", nullptr, nullptr, "win32", kBad, k32},
        ArchCase{"UserdefSays32", nullptr, nullptr, "win32", nullptr, "win32", kOk, k32},
        ArchCase{"UserdefSays32WinearchDisagrees", nullptr, nullptr, "win32", nullptr, "win64", kBad, k32},
        ArchCase{"UserFilesDisagree", nullptr, "win64", "win32", nullptr, nullptr, kBad, k32},
        ArchCase{"UserRegWithoutArchThenSyswow64", nullptr, "", nullptr, "syswow64", nullptr, kOk, k64},
        ArchCase{"Syswow64", nullptr, nullptr, nullptr, "syswow64", nullptr, kOk, k64},
        ArchCase{"Syswow64WinearchDisagrees", nullptr, nullptr, nullptr, "syswow64", "win32", kBad, k32},
        ArchCase{"System32Only", nullptr, nullptr, nullptr, "system32", "win64", kBad, k32},
        ArchCase{"System32OnlyDefault", nullptr, nullptr, nullptr, "system32", nullptr, kOk, k32},
        ArchCase{"SystemRegDecides", "win64", "win32", nullptr, nullptr, nullptr, kOk, k64},
        ArchCase{"SystemRegWithoutArchIs32", "", nullptr, nullptr, nullptr, "win32", kOk, k32},
        ArchCase{"SystemRegWinearchDisagrees", "win32", nullptr, nullptr, nullptr, "win64", kBad, k32},
        ArchCase{"SystemReg64WinearchDisagrees", "win64", nullptr, nullptr, nullptr, "win32", kBad, k32}),
    [](const auto& info) { return std::string(info.param.name); });

// Registry files that are not regular files of a sane size are refused at
// once, naming the path, without reading them.
struct HostileFile {
  const char* name;
  void (*make)(const fs::path& file);
};

class HostileFileTest : public ::testing::TestWithParam<HostileFile> {};

TEST_P(HostileFileTest, IsRefusedAtOnce) {
  const testenv::TempPrefix prefix;
  const fs::path file = prefix.path() / "system.reg";
  GetParam().make(file);
  wineprefix::HiveFile hive(file, u"REGISTRY\\Machine");
  winereg::Hive* loaded = nullptr;
  const auto start = std::chrono::steady_clock::now();
  ::testing::internal::CaptureStderr();
  const LONG status = Report(hive.Load(&loaded, Arch::kWin32));
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(status, vocab::ERROR_BADDB);
  EXPECT_EQ(loaded, nullptr);
  EXPECT_THAT(err, HasSubstr(file.string() + ": "));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, HostileFileTest,
    ::testing::Values(HostileFile{"Fifo", [](const fs::path& f) { ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0); }},
                      HostileFile{"LinkToDevZero", [](const fs::path& f) { fs::create_symlink("/dev/zero", f); }},
                      HostileFile{"Directory", [](const fs::path& f) { fs::create_directory(f); }},
                      HostileFile{"SparseTooLarge",
                                  [](const fs::path& f) {
                                    const int fd = ::open(f.c_str(), O_WRONLY | O_CREAT, 0600);
                                    ASSERT_EQ(::ftruncate(fd, wineprefix::HiveFile::kMaxSize + 1), 0);
                                    ::close(fd);
                                  }}),
    [](const auto& info) { return std::string(info.param.name); });

constexpr char kMachine[] =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win32\n\n"
    "[Software\\\\Kept] 1700000000\n#time=1d9f1b4c8e2a000\n\"Old\"=dword:00000001\n";

// A child process that works in `dir` (as wineserver works in its server
// directory), or holds a classic lock on `dir`/lock, until it is killed. The
// directory and its parent are made as wineserver makes them; a lock it
// cannot take ends it, as it ends wineserver.
class FakeServer {
 public:
  FakeServer(const fs::path& dir, bool hold_lock) {
    ::mkdir(dir.parent_path().c_str(), 0700);
    ::mkdir(dir.c_str(), 0700);
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      int error = ::chdir(dir.c_str()) == 0 ? 0 : errno;
      if (hold_lock && error == 0) {
        const int fd = ::open("lock", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_len = 1;
        if (fd < 0 || ::fcntl(fd, F_SETLK, &lock) != 0) error = errno;
      }
      (void)!::write(ready[1], &error, sizeof error);
      if (error != 0) ::_exit(2);
      ::pause();
      ::_exit(0);
    }
    ok_ = ::read(ready[0], &error_, sizeof error_) == sizeof error_ && error_ == 0;
    ::close(ready[0]);
    ::close(ready[1]);
  }
  ~FakeServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;
  bool ok() const { return ok_; }
  int error() const { return error_; }  // errno of the step that failed
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  bool ok_ = false;
  int error_ = -1;
};

std::string ServerDirName(const fs::path& dir) {
  struct stat st = {};
  ::stat(dir.c_str(), &st);
  char name[64];
  std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  return name;
}

class PrefixLockTest : public ::testing::Test {
 protected:
  void SetUp() override { prefix_.Write("system.reg", kMachine); }
  // A server directory under a parent no environment of this run names.
  fs::path ElsewhereFor(const fs::path& dir) const { return elsewhere_.path() / "wine-other" / ServerDirName(dir); }

  testenv::TempPrefix prefix_;
  testenv::TempPrefix elsewhere_;
};

TEST_F(PrefixLockTest, AWineserverWorkingInAnyServerDirectoryIsFound) {
  for (const bool hold_lock : {false, true}) {
    const FakeServer server(ElsewhereFor(prefix_.path()), hold_lock);
    ASSERT_TRUE(server.ok());
    wineprefix::PrefixLock lock;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Report(wineprefix::PrefixLock::Acquire(prefix_.path(), &lock)), vocab::ERROR_BUSY);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(err, HasSubstr("a wineserver (pid " + std::to_string(server.pid()) + ") is running"));
    EXPECT_FALSE(lock.held());
  }
}

TEST_F(PrefixLockTest, AServerOfTheDirectoryASymlinkedFileLivesInIsFound) {
  const testenv::TempPrefix other;
  other.Write("system.reg", kMachine);
  fs::remove(prefix_.file("system.reg"));
  fs::create_symlink(other.file("system.reg"), prefix_.file("system.reg"));
  const FakeServer server(ElsewhereFor(other.path()), false);
  ASSERT_TRUE(server.ok());
  wineprefix::PrefixLock lock;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Report(wineprefix::PrefixLock::Acquire(prefix_.path(), &lock)), vocab::ERROR_BUSY);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(),
              HasSubstr("stop it with `kill -INT " + std::to_string(server.pid()) + "`"));
}

TEST_F(PrefixLockTest, ASaveChecksAgainBeforeItReplacesTheFile) {
  wineprefix::PrefixLock lock;
  ASSERT_EQ(Report(wineprefix::PrefixLock::Acquire(prefix_.path(), &lock)), vocab::ERROR_SUCCESS);
  wineprefix::HiveFile file(prefix_.file("system.reg"), u"REGISTRY\\Machine");
  winereg::Hive* hive = nullptr;
  ASSERT_EQ(Report(file.Load(&hive, Arch::kWin32)), vocab::ERROR_SUCCESS);
  hive->root.AddSubkey(u"New", winereg::CurrentFileTime());
  const FakeServer server(ElsewhereFor(prefix_.path()), false);  // started meanwhile
  ASSERT_TRUE(server.ok());
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Report(file.Save(&lock)), vocab::ERROR_BUSY);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("is running for this prefix"));
  EXPECT_EQ(prefix_.Read("system.reg"), kMachine);
  for (const auto& entry : fs::directory_iterator(prefix_.path())) {
    EXPECT_EQ(entry.path().filename().string().find("skelvin-"), std::string::npos) << entry.path();
  }
}

// Upstream Wine keeps its server directories in /tmp/.wine-<uid> whatever
// TMPDIR says: a wineserver of that layout cannot start while a run holds
// the prefix, and can once the run is done.
TEST_F(PrefixLockTest, NoUpstreamWineserverStartsMeanwhile) {
  const fs::path upstream = fs::path("/tmp/.wine-" + std::to_string(::getuid())) / ServerDirName(prefix_.path());
  {
    wineprefix::PrefixLock lock;
    ASSERT_EQ(Report(wineprefix::PrefixLock::Acquire(prefix_.path(), &lock)), vocab::ERROR_SUCCESS);
    for (const fs::path& dir : {upstream.parent_path(), upstream}) {
      struct stat st = {};
      ASSERT_EQ(::lstat(dir.c_str(), &st), 0) << dir;
      EXPECT_TRUE(S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0) << dir;
    }
    const FakeServer refused(upstream, true);
    EXPECT_FALSE(refused.ok());
    EXPECT_THAT(refused.error(), ::testing::AnyOf(EAGAIN, EACCES));
  }
  const FakeServer started(upstream, true);
  EXPECT_TRUE(started.ok()) << started.error();
}

// Runs with different temporary directories lock the same prefix.
TEST_F(PrefixLockTest, RunsWithDifferentTmpdirExcludeEachOther) {
  const testenv::TempPrefix tmp_a;
  const testenv::TempPrefix tmp_b;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv("TMPDIR", tmp_a.path().c_str(), 1);
    wineprefix::PrefixLock lock;
    const char answer = Report(wineprefix::PrefixLock::Acquire(prefix_.path(), &lock)) == 0 ? 'y' : 'n';
    (void)!::write(ready[1], &answer, 1);
    ::usleep(400 * 1000);
    ::_exit(0);
  }
  char answer = 0;
  ASSERT_EQ(::read(ready[0], &answer, 1), 1);
  ASSERT_EQ(answer, 'y');
  const ScopedEnv tmp("TMPDIR", tmp_b.path().string());
  const auto start = std::chrono::steady_clock::now();
  wineprefix::PrefixLock lock;
  EXPECT_EQ(Report(wineprefix::PrefixLock::Acquire(prefix_.path(), &lock)), vocab::ERROR_SUCCESS);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
}

// A temporary file is removed by a later run only once its owner is gone.
TEST_F(PrefixLockTest, ALeftoverGoesOnlyWithItsOwner) {
  const fs::path orphan = prefix_.path() / ".system.reg.skelvin-Orphan";
  const fs::path owned = prefix_.path() / ".system.reg.skelvin-Owned1";
  const fs::path foreign = prefix_.path() / ".system.reg.skelvin-other-name";
  for (const fs::path& f : {orphan, owned, foreign}) std::ofstream(f) << "partial";
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t owner = ::fork();
  if (owner == 0) {
    const int fd = ::open(owned.c_str(), O_WRONLY);
    struct flock mark = {};
    mark.l_type = F_WRLCK;
    mark.l_whence = SEEK_SET;
    const char answer = fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &mark) == 0 ? 'y' : 'n';
    (void)!::write(ready[1], &answer, 1);
    ::pause();
    ::_exit(0);
  }
  char answer = 0;
  ASSERT_EQ(::read(ready[0], &answer, 1), 1);
  ASSERT_EQ(answer, 'y');
  wineprefix::HiveFile file(prefix_.file("system.reg"), u"REGISTRY\\Machine");
  winereg::Hive* hive = nullptr;
  ASSERT_EQ(Report(file.Load(&hive, Arch::kWin32)), vocab::ERROR_SUCCESS);
  EXPECT_FALSE(fs::exists(orphan));
  EXPECT_TRUE(fs::exists(owned));
  EXPECT_TRUE(fs::exists(foreign));  // not a name a save makes
  ::kill(owner, SIGKILL);
  ::waitpid(owner, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  file.Invalidate();
  ASSERT_EQ(Report(file.Load(&hive, Arch::kWin32)), vocab::ERROR_SUCCESS);
  EXPECT_FALSE(fs::exists(owned));
}

// wineserver writes the header of the branch it loaded a file into, whatever
// the file's second line says; the file's sections are written back as read.
TEST_F(PrefixLockTest, AFileNamingAnotherBranchIsSavedWithItsOwn) {
  const std::string sections = "\n[Software\\\\A] 1700000000\n#time=1da1747c66d0000\n\"V\"=dword:00000001\n";
  for (const char* line : {";; All keys relative to REGISTRY\\\\User\\\\.Default", ";; saved by hand", ""}) {
    prefix_.Write("system.reg", std::string("WINE REGISTRY Version 2\n") + line + "\n\n#arch=win64\n" + sections);
    wineprefix::PrefixLock lock;
    ASSERT_EQ(Report(wineprefix::PrefixLock::Acquire(prefix_.path(), &lock)), vocab::ERROR_SUCCESS);
    wineprefix::HiveFile file(prefix_.file("system.reg"), u"REGISTRY\\Machine");
    winereg::Hive* hive = nullptr;
    ASSERT_EQ(Report(file.Load(&hive, Arch::kWin32)), vocab::ERROR_SUCCESS);
    EXPECT_EQ(hive->branch, u"REGISTRY\\Machine") << line;
    ASSERT_EQ(Report(file.Save(&lock)), vocab::ERROR_SUCCESS);
    EXPECT_EQ(prefix_.Read("system.reg"),
              "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n" + sections)
        << line;
  }
}

TEST_F(PrefixLockTest, NoPrefixDirectoryNeedsNoLock) {
  wineprefix::PrefixLock lock;
  EXPECT_EQ(Report(wineprefix::PrefixLock::Acquire(prefix_.path() / "absent", &lock)), vocab::ERROR_SUCCESS);
  EXPECT_FALSE(lock.held());
}

}  // namespace
