// The registry functions over a prefix: status codes, names, conversions,
// the file on disk, and refusals that protect it.
#include "tests/platform/posix/registry_fixture.h"

namespace {

using namespace posix_registry_test;  // NOLINT: the shared fixture

TEST_F(PrefixRegistryTest, InvalidRootsAndArgumentsGiveWin32Statuses) {
  HKEY key = 0x1234;
  for (const HKEY root : {HKEY{0}, plat::HKEY_CLASSES_ROOT, plat::HKEY_USERS, HKEY{0x7777}}) {
    EXPECT_EQ(reg_.RegCreateKeyExA(root, "A", 0, nullptr, 0, 0x3F, nullptr, &key, nullptr), plat::ERROR_INVALID_HANDLE);
    EXPECT_EQ(key, 0U);
    EXPECT_EQ(reg_.RegOpenKeyExA(root, "A", 0, 1, &key), plat::ERROR_INVALID_HANDLE);
    EXPECT_EQ(reg_.RegDeleteKeyA(root, "A"), plat::ERROR_INVALID_HANDLE);
  }
  EXPECT_EQ(reg_.RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "", 0, 1, &key), plat::ERROR_SUCCESS);
  EXPECT_EQ(key, plat::HKEY_LOCAL_MACHINE);
  key = 0x1234;
  EXPECT_EQ(reg_.RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "Missing\\Key", 0, 1, &key), plat::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, 0U);
  EXPECT_EQ(reg_.RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, "\\Lead", 0, nullptr, 0, 0x3F, nullptr, &key, nullptr),
            plat::ERROR_BAD_PATHNAME);
  const std::string long_path(261, 'a');
  EXPECT_EQ(reg_.RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, long_path.c_str(), 0, 1, &key), plat::ERROR_MORE_DATA);
  EXPECT_EQ(reg_.RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE, nullptr), plat::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg_.RegCloseKey(0), plat::ERROR_INVALID_HANDLE);
  EXPECT_EQ(reg_.RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE, "Missing"), plat::ERROR_FILE_NOT_FOUND);
}

TEST_F(PrefixRegistryTest, NamesAreCaseInsensitiveAndKeepTheirFirstSpelling) {
  const HKEY key = Create("Software\\MixedCase\\Child");
  ASSERT_EQ(SetString(key, "Name", "first"), plat::ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, "NAME", "second"), plat::ERROR_SUCCESS);
  (void)reg_.RegCloseKey(key);
  const HKEY again = Create("SOFTWARE\\mixedcase\\CHILD");
  char name[16];
  DWORD name_size = sizeof name;
  BYTE data[16];
  DWORD data_size = sizeof data;
  DWORD type = 0;
  ASSERT_EQ(reg_.RegEnumValueA(again, 0, name, &name_size, nullptr, &type, data, &data_size), plat::ERROR_SUCCESS);
  EXPECT_STREQ(name, "Name");
  EXPECT_STREQ(reinterpret_cast<char*>(data), "second");
  EXPECT_EQ(reg_.RegEnumValueA(again, 1, name, &name_size, nullptr, &type, data, &data_size),
            plat::ERROR_NO_MORE_ITEMS);
  (void)reg_.RegCloseKey(again);
  EXPECT_THAT(File(), HasSubstr("\n[Software\\\\MixedCase\\\\Child] "));
}

TEST_F(PrefixRegistryTest, StringsAreStoredAsUnicodeFromWindows1252) {
  const HKEY key = Create("Software\\Text");
  ASSERT_EQ(SetString(key, "V", "caf\xE9 \x80"), plat::ERROR_SUCCESS);
  (void)reg_.RegCloseKey(key);
  EXPECT_THAT(File(), HasSubstr("\n\"V\"=\"caf\\xe9 \\x20ac\"\n"));
  EXPECT_EQ(testenv::ReadRaw(reg_, plat::HKEY_LOCAL_MACHINE, "Software\\Text", "V"),
            (RawValue{plat::REG_SZ, {'c', 'a', 'f', 0xE9, ' ', 0x80, 0}}));
}

TEST_F(PrefixRegistryTest, EnumerationEdgesFollowWindows) {
  const HKEY key = Create("Software\\Edges");
  ASSERT_EQ(SetString(key, "abc", "12345"), plat::ERROR_SUCCESS);
  char name[8] = "zzzzzzz";
  BYTE data[8] = {};
  DWORD name_size = 3;  // needs 4: the name and its NUL
  DWORD data_size = sizeof data;
  EXPECT_EQ(reg_.RegEnumValueA(key, 0, name, &name_size, nullptr, nullptr, data, &data_size), plat::ERROR_MORE_DATA);
  EXPECT_STREQ(name, "ab");
  EXPECT_EQ(data_size, 6U);
  name_size = sizeof name;
  data_size = 3;  // data too small: name and data untouched, size required
  std::memset(data, 0x55, sizeof data);
  std::strcpy(name, "keep");
  EXPECT_EQ(reg_.RegEnumValueA(key, 0, name, &name_size, nullptr, nullptr, data, &data_size), plat::ERROR_MORE_DATA);
  EXPECT_STREQ(name, "keep");
  EXPECT_EQ(data[0], 0x55);
  EXPECT_EQ(data_size, 6U);
  EXPECT_EQ(name_size, sizeof name);
  EXPECT_EQ(reg_.RegEnumValueA(key, 0, nullptr, &name_size, nullptr, nullptr, nullptr, nullptr),
            plat::ERROR_INVALID_PARAMETER);

  (void)reg_.RegCloseKey(Create("Software\\Edges\\Sub"));
  char sub[4] = "xyz";
  EXPECT_EQ(reg_.RegEnumKeyA(key, 0, sub, 3), plat::ERROR_MORE_DATA);
  EXPECT_STREQ(sub, "xyz");
  EXPECT_EQ(reg_.RegEnumKeyA(key, 0, sub, 4), plat::ERROR_SUCCESS);
  EXPECT_STREQ(sub, "Sub");
  EXPECT_EQ(reg_.RegEnumKeyA(key, 1, sub, 4), plat::ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(reg_.RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE, "Software\\Edges"), plat::ERROR_ACCESS_DENIED);
  (void)reg_.RegCloseKey(key);
}

TEST_F(PrefixRegistryTest, AHandleToADeletedKeyReportsItDeleted) {
  const HKEY key = Create("Software\\Doomed");
  ASSERT_EQ(reg_.RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE, "Software\\Doomed"), plat::ERROR_SUCCESS);
  EXPECT_EQ(SetDword(key, "V", 1), plat::ERROR_KEY_DELETED);
  EXPECT_EQ(reg_.RegCloseKey(key), plat::ERROR_SUCCESS);
  EXPECT_EQ(reg_.RegCloseKey(key), plat::ERROR_INVALID_HANDLE);
}

TEST_F(PrefixRegistryTest, ANewPrefixGetsADirectoryAndAFileWineAccepts) {
  const testenv::TempPrefix parent;
  plat::posix::PrefixRegistry fresh(parent.path() / "new-prefix");
  HKEY key = 0;
  ASSERT_EQ(
      fresh.RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, "Software\\New", 0, nullptr, 0, 0x3F, nullptr, &key, nullptr),
      plat::ERROR_SUCCESS);
  (void)fresh.RegCloseKey(key);
  std::ifstream in(parent.path() / "new-prefix" / "system.reg");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.rfind(kHeader32, 0), 0U) << text;
  EXPECT_THAT(text, HasSubstr("\n[Software\\\\New] "));
}

TEST_F(PrefixRegistryTest, ReadsOfAMissingPrefixCreateNothing) {
  const testenv::TempPrefix parent;
  plat::posix::PrefixRegistry missing(parent.path() / "absent");
  HKEY key = 0;
  EXPECT_EQ(missing.RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "Software", 0, 1, &key), plat::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(std::filesystem::exists(parent.path() / "absent"));
}

// --- Protecting the file ----------------------------------------------------------

TEST_F(PrefixRegistryTest, AFileThatDoesNotParseIsRefusedAndKeptAsItIs) {
  const std::string corrupt = std::string(kHeader32) + "\n[Software\\\\A] 1700000000\n\"V\"=hex:zz\n";
  prefix_.Write("system.reg", corrupt);
  ::testing::internal::CaptureStderr();
  HKEY key = 0;
  const LONG status =
      reg_.RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, "Software\\B", 0, nullptr, 0, 0x3F, nullptr, &key, nullptr);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, plat::ERROR_BADDB);
  EXPECT_THAT(err, HasSubstr((prefix_.path() / "system.reg").string() + ":7: "));
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
  EXPECT_EQ(File(), corrupt);
}

struct FsFault {
  const char* step;
  int error;
  LONG status;
};

class PersistenceFailure : public PrefixRegistryTest, public ::testing::WithParamInterface<FsFault> {
 protected:
  void SetUp() override {
    const HKEY key = Create("Software\\Kept");
    ASSERT_EQ(SetDword(key, "Old", 1), plat::ERROR_SUCCESS);
    (void)reg_.RegCloseKey(key);
    before_ = File();
    files_.failing = GetParam().step;
    files_.error = GetParam().error;
  }
  void TearDown() override { files_.failing = ""; }

  std::string before_;
};

TEST_P(PersistenceFailure, LeavesTheOldFileAndReportsAFailureStatus) {
  const HKEY key = Create("Software\\Kept");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(SetDword(key, "New", 2), GetParam().status);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, HasSubstr("cannot save"));
  EXPECT_EQ(File(), before_);
  for (const auto& entry : std::filesystem::directory_iterator(prefix_.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".skelvin-tmp"), std::string::npos) << entry.path();
  }
  // The failed change is not kept in memory either.
  TearDown();
  EXPECT_EQ(testenv::ReadRaw(reg_, plat::HKEY_LOCAL_MACHINE, "Software\\Kept", "New"), std::nullopt);
  EXPECT_EQ(SetDword(key, "New", 3), plat::ERROR_SUCCESS);
  (void)reg_.RegCloseKey(key);
}

INSTANTIATE_TEST_SUITE_P(Faults, PersistenceFailure,
                         ::testing::Values(FsFault{"write", ENOSPC, plat::ERROR_DISK_FULL},
                                           FsFault{"write", EIO, plat::ERROR_WRITE_FAULT},
                                           FsFault{"fsync", EIO, plat::ERROR_WRITE_FAULT},
                                           FsFault{"rename", EROFS, plat::ERROR_WRITE_PROTECT}),
                         [](const auto& info) {
                           return std::string(info.param.step) + "_" + std::to_string(info.param.error);
                         });

// A new key is saved with the first change made after it, or when a handle
// closes: a patch-like create, set, close makes one save, not two.
class DeferredCreation : public PrefixRegistryTest {
 protected:
  FaultyFileSystem& counting_ = files_;
  const int& renames_ = counting_.renames;
};

TEST_F(DeferredCreation, TheNextChangeSavesTheNewKeyWithIt) {
  const HKEY key = Create("Software\\Vendor\\Formats");
  EXPECT_EQ(renames_, 0);
  EXPECT_THAT(File(), ::testing::Not(HasSubstr("Vendor")));
  ASSERT_EQ(SetDword(key, "YV12", 0), plat::ERROR_SUCCESS);
  EXPECT_EQ(renames_, 1);
  EXPECT_THAT(File(), HasSubstr("[Software\\\\Vendor\\\\Formats]"));
  EXPECT_THAT(File(), HasSubstr("\"YV12\"=dword:00000000"));
  EXPECT_EQ(reg_.RegCloseKey(key), plat::ERROR_SUCCESS);
  EXPECT_EQ(renames_, 1);
}

TEST_F(DeferredCreation, ClosingAHandleSavesAKeyLeftWithoutChange) {
  const HKEY key = Create("Software\\Bare");
  const HKEY again = Create("Software\\Bare");  // opened, nothing new
  EXPECT_EQ(reg_.RegCloseKey(again), plat::ERROR_SUCCESS);
  EXPECT_EQ(renames_, 1);
  EXPECT_THAT(File(), HasSubstr("[Software\\\\Bare]"));
  EXPECT_EQ(reg_.RegCloseKey(key), plat::ERROR_SUCCESS);
  EXPECT_EQ(renames_, 1);
}

TEST_F(DeferredCreation, AFailedSaveAtCloseIsItsStatusAndDropsTheKey) {
  const HKEY existing = Create("Software\\Kept");
  ASSERT_EQ(reg_.RegCloseKey(existing), plat::ERROR_SUCCESS);
  const std::string before = File();
  const HKEY key = Create("Software\\Lost");
  counting_.failing = "rename";
  counting_.error = EROFS;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(reg_.RegCloseKey(key), plat::ERROR_WRITE_PROTECT);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("cannot save"));
  EXPECT_EQ(File(), before);
  HKEY probe = 0;
  EXPECT_EQ(reg_.RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "Software\\Lost", 0, plat::KEY_QUERY_VALUE, &probe),
            plat::ERROR_FILE_NOT_FOUND);
}

TEST_F(DeferredCreation, TheObjectGoingSavesWhatIsLeft) {
  testenv::TempPrefix other;
  {
    plat::posix::PrefixRegistry reg(other.path());
    HKEY key = 0;
    ASSERT_EQ(reg.RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, "Software\\Leaked", 0, nullptr, 0, plat::KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
              plat::ERROR_SUCCESS);
  }
  EXPECT_THAT(other.Read("system.reg"), HasSubstr("[Software\\\\Leaked]"));
}

// The server directories a wineserver for `prefix` would work in: Debian's
// for this environment, and upstream Wine's.
std::vector<std::filesystem::path> ServerDirs(const std::filesystem::path& prefix) {
  struct stat st = {};
  ::stat(prefix.c_str(), &st);
  char dir[64];
  std::snprintf(dir, sizeof dir, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  const std::filesystem::path upstream = std::filesystem::path("/tmp/.wine-" + std::to_string(::getuid())) / dir;
  const std::string run = "/run/user/" + std::to_string(::getuid());
  if (std::filesystem::is_directory(run)) return {std::filesystem::path(run) / "wine" / dir, upstream};
  std::ifstream pointer(prefix / "wineserver");
  std::string name;
  std::getline(pointer, name);
  const char* tmp = std::getenv("TMPDIR");
  return {std::filesystem::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") / name / dir, upstream};
}

TEST_F(PrefixRegistryTest, ARunningWineserverIsRefusedWithTheWayOut) {
  const HKEY key = Create("Software\\Guarded");
  (void)reg_.RegCloseKey(key);
  for (const std::filesystem::path& dir : ServerDirs(prefix_.path())) {
    const std::string before = File();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t server = ::fork();
    if (server == 0) {
      // Stands in for wineserver: its directories made private, a classic
      // write lock on byte 0 of `lock`, from within the server directory.
      ::mkdir(dir.parent_path().c_str(), 0700);
      ::mkdir(dir.c_str(), 0700);
      const int fd = ::chdir(dir.c_str()) == 0 ? ::open("lock", O_WRONLY | O_CREAT | O_TRUNC, 0600) : -1;
      struct flock lock = {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      lock.l_len = 1;
      const char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0) ? 'y' : 'n';
      (void)!::write(ready[1], &ok, 1);
      ::pause();
      ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y') << dir;
    ::testing::internal::CaptureStderr();
    const LONG status = testenv::KeyPresent(reg_, plat::HKEY_LOCAL_MACHINE, "Software\\Guarded") ? 0 : 1;
    HKEY other = 0;
    const LONG create = reg_.RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, "Software\\Other", 0, nullptr, 0, 0x3F, nullptr,
                                             &other, nullptr);
    const std::string err = ::testing::internal::GetCapturedStderr();
    ::kill(server, SIGKILL);
    ::waitpid(server, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(status, 1) << dir;
    EXPECT_EQ(create, plat::ERROR_BUSY) << dir;
    EXPECT_THAT(err, HasSubstr("a wineserver (pid " + std::to_string(server) + ") is running for this prefix")) << dir;
    EXPECT_THAT(err, HasSubstr("stop it with `kill -INT " + std::to_string(server) + "`")) << dir;
    EXPECT_EQ(File(), before) << dir;
    // Once the server is gone the prefix is usable again.
    EXPECT_TRUE(testenv::KeyPresent(reg_, plat::HKEY_LOCAL_MACHINE, "Software\\Guarded")) << dir;
  }
}

TEST_F(PrefixRegistryTest, ConcurrentWritersLoseNoUpdate) {
  constexpr int kWriters = 8;
  constexpr int kRounds = 10;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t child = ::fork();
    if (child == 0) {
      plat::posix::PrefixRegistry mine(prefix_.path());
      HKEY key = 0;
      int failures = 0;
      for (int round = 0; round < kRounds; ++round) {
        failures += mine.RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, "Software\\Shared", 0, nullptr, 0, 0x3F, nullptr,
                                         &key, nullptr) != 0;
        const DWORD value = static_cast<DWORD>(round);
        const std::string name = "W" + std::to_string(w) + "R" + std::to_string(round);
        failures +=
            mine.RegSetValueExA(key, name.c_str(), 0, plat::REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4) != 0;
        (void)mine.RegCloseKey(key);
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  plat::posix::PrefixRegistry reader(prefix_.path());
  for (int w = 0; w < kWriters; ++w) {
    for (int round = 0; round < kRounds; ++round) {
      const std::string name = "W" + std::to_string(w) + "R" + std::to_string(round);
      EXPECT_EQ(testenv::ReadRaw(reader, plat::HKEY_LOCAL_MACHINE, "Software\\Shared", name),
                (RawValue{plat::REG_DWORD, {static_cast<BYTE>(round), 0, 0, 0}}))
          << name;
    }
  }
}

TEST(PrefixOwnership, APrefixOfAnotherUserIsRefused) {
  const testenv::TempPrefix prefix;
  std::filesystem::path foreign = "/usr";  // root's, when the test is not root
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(prefix.path().c_str(), 4242, 4242), 0);
    foreign = prefix.path();
  }
  plat::posix::PrefixRegistry reg(foreign);
  ::testing::internal::CaptureStderr();
  HKEY key = 0;
  EXPECT_EQ(reg.RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "Software", 0, 1, &key), plat::ERROR_ACCESS_DENIED);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("is not owned by you"));
}

}  // namespace
