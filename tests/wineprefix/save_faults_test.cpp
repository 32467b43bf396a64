// A save with each of its file-system calls failing in turn, in process: the
// failure's status and line, the registry file as it was, nothing left in
// its directory, and a next save that succeeds; and for every k, the k-th
// call failing leaves the old or the new file, never a torn one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/posix/temp_prefix.h"
#include "wineprefix/filesystem.h"
#include "wineprefix/hive_file.h"

namespace {

namespace fs = std::filesystem;
using vocab::LONG;

constexpr char16_t kBranch[] = u"REGISTRY\\Machine";
constexpr char kOld[] =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win32\n\n"
    "[Software\\\\Kept] 1700000000\n\"Old\"=dword:00000001\n";

// The kinds of call a save makes, told apart as the save uses them.
enum class Call {
  kCreateTemp,  // open with O_CREAT
  kRandomName,  // getrandom
  kStat,
  kFchmod,
  kFchown,
  kWrite,
  kFsync,  // of the temporary file
  kFstat,
  kLink,
  kOpenDir,  // open with O_DIRECTORY
  kFsyncDir,
  kRename,
  kClose,
  kUnlink,
  kOpenLeftover,  // open without O_CREAT: a leftover, examined by the sweep
  kLstat,         // of a leftover
  kMark,          // F_OFD_SETLK: the temporary file marked as this run's
  kProbe,         // F_OFD_GETLK: a leftover probed for a live mark
  kOpenListing,   // opendir, by the sweep
  kReadListing,   // readdir
  kCloseListing,  // closedir
  kRealPath,
  kReadLink,
  kCount
};

// The real calls, one of them failing once: the `occurrence`-th of a kind,
// or the k-th call of any kind.
class FaultyFileSystem final : public wineprefix::FileSystem {
 public:
  void FailKind(Call kind, int occurrence, int error) {
    kind_ = kind;
    occurrence_ = occurrence;
    error_ = error;
  }
  void FailCall(int k, int error) {
    call_ = k;
    error_ = error;
  }
  // Until the fault fires, the target is seen as another group's, so that
  // the save gives its file that group.
  void SeeForeignGroup(const fs::path& target) { foreign_ = target; }
  // umask is not the process's but this one, changed as umask changes it.
  void FakeUmask(mode_t mask) { umask_ = mask; }
  std::optional<mode_t> fake_umask() const { return umask_; }

  bool fired() const { return fired_; }
  int calls() const { return calls_; }
  int count(Call kind) const { return counts_[static_cast<int>(kind)]; }

  int Open(const char* path, int flags, mode_t mode) override {
    Call kind = Call::kOpenLeftover;
    if ((flags & O_CREAT) != 0) kind = Call::kCreateTemp;
    if ((flags & O_DIRECTORY) != 0) kind = Call::kOpenDir;
    if (Fails(kind)) return -1;
    const int fd = Real().Open(path, flags, mode);
    if ((flags & O_DIRECTORY) != 0) dir_fd_ = fd;
    return fd;
  }
  int Stat(const char* path, struct stat* out) override {
    if (Fails(Call::kStat)) return -1;
    const int result = Real().Stat(path, out);
    if (result == 0 && !fired_ && foreign_ && *foreign_ == path) out->st_gid = ::getegid() + 1;
    return result;
  }
  int Lstat(const char* path, struct stat* out) override { return Fails(Call::kLstat) ? -1 : Real().Lstat(path, out); }
  int Fstat(int fd, struct stat* out) override { return Fails(Call::kFstat) ? -1 : Real().Fstat(fd, out); }
  int Fchmod(int fd, mode_t mode) override { return Fails(Call::kFchmod) ? -1 : Real().Fchmod(fd, mode); }
  int Fchown(int fd, uid_t uid, gid_t gid) override { return Fails(Call::kFchown) ? -1 : Real().Fchown(fd, uid, gid); }
  int Link(const char* from, const char* to) override { return Fails(Call::kLink) ? -1 : Real().Link(from, to); }
  int Unlink(const char* path) override { return Fails(Call::kUnlink) ? -1 : Real().Unlink(path); }
  ssize_t Write(int fd, const void* data, std::size_t size) override {
    return Fails(Call::kWrite) ? -1 : Real().Write(fd, data, size);
  }
  int Fsync(int fd) override {
    return Fails(fd >= 0 && fd == dir_fd_ ? Call::kFsyncDir : Call::kFsync) ? -1 : Real().Fsync(fd);
  }
  int Rename(const char* from, const char* to) override { return Fails(Call::kRename) ? -1 : Real().Rename(from, to); }
  int Close(int fd) override {
    if (fd == dir_fd_) dir_fd_ = -1;
    return Fails(Call::kClose) ? -1 : Real().Close(fd);
  }
  ssize_t GetRandom(void* buffer, std::size_t size, unsigned int flags) override {
    return Fails(Call::kRandomName) ? -1 : Real().GetRandom(buffer, size, flags);
  }
  int FcntlLock(int fd, int command, struct flock* lock) override {
    return Fails(command == F_OFD_GETLK ? Call::kProbe : Call::kMark) ? -1 : Real().FcntlLock(fd, command, lock);
  }
  DIR* OpenDir(const char* path) override { return Fails(Call::kOpenListing) ? nullptr : Real().OpenDir(path); }
  dirent* ReadDir(DIR* dir) override { return Fails(Call::kReadListing) ? nullptr : Real().ReadDir(dir); }
  int CloseDir(DIR* dir) override {
    const int result = Real().CloseDir(dir);  // the stream is freed either way
    return Fails(Call::kCloseListing) ? -1 : result;
  }
  char* RealPath(const char* path, char* resolved) override {
    return Fails(Call::kRealPath) ? nullptr : Real().RealPath(path, resolved);
  }
  ssize_t ReadLink(const char* path, char* buffer, std::size_t size) override {
    return Fails(Call::kReadLink) ? -1 : Real().ReadLink(path, buffer, size);
  }
  mode_t Umask(mode_t mask) override { return umask_ ? std::exchange(*umask_, mask) : Real().Umask(mask); }

 private:
  static wineprefix::FileSystem& Real() { return wineprefix::PosixFileSystem(); }
  bool Fails(Call kind) {
    ++calls_;
    const int seen = ++counts_[static_cast<int>(kind)];
    if (fired_ || !((kind == kind_ && seen == occurrence_) || calls_ == call_)) return false;
    fired_ = true;
    errno = error_;
    return true;
  }

  Call kind_ = Call::kCount;
  int occurrence_ = 0;
  int call_ = 0;
  int error_ = 0;
  std::optional<fs::path> foreign_;
  std::optional<mode_t> umask_;
  bool fired_ = false;
  int calls_ = 0;
  std::array<int, static_cast<int>(Call::kCount)> counts_{};
  int dir_fd_ = -1;
};

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> Listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The change every save here makes: a new value in an existing key (no time
// stamp moves, so the saved bytes are the same each time).
vocab::Status LoadChangeAndSave(wineprefix::HiveFile& file) {
  winereg::Hive* hive = nullptr;
  if (vocab::Status status = file.Load(&hive, winereg::Arch::kWin32); !status.ok()) return status;
  hive->root.AddSubkey(u"Software", 1700000000)
      .AddSubkey(u"Kept", 1700000000)
      .SetValue(u"New", vocab::REG_DWORD, {2, 0, 0, 0});
  return file.Save();
}

// A directory holding system.reg (or not yet), and the bytes a save of the
// change gives.
class SaveFixture {
 public:
  explicit SaveFixture(bool existing) : existing_(existing) {
    Reset();
    wineprefix::HiveFile file(target(), kBranch);  // the real calls
    const vocab::Status status = LoadChangeAndSave(file);
    EXPECT_TRUE(status.ok()) << status.message;
    saved_ = Read(target());
    EXPECT_NE(saved_, kOld);
    Reset();
  }
  void Reset() const {
    fs::remove(target());
    if (existing_) dir_.Write("system.reg", kOld);
  }
  fs::path target() const { return dir_.file("system.reg"); }
  const fs::path& dir() const { return dir_.path(); }
  const std::string& saved() const { return saved_; }
  // The file as it was before the save.
  void ExpectUnchanged() const {
    if (existing_) {
      EXPECT_EQ(Read(target()), kOld);
    } else {
      EXPECT_FALSE(fs::exists(target()));
    }
  }
  // Nothing beside the registry file: no temporary file, no second name.
  void ExpectNothingElse() const {
    std::vector<std::string> names = Listing(dir());
    std::erase(names, "system.reg");
    EXPECT_EQ(names, std::vector<std::string>{});
  }

 private:
  bool existing_;
  testenv::TempPrefix dir_;
  std::string saved_;
};

enum class Outcome {
  kFails,               // the status and line below; the file unchanged
  kSaves,               // the call is one the save can do without
  kSavesLeavingBackup,  // as kSaves, the old file's second name left for the next save to remove
  kLeavesLeftover,      // as kSaves, the planted leftover still there
};

// A file of the temporary pattern planted before the save, as a killed save
// leaves one (dead) or as a save still running holds one (live: marked).
enum class Leftover { kNone, kDead, kLive };

constexpr char kLeftover[] = ".system.reg.skelvin-Lftovr";

struct Fault {
  const char* name;
  Call call;
  int occurrence;  // of calls of that kind in the save
  int error;
  Outcome outcome;
  LONG status;
  const char* step;  // the step the line names; nullptr: the directory's flush
  Leftover leftover = Leftover::kNone;
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

class SaveFaultTest : public ::testing::TestWithParam<Fault> {
 protected:
  SaveFixture fixture_{true};
  FaultyFileSystem faulty_;
};

TEST_P(SaveFaultTest, FailsWithTheOldFileKeptOrSavesWithoutTheCall) {
  const Fault& f = GetParam();
  faulty_.FailKind(f.call, f.occurrence, f.error);
  if (f.call == Call::kFchown) faulty_.SeeForeignGroup(fixture_.target());
  int live_mark = -1;  // the descriptor that marks a live leftover
  if (f.leftover != Leftover::kNone) {
    std::ofstream(fixture_.dir() / kLeftover) << "left";
    if (f.leftover == Leftover::kLive) {
      live_mark = ::open((fixture_.dir() / kLeftover).c_str(), O_RDWR | O_CLOEXEC);
      struct flock mark = {};
      mark.l_type = F_WRLCK;
      mark.l_whence = SEEK_SET;
      ASSERT_EQ(::fcntl(live_mark, F_OFD_SETLK, &mark), 0) << std::strerror(errno);
    }
  }
  wineprefix::HiveFile file(fixture_.target(), kBranch, faulty_);
  const vocab::Status status = LoadChangeAndSave(file);
  ASSERT_TRUE(faulty_.fired());
  if (f.outcome == Outcome::kFails) {
    const std::string path = fixture_.target().string();
    const std::string cause = std::strerror(f.error);
    EXPECT_EQ(status.code, f.status);
    EXPECT_EQ(status.message, f.step != nullptr ? path + ": cannot save the registry (" + f.step + "): " + cause
                                                : path + ": cannot flush the directory after saving: " + cause);
    fixture_.ExpectUnchanged();
    fixture_.ExpectNothingElse();
  } else {
    EXPECT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(Read(fixture_.target()), fixture_.saved());
    if (f.outcome == Outcome::kSaves) {
      fixture_.ExpectNothingElse();
    } else if (f.outcome == Outcome::kLeavesLeftover) {
      EXPECT_EQ(Listing(fixture_.dir()), (std::vector<std::string>{kLeftover, "system.reg"}));
    } else {
      const std::vector<std::string> names = Listing(fixture_.dir());
      ASSERT_EQ(names.size(), 2U);
      EXPECT_EQ(names[0].rfind(".system.reg.skelvin-", 0), 0U) << names[0];
      EXPECT_EQ(Read(fixture_.dir() / names[0]), kOld);
    }
  }
  if (live_mark >= 0) ::close(live_mark);  // its run is over
  // The next save, with nothing failing, saves the change and cleans up.
  const vocab::Status next = LoadChangeAndSave(file);
  EXPECT_TRUE(next.ok()) << next.message;
  EXPECT_EQ(Read(fixture_.target()), fixture_.saved());
  fixture_.ExpectNothingElse();
}

constexpr LONG kDiskFull = vocab::ERROR_DISK_FULL;
constexpr LONG kWriteFault = vocab::ERROR_WRITE_FAULT;
constexpr LONG kWriteProtect = vocab::ERROR_WRITE_PROTECT;
constexpr LONG kAccessDenied = vocab::ERROR_ACCESS_DENIED;
constexpr Outcome kFails = Outcome::kFails;
constexpr Outcome kSaves = Outcome::kSaves;
constexpr Outcome kLeftBeside = Outcome::kLeavesLeftover;
constexpr Leftover kDead = Leftover::kDead;
constexpr Leftover kLive = Leftover::kLive;

INSTANTIATE_TEST_SUITE_P(
    EveryCall, SaveFaultTest,
    ::testing::Values(Fault{"CreateTemp_ENOSPC", Call::kCreateTemp, 1, ENOSPC, kFails, kDiskFull, "create"},
                      Fault{"CreateTemp_EIO", Call::kCreateTemp, 1, EIO, kFails, kWriteFault, "create"},
                      Fault{"CreateTemp_EROFS", Call::kCreateTemp, 1, EROFS, kFails, kWriteProtect, "create"},
                      Fault{"CreateTemp_EACCES", Call::kCreateTemp, 1, EACCES, kFails, kAccessDenied, "create"},
                      Fault{"CreateTemp_EDQUOT", Call::kCreateTemp, 1, EDQUOT, kFails, kDiskFull, "create"},
                      Fault{"TempName_ENOSYS", Call::kRandomName, 1, ENOSYS, kFails, kWriteFault, "create"},
                      Fault{"TempName_EAGAIN", Call::kRandomName, 1, EAGAIN, kFails, kWriteFault, "create"},
                      // Without a random name for the old file's second name, no way back
                      // is kept; the save goes on.
                      Fault{"BackupName_ENOSYS", Call::kRandomName, 2, ENOSYS, kSaves, 0, nullptr},
                      // A target that cannot be examined is saved as a new file.
                      Fault{"Stat_EIO", Call::kStat, 1, EIO, kSaves, 0, nullptr},
                      Fault{"Stat_EACCES", Call::kStat, 1, EACCES, kSaves, 0, nullptr},
                      Fault{"Fchmod_EPERM", Call::kFchmod, 1, EPERM, kFails, kAccessDenied, "chmod"},
                      Fault{"Fchmod_EROFS", Call::kFchmod, 1, EROFS, kFails, kWriteProtect, "chmod"},
                      Fault{"Fchmod_EIO", Call::kFchmod, 1, EIO, kFails, kWriteFault, "chmod"},
                      Fault{"Fchown_EPERM", Call::kFchown, 1, EPERM, kFails, kAccessDenied, "chown"},
                      Fault{"Fchown_EROFS", Call::kFchown, 1, EROFS, kFails, kWriteProtect, "chown"},
                      Fault{"Fchown_EIO", Call::kFchown, 1, EIO, kFails, kWriteFault, "chown"},
                      Fault{"Write_ENOSPC", Call::kWrite, 1, ENOSPC, kFails, kDiskFull, "write"},
                      Fault{"Write_EDQUOT", Call::kWrite, 1, EDQUOT, kFails, kDiskFull, "write"},
                      Fault{"Write_EIO", Call::kWrite, 1, EIO, kFails, kWriteFault, "write"},
                      Fault{"Write_EROFS", Call::kWrite, 1, EROFS, kFails, kWriteProtect, "write"},
                      Fault{"Write_EINTR", Call::kWrite, 1, EINTR, kSaves, 0, nullptr},  // written again
                      Fault{"Fsync_ENOSPC", Call::kFsync, 1, ENOSPC, kFails, kDiskFull, "flush"},
                      Fault{"Fsync_EIO", Call::kFsync, 1, EIO, kFails, kWriteFault, "flush"},
                      Fault{"Fsync_EROFS", Call::kFsync, 1, EROFS, kFails, kWriteProtect, "flush"},
                      Fault{"Fstat_EIO", Call::kFstat, 1, EIO, kFails, kWriteFault, "stat"},
                      Fault{"Fstat_EACCES", Call::kFstat, 1, EACCES, kFails, kAccessDenied, "stat"},
                      // The old file's second name is a way back, not a need.
                      Fault{"Link_ENOSPC", Call::kLink, 1, ENOSPC, kSaves, 0, nullptr},
                      Fault{"Link_EIO", Call::kLink, 1, EIO, kSaves, 0, nullptr},
                      Fault{"Link_EROFS", Call::kLink, 1, EROFS, kSaves, 0, nullptr},
                      Fault{"Link_EACCES", Call::kLink, 1, EACCES, kSaves, 0, nullptr},
                      Fault{"Link_EEXIST", Call::kLink, 1, EEXIST, kSaves, 0, nullptr},  // another name tried
                      Fault{"Close_EIO", Call::kClose, 1, EIO, kFails, kWriteFault, "close"},
                      Fault{"Close_ENOSPC", Call::kClose, 1, ENOSPC, kFails, kDiskFull, "close"},
                      Fault{"Rename_ENOSPC", Call::kRename, 1, ENOSPC, kFails, kDiskFull, "rename"},
                      Fault{"Rename_EIO", Call::kRename, 1, EIO, kFails, kWriteFault, "rename"},
                      Fault{"Rename_EROFS", Call::kRename, 1, EROFS, kFails, kWriteProtect, "rename"},
                      Fault{"Rename_EACCES", Call::kRename, 1, EACCES, kFails, kAccessDenied, "rename"},
                      // After the rename: the old file is put back from its second name.
                      Fault{"OpenDir_EACCES", Call::kOpenDir, 1, EACCES, kFails, kAccessDenied, nullptr},
                      Fault{"OpenDir_EIO", Call::kOpenDir, 1, EIO, kFails, kWriteFault, nullptr},
                      Fault{"FsyncDir_EIO", Call::kFsyncDir, 1, EIO, kFails, kWriteFault, nullptr},
                      Fault{"FsyncDir_ENOSPC", Call::kFsyncDir, 1, ENOSPC, kFails, kDiskFull, nullptr},
                      Fault{"FsyncDir_EROFS", Call::kFsyncDir, 1, EROFS, kFails, kWriteProtect, nullptr},
                      // The directory's close, once it is flushed, has nothing to report.
                      Fault{"CloseDir_EIO", Call::kClose, 2, EIO, kSaves, 0, nullptr},
                      // Removing the old file's second name is left to the next save.
                      Fault{"UnlinkBackup_EIO", Call::kUnlink, 1, EIO, Outcome::kSavesLeavingBackup, 0, nullptr},
                      Fault{"UnlinkBackup_EROFS", Call::kUnlink, 1, EROFS, Outcome::kSavesLeavingBackup, 0, nullptr},
                      // The save's own (the load resolves first): a target that readlink
                      // shows to be no link is saved.
                      Fault{"RealPath_ENOMEM", Call::kRealPath, 2, ENOMEM, kSaves, 0, nullptr},
                      // The mark is advice: a file system without such locks saves.
                      Fault{"Mark_ENOLCK", Call::kMark, 1, ENOLCK, kSaves, 0, nullptr},
                      Fault{"Mark_EINVAL", Call::kMark, 1, EINVAL, kSaves, 0, nullptr},
                      // The sweep is best effort: a failing call leaves a dead leftover
                      // to the next sweep (the save's, after the load's), never the save
                      // failing.
                      Fault{"OpenListing_EACCES", Call::kOpenListing, 1, EACCES, kSaves, 0, nullptr, kDead},
                      Fault{"ReadListing_EIO", Call::kReadListing, 1, EIO, kSaves, 0, nullptr, kDead},
                      Fault{"CloseListing_EIO", Call::kCloseListing, 1, EIO, kSaves, 0, nullptr, kDead},
                      Fault{"UnlinkLeftover_EROFS", Call::kUnlink, 1, EROFS, kSaves, 0, nullptr, kDead},
                      // A leftover a live run marks is never removed, even when it cannot
                      // be examined.
                      Fault{"Lstat_EIO", Call::kLstat, 1, EIO, kLeftBeside, 0, nullptr, kLive},
                      Fault{"OpenLeftover_EACCES", Call::kOpenLeftover, 1, EACCES, kLeftBeside, 0, nullptr, kLive},
                      Fault{"FstatLeftover_EIO", Call::kFstat, 1, EIO, kLeftBeside, 0, nullptr, kLive},
                      Fault{"Probe_EIO", Call::kProbe, 1, EIO, kLeftBeside, 0, nullptr, kLive},
                      Fault{"Probe_ENOLCK", Call::kProbe, 2, ENOLCK, kLeftBeside, 0, nullptr, kLive}),
    [](const auto& info) { return std::string(info.param.name); });

// A save of an existing file makes every kind of call but fchown (the file is
// its owner's), each as often as the table above takes it to.
TEST(SaveCalls, ASaveMakesTheCallsTheTableFails) {
  SaveFixture fixture(true);
  FaultyFileSystem counting;
  wineprefix::HiveFile file(fixture.target(), kBranch, counting);
  const vocab::Status status = LoadChangeAndSave(file);
  ASSERT_TRUE(status.ok()) << status.message;
  EXPECT_FALSE(counting.fired());
  for (const Call kind : {Call::kCreateTemp, Call::kStat, Call::kFchmod, Call::kWrite, Call::kFsync, Call::kFstat,
                          Call::kLink, Call::kOpenDir, Call::kFsyncDir, Call::kRename, Call::kUnlink}) {
    EXPECT_EQ(counting.count(kind), 1) << static_cast<int>(kind);
  }
  EXPECT_EQ(counting.count(Call::kRandomName), 2);
  EXPECT_EQ(counting.count(Call::kClose), 2);
  EXPECT_EQ(counting.count(Call::kFchown), 0);
}

// A new file gets the mode the umask leaves, read through the save's file
// system, and the umask is as it was after.
TEST(SaveCalls, ANewFileGetsTheModeTheUmaskLeaves) {
  SaveFixture fixture(false);
  FaultyFileSystem counting;
  counting.FakeUmask(027);
  wineprefix::HiveFile file(fixture.target(), kBranch, counting);
  const vocab::Status status = LoadChangeAndSave(file);
  ASSERT_TRUE(status.ok()) << status.message;
  struct stat st = {};
  ASSERT_EQ(::stat(fixture.target().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640U);
  EXPECT_EQ(counting.fake_umask(), mode_t{027});
}

// A dangling link whose target cannot be read: the save fails and leaves the
// link, rather than replace it with a file.
TEST(SaveCalls, ALinkThatCannotBeReadIsLeftAsItIs) {
  testenv::TempPrefix dir;
  const fs::path target = dir.file("system.reg");
  fs::create_symlink("elsewhere.reg", target);
  FaultyFileSystem faulty;
  faulty.FailKind(Call::kReadLink, 1, EIO);
  wineprefix::HiveFile file(target, kBranch, faulty);
  const vocab::Status status = LoadChangeAndSave(file);
  ASSERT_TRUE(faulty.fired());
  EXPECT_EQ(status.code, vocab::ERROR_WRITE_FAULT);
  EXPECT_EQ(status.message, target.string() + ": cannot save the registry (resolve): " + std::strerror(EIO));
  EXPECT_TRUE(fs::is_symlink(target));
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"system.reg"});
  // Readable again, the link gets its target made.
  const vocab::Status next = LoadChangeAndSave(file);
  EXPECT_TRUE(next.ok()) << next.message;
  EXPECT_TRUE(fs::is_symlink(target));
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"elsewhere.reg", "system.reg"}));
}

// The k-th call of a save failing, for every k: the save fails and leaves
// the file as it was with nothing beside it, or succeeds with the new file.
class KthCallTest : public ::testing::TestWithParam<bool> {};

TEST_P(KthCallTest, LeavesTheOldOrTheNewFileNeverATornOne) {
  SaveFixture fixture(GetParam());
  int failed = 0;
  int saved = 0;
  int k = 1;
  for (;; ++k) {
    SCOPED_TRACE("call " + std::to_string(k));
    fixture.Reset();
    FaultyFileSystem faulty;
    faulty.FailCall(k, EIO);
    wineprefix::HiveFile file(fixture.target(), kBranch, faulty);
    const vocab::Status status = LoadChangeAndSave(file);
    if (!faulty.fired()) {
      EXPECT_TRUE(status.ok()) << status.message;
      EXPECT_EQ(faulty.calls(), k - 1);
      break;
    }
    if (status.ok()) {
      ++saved;
      EXPECT_EQ(Read(fixture.target()), fixture.saved());
    } else {
      ++failed;
      EXPECT_EQ(status.code, vocab::ERROR_WRITE_FAULT);
      fixture.ExpectUnchanged();
      fixture.ExpectNothingElse();
    }
    const vocab::Status next = LoadChangeAndSave(file);
    EXPECT_TRUE(next.ok()) << next.message;
    EXPECT_EQ(Read(fixture.target()), fixture.saved());
    fixture.ExpectNothingElse();
    if (::testing::Test::HasFailure() || k > 100) break;
  }
  // The calls reach from the temporary file's creation to the directory's
  // close; some of them the save can do without.
  EXPECT_GE(k - 1, GetParam() ? 15 : 12);
  EXPECT_GT(failed, 0);
  EXPECT_GT(saved, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, KthCallTest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Existing" : "New"); });

}  // namespace
