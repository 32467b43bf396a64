// The registry functions over a prefix: status codes, names, conversions,
// the 32-bit view, the file on disk, and refusals that protect it.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/posix/registry.h"
#include "tests/support/posix/forwarding_files.h"
#include "tests/support/posix/temp_prefix.h"
#include "tests/support/scripted.h"
#include "wineprefix/filesystem.h"
#include "winereg/model.h"
#include "winereg/reader.h"

namespace {

using plat::BYTE;
using plat::DWORD;
using plat::HKEY;
using plat::LONG;
using plat::REGSAM;
using testenv::RawValue;
using ::testing::HasSubstr;

constexpr char kHeader32[] = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win32\n";
constexpr char kHeader64[] = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";

// The real file-system calls of a save, those of the kind named `failing`
// failing with `error`; renames that go through are counted.
class FaultyFileSystem final : public testenv::ForwardingFileSystem {
 public:
  const char* failing = "";
  int error = 0;
  int renames = 0;

  ssize_t Write(int fd, const void* data, size_t size) override {
    return Fails("write") ? -1 : ForwardingFileSystem::Write(fd, data, size);
  }
  int Fsync(int fd) override { return Fails("fsync") ? -1 : ForwardingFileSystem::Fsync(fd); }
  int Rename(const char* from, const char* to) override {
    if (Fails("rename")) return -1;
    ++renames;
    return ForwardingFileSystem::Rename(from, to);
  }

 private:
  bool Fails(const char* step) const {
    if (std::strcmp(step, failing) != 0) return false;
    errno = error;
    return true;
  }
};

class PrefixRegistryTest : public ::testing::Test {
 protected:
  HKEY Create(const std::string& path, REGSAM sam = plat::KEY_ALL_ACCESS, LONG expected = plat::ERROR_SUCCESS) {
    HKEY key = 0;
    EXPECT_EQ(reg_.RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, sam, nullptr, &key, nullptr),
              expected)
        << path;
    return key;
  }
  LONG SetString(HKEY key, const std::string& name, const std::string& text) {
    return reg_.RegSetValueExA(key, name.c_str(), 0, plat::REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>(text.size() + 1));
  }
  LONG SetDword(HKEY key, const std::string& name, DWORD value) {
    return reg_.RegSetValueExA(key, name.c_str(), 0, plat::REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  }
  std::string File() const { return prefix_.Read("system.reg"); }

  testenv::TempPrefix prefix_;
  // The registry's saves go through it: the real calls until a test sets a
  // kind of call failing.
  FaultyFileSystem files_;
  plat::posix::PrefixRegistry reg_{prefix_.path(), files_};
};

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

// --- The 32-bit view of a 64-bit prefix ---------------------------------------

class Wow64Test : public PrefixRegistryTest {
 protected:
  void SetUp() override {
    // Software\Classes\Wow6432Node is shared; Software\Wow6432Node\Classes
    // links to it, as in a fresh 64-bit prefix.
    prefix_.Write("system.reg",
                  std::string(kHeader64) +
                      "\n[Software\\\\Classes\\\\Only64] 1700000000\n#time=1da0000000000000\n"
                      "\n[Software\\\\Classes\\\\Wow6432Node] 1700000000\n#time=1da0000000000000\n"
                      "\n[Software\\\\Wow6432Node\\\\Classes] 1700000000\n#time=1da0000000000000\n#link\n"
                      "\"SymbolicLinkValue\"=hex(6):5c,00,52,00,45,00,47,00,49,00,53,00,54,00,52,00,59,00,"
                      "5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,6f,00,66,00,74,00,"
                      "77,00,61,00,72,00,65,00,5c,00,43,00,6c,00,61,00,73,00,73,00,65,00,73,00,5c,00,"
                      "57,00,6f,00,77,00,36,00,34,00,33,00,32,00,4e,00,6f,00,64,00,65,00\n");
  }
};

TEST_F(Wow64Test, SoftwareKeysLandInWow6432Node) {
  const HKEY key = Create("Software\\Vendor\\App");
  ASSERT_EQ(SetDword(key, "V", 0), plat::ERROR_SUCCESS);
  (void)reg_.RegCloseKey(key);
  EXPECT_THAT(File(), HasSubstr("\n[Software\\\\Wow6432Node\\\\Vendor\\\\App] "));
  EXPECT_THAT(File(), ::testing::Not(HasSubstr("\n[Software\\\\Vendor")));
  // The 64-bit view is asked for explicitly.
  const HKEY native = Create("Software\\Vendor64", plat::KEY_ALL_ACCESS | plat::KEY_WOW64_64KEY);
  (void)reg_.RegCloseKey(native);
  EXPECT_THAT(File(), HasSubstr("\n[Software\\\\Vendor64] "));
}

TEST_F(Wow64Test, SharedClassesFallBackToThe64BitKeys) {
  EXPECT_TRUE(testenv::KeyPresent(reg_, plat::HKEY_LOCAL_MACHINE, "Software\\Classes\\Only64"));
  const HKEY key = Create("Software\\Classes\\NewClass");
  (void)reg_.RegCloseKey(key);
  EXPECT_THAT(File(), HasSubstr("\n[Software\\\\Classes\\\\NewClass] "));
}

// Any key with a Wow6432Node child leads a 32-bit program there, in either
// root; a 32-bit prefix has one view only.
struct ViewCase {
  const char* name;
  bool win64;
  HKEY root;
  bool has_wow_node;  // the root's Software has a Wow6432Node child
  REGSAM sam;
  const char* saved;  // the section the new key is saved as
};

void PrintTo(const ViewCase& c, std::ostream* os) { *os << c.name; }

class ViewTest : public PrefixRegistryTest, public ::testing::WithParamInterface<ViewCase> {};

TEST_P(ViewTest, NewKeysLandWhereA32BitProgramPutsThemUnderWine) {
  const ViewCase& c = GetParam();
  const std::string wow = c.has_wow_node ? "\n[Software\\\\Wow6432Node] 1700000000\n#time=1da1747c66d0000\n" : "";
  const std::string head = c.win64 ? kHeader64 : kHeader32;
  const std::string file = c.root == plat::HKEY_CURRENT_USER ? "user.reg" : "system.reg";
  prefix_.Write("system.reg", head + (file == "system.reg" ? wow : ""));
  if (file == "user.reg") {
    prefix_.Write("user.reg",
                  "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n" +
                      head.substr(head.find("#arch")) + wow);
  }
  HKEY key = 0;
  ASSERT_EQ(reg_.RegCreateKeyExA(c.root, "Software\\App", 0, nullptr, 0, c.sam, nullptr, &key, nullptr),
            plat::ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "V", 1), plat::ERROR_SUCCESS);
  (void)reg_.RegCloseKey(key);
  EXPECT_THAT(prefix_.Read(file), HasSubstr(std::string("\n[") + c.saved + "] "));
  // Read back in the same view.
  ASSERT_EQ(reg_.RegOpenKeyExA(c.root, "Software\\App", 0, c.sam, &key), plat::ERROR_SUCCESS);
  DWORD value = 0;
  DWORD size = sizeof value;
  EXPECT_EQ(reg_.RegQueryValueExA(key, "V", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
            plat::ERROR_SUCCESS);
  EXPECT_EQ(value, 1U);
  (void)reg_.RegCloseKey(key);
}

INSTANTIATE_TEST_SUITE_P(Roots, ViewTest,
                         ::testing::Values(ViewCase{"MachineWin64", true, plat::HKEY_LOCAL_MACHINE, true,
                                                    plat::KEY_ALL_ACCESS, "Software\\\\Wow6432Node\\\\App"},
                                           ViewCase{"UserWin64", true, plat::HKEY_CURRENT_USER, true,
                                                    plat::KEY_ALL_ACCESS, "Software\\\\Wow6432Node\\\\App"},
                                           ViewCase{"UserWin64Asking64", true, plat::HKEY_CURRENT_USER, true,
                                                    plat::KEY_ALL_ACCESS | plat::KEY_WOW64_64KEY, "Software\\\\App"},
                                           ViewCase{"UserWin64WithoutNode", true, plat::HKEY_CURRENT_USER, false,
                                                    plat::KEY_ALL_ACCESS, "Software\\\\App"},
                                           ViewCase{"UserWin32", false, plat::HKEY_CURRENT_USER, true,
                                                    plat::KEY_ALL_ACCESS, "Software\\\\App"},
                                           ViewCase{"MachineWin32", false, plat::HKEY_LOCAL_MACHINE, true,
                                                    plat::KEY_ALL_ACCESS, "Software\\\\App"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A file without an #arch line is saved with the prefix's architecture, as
// wineserver saves it: system.reg's, win32 when that has none either.
const char kNoArchMachine[] = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n";
const char kNoArchUser[] = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n";

struct ArchCase {
  const char* name;
  const char* system;
  const char* user;  // nullptr: no user.reg
  HKEY root;
  const char* file;
  std::string saved_head;
};

void PrintTo(const ArchCase& c, std::ostream* os) { *os << c.name; }

class ArchOnSaveTest : public PrefixRegistryTest, public ::testing::WithParamInterface<ArchCase> {};

TEST_P(ArchOnSaveTest, WrittenAsWineserverWritesIt) {
  const ArchCase& c = GetParam();
  prefix_.Write("system.reg", c.system);
  if (c.user != nullptr) prefix_.Write("user.reg", c.user);
  HKEY key = 0;
  ASSERT_EQ(reg_.RegCreateKeyExA(c.root, "Software\\X", 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &key, nullptr),
            plat::ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "V", 1), plat::ERROR_SUCCESS);
  (void)reg_.RegCloseKey(key);
  const std::string text = prefix_.Read(c.file);
  EXPECT_EQ(text.rfind(c.saved_head + "\n[", 0), 0U) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ArchOnSaveTest,
    ::testing::Values(ArchCase{"MachineWithout", kNoArchMachine, nullptr, plat::HKEY_LOCAL_MACHINE, "system.reg",
                               std::string(kNoArchMachine) + "\n#arch=win32\n"},
                      ArchCase{"UserWithoutIn64BitPrefix", kHeader64, kNoArchUser, plat::HKEY_CURRENT_USER, "user.reg",
                               std::string(kNoArchUser) + "\n#arch=win64\n"},
                      ArchCase{"UserWithoutIn32BitPrefix", kHeader32, kNoArchUser, plat::HKEY_CURRENT_USER, "user.reg",
                               std::string(kNoArchUser) + "\n#arch=win32\n"},
                      ArchCase{"NeitherHasOne", kNoArchMachine, kNoArchUser, plat::HKEY_CURRENT_USER, "user.reg",
                               std::string(kNoArchUser) + "\n#arch=win32\n"},
                      ArchCase{"MachineKeepsItsOwn", kHeader64, nullptr, plat::HKEY_LOCAL_MACHINE, "system.reg",
                               kHeader64}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NewPrefix, Win64WhenWinearchAsksForIt) {
  const testenv::TempPrefix parent;
  ::setenv("WINEARCH", "win64", 1);
  plat::posix::PrefixRegistry fresh(parent.path() / "p64");
  HKEY key = 0;
  const LONG status =
      fresh.RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, "Software\\X", 0, nullptr, 0, 0x3F, nullptr, &key, nullptr);
  ::unsetenv("WINEARCH");
  ASSERT_EQ(status, plat::ERROR_SUCCESS);
  (void)fresh.RegCloseKey(key);
  std::ifstream in(parent.path() / "p64" / "system.reg");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.rfind(kHeader64, 0), 0U) << text;
  EXPECT_THAT(text, HasSubstr("\n[Software\\\\Wow6432Node\\\\X] "));
}

// --- Symbolic-link keys ---------------------------------------------------------

constexpr char kUserHeader32[] =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win32\n";
constexpr char kMachineSoftware[] = "\\REGISTRY\\Machine\\Software\\";
constexpr char kUserSoftware[] = "\\REGISTRY\\User\\S-1-5-21-0-0-0-1000\\Software\\";

// A section for the key at `path` (single backslashes), then `lines`.
std::string Section(const std::string& path, const std::string& lines) {
  std::string name;
  for (const char c : path) name += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return "\n[" + name + "] 1700000000\n#time=1da1747c66d0000\n" + lines;
}

// A link key's section: `target` as UTF-16 without a NUL, and `extra`
// bytes after it, in a SymbolicLinkValue written with the type tag `tag`.
std::string Link(const std::string& path, const std::string& target, const std::string& tag = "hex(6)",
                 const std::string& extra = "") {
  std::string hex;
  char byte[8];
  for (const char c : target) {
    std::snprintf(byte, sizeof byte, "%02x,00,", static_cast<unsigned char>(c));
    hex += byte;
  }
  for (const char c : extra) {
    std::snprintf(byte, sizeof byte, "%02x,", static_cast<unsigned char>(c));
    hex += byte;
  }
  hex.pop_back();
  return Section(path, "#link\n\"SymbolicLinkValue\"=" + tag + ":" + hex + "\n");
}

// Links from Software\C1 through Software\C<n> to Software\Target.
std::string Chain(int n) {
  std::string links;
  for (int i = 1; i <= n; ++i) {
    const std::string next = i == n ? "Target" : "C" + std::to_string(i + 1);
    links += Link("Software\\C" + std::to_string(i), kMachineSoftware + next);
  }
  return links;
}

// Whether every link key of a saved file holds its SymbolicLinkValue only
// and has no subkeys.
::testing::AssertionResult LinksHoldNothingElse(const std::string& text) {
  std::optional<winereg::Hive> hive = winereg::Parse(winereg::ParseInput::FromString(text));
  if (!hive) return ::testing::AssertionFailure() << "does not parse";
  std::vector<const winereg::Key*> pending{&hive->root};
  while (!pending.empty()) {
    const winereg::Key* key = pending.back();
    pending.pop_back();
    if (key->is_link() &&
        (key->has_subkeys() || key->values().size() != 1 || key->values()[0].name != u"SymbolicLinkValue")) {
      return ::testing::AssertionFailure() << "a link key holds more than its SymbolicLinkValue";
    }
    for (const auto& child : key->subkeys()) pending.push_back(child.get());
  }
  return ::testing::AssertionSuccess();
}

class LinkTest : public PrefixRegistryTest {
 protected:
  // Software\Target (V=1) and its subkey Deeper (V=2) in a 32-bit prefix;
  // HKCU Software\UserTarget (V=3).
  void Use(const std::string& links) {
    prefix_.Write("system.reg", std::string(kHeader32) + Section("Software\\Target", "\"V\"=dword:00000001\n") +
                                    Section("Software\\Target\\Deeper", "\"V\"=dword:00000002\n") + links);
    prefix_.Write("user.reg", std::string(kUserHeader32) + Section("Software\\UserTarget", "\"V\"=dword:00000003\n"));
    system_ = File();
    user_ = prefix_.Read("user.reg");
  }
  bool Unchanged() const { return File() == system_ && prefix_.Read("user.reg") == user_; }

  std::string system_;
  std::string user_;
};

// Opening follows links as wineserver does: any value type read as UTF-16,
// from the registry's root, through other links up to 32 deep.
struct FollowCase {
  const char* name;
  std::string links;
  const char* path;
  LONG status;
  BYTE value;  // V of the key reached
};

void PrintTo(const FollowCase& c, std::ostream* os) { *os << c.name; }

class LinkFollowTest : public LinkTest, public ::testing::WithParamInterface<FollowCase> {};

TEST_P(LinkFollowTest, OpensWhatWineOpens) {
  const FollowCase& c = GetParam();
  Use(c.links);
  HKEY key = 0x1234;
  ASSERT_EQ(reg_.RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, c.path, 0, plat::KEY_QUERY_VALUE, &key), c.status);
  if (c.status == plat::ERROR_SUCCESS) {
    DWORD value = 0;
    DWORD size = sizeof value;
    EXPECT_EQ(reg_.RegQueryValueExA(key, "V", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
              plat::ERROR_SUCCESS);
    EXPECT_EQ(value, c.value);
    (void)reg_.RegCloseKey(key);
  } else {
    EXPECT_EQ(key, 0U);
  }
  EXPECT_TRUE(Unchanged());
}

const std::string kToTarget = std::string(kMachineSoftware) + "Target";

INSTANTIATE_TEST_SUITE_P(
    Table, LinkFollowTest,
    ::testing::Values(
        FollowCase{"RegLink", Link("Software\\L", kToTarget), "Software\\L", 0, 1},
        FollowCase{"PathGoesOnInTheTarget", Link("Software\\L", kToTarget), "Software\\L\\Deeper", 0, 2},
        // Chains: 32 links one inside another at most.
        FollowCase{"Chain", Chain(2), "Software\\C1", 0, 1}, FollowCase{"ChainOf32", Chain(32), "Software\\C1", 0, 1},
        FollowCase{"ChainOf33", Chain(33), "Software\\C1", plat::ERROR_INVALID_PARAMETER, 0},
        FollowCase{"LinkInsideTheTarget",
                   Link("Software\\L", std::string(kMachineSoftware) + "L2\\Deeper") + Link("Software\\L2", kToTarget),
                   "Software\\L", 0, 2},
        FollowCase{"StringWithoutNul", Link("Software\\L", kToTarget, "hex(1)"), "Software\\L", 0, 1},
        FollowCase{"ExpandString", Link("Software\\L", kToTarget, "hex(2)"), "Software\\L", 0, 1},
        FollowCase{"Binary", Link("Software\\L", kToTarget, "hex"), "Software\\L", 0, 1},
        FollowCase{"OddByteLeftOut", Link("Software\\L", kToTarget, "hex(6)", "A"), "Software\\L", 0, 1},
        FollowCase{"CaseAndBackslashRuns", Link("Software\\L", "\\registry\\MACHINE\\\\software\\\\\\target\\"),
                   "Software\\L", 0, 1},
        FollowCase{"MachineRoot", Link("Software\\L", "\\REGISTRY\\Machine"), "Software\\L\\Software\\Target", 0, 1},
        FollowCase{"UserBranch", Link("Software\\L", std::string(kUserSoftware) + "UserTarget"), "Software\\L", 0, 3},
        // The string's NUL is part of the name: a key "Target\0" is looked for.
        FollowCase{"StringWithNul",
                   Section("Software\\L", "#link\n\"SymbolicLinkValue\"=\"" +
                                              std::string("\\\\REGISTRY\\\\Machine\\\\Software\\\\Target") + "\"\n"),
                   "Software\\L", plat::ERROR_FILE_NOT_FOUND, 0},
        FollowCase{"NoLinkValue", Section("Software\\L", "#link\n"), "Software\\L", plat::ERROR_FILE_NOT_FOUND, 0},
        FollowCase{"NotFromTheRoot", Link("Software\\L", kToTarget.substr(1)), "Software\\L",
                   plat::ERROR_FILE_NOT_FOUND, 0},
        FollowCase{"Dangling", Link("Software\\L", std::string(kMachineSoftware) + "New"), "Software\\L",
                   plat::ERROR_FILE_NOT_FOUND, 0},
        FollowCase{"DanglingOnTheWay", Link("Software\\L", std::string(kMachineSoftware) + "New"), "Software\\L\\Sub",
                   plat::ERROR_FILE_NOT_FOUND, 0},
        FollowCase{"NameTooLong", Link("Software\\L", std::string(kMachineSoftware) + std::string(257, 'n')),
                   "Software\\L", plat::ERROR_INVALID_PARAMETER, 0},
        // Keys the backend does not hold.
        FollowCase{"DefaultUser", Link("Software\\L", "\\REGISTRY\\User\\.Default\\Software"), "Software\\L",
                   plat::ERROR_NOT_SUPPORTED, 0},
        FollowCase{"RegistryRoot", Link("Software\\L", "\\REGISTRY"), "Software\\L", plat::ERROR_NOT_SUPPORTED, 0},
        // Not there for wineserver either.
        FollowCase{"NoSuchBranch", Link("Software\\L", "\\REGISTRY\\NewBranch"), "Software\\L",
                   plat::ERROR_FILE_NOT_FOUND, 0},
        FollowCase{"NoSuchUser", Link("Software\\L", "\\REGISTRY\\User\\S-1-5-21-9\\Software"), "Software\\L",
                   plat::ERROR_FILE_NOT_FOUND, 0},
        FollowCase{"OutsideTheRegistry", Link("Software\\L", "\\??\\C:"), "Software\\L", plat::ERROR_NOT_SUPPORTED, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A link loop fails as under Wine (ERROR_INVALID_PARAMETER), whichever call
// meets it, and nothing is written.
struct LoopCase {
  const char* name;
  bool win64;
  std::string links;
  std::string path;  // as the program names it
};

struct LoopOp {
  const char* name;
  LONG (*call)(plat::Registry&, const std::string&, HKEY*);
};

void PrintTo(const LoopCase& c, std::ostream* os) { *os << c.name; }
void PrintTo(const LoopOp& c, std::ostream* os) { *os << c.name; }

class LinkLoopTest : public PrefixRegistryTest, public ::testing::WithParamInterface<std::tuple<LoopCase, LoopOp>> {};

TEST_P(LinkLoopTest, FailsAndWritesNothing) {
  const auto& [loop, op] = GetParam();
  prefix_.Write("system.reg", std::string(loop.win64 ? kHeader64 : kHeader32) + loop.links);
  const std::string before = File();
  HKEY key = 0;
  EXPECT_EQ(op.call(reg_, loop.path, &key), plat::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(key, 0U);
  EXPECT_EQ(reg_.Flush(), plat::ERROR_SUCCESS);
  EXPECT_EQ(File(), before);
}

const LoopCase kLoops[] = {
    {"ToItself", false, Link("Software\\Mediamatics", std::string(kMachineSoftware) + "Mediamatics"),
     "Software\\Mediamatics"},
    {"OfTwo", false,
     Link("Software\\Mediamatics", std::string(kMachineSoftware) + "Other") +
         Link("Software\\Other", std::string(kMachineSoftware) + "Mediamatics"),
     "Software\\Mediamatics"},
    {"InWow6432Node", true,
     Section("Software\\Wow6432Node", "") +
         Link("Software\\Wow6432Node\\Mediamatics", std::string(kMachineSoftware) + "Wow6432Node\\Mediamatics"),
     "Software\\Mediamatics"},
};

LONG CreateAt(plat::Registry& r, HKEY root, const std::string& path, HKEY* key) {
  return r.RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, key, nullptr);
}
LONG OpenIt(plat::Registry& r, const std::string& path, HKEY* key) {
  return r.RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, path.c_str(), 0, plat::KEY_ALL_ACCESS, key);
}
LONG CreateIt(plat::Registry& r, const std::string& path, HKEY* key) {
  return CreateAt(r, plat::HKEY_LOCAL_MACHINE, path, key);
}
LONG CreateBelowIt(plat::Registry& r, const std::string& path, HKEY* key) {
  return CreateAt(r, plat::HKEY_LOCAL_MACHINE, path + "\\DVD Express\\Formats", key);
}
LONG CreateFromAHandle(plat::Registry& r, const std::string& path, HKEY* key) {
  HKEY software = 0;
  if (const LONG open = r.RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "Software", 0, plat::KEY_ALL_ACCESS, &software);
      open != plat::ERROR_SUCCESS) {
    return open;
  }
  const LONG status = CreateAt(r, software, path.substr(path.find('\\') + 1) + "\\Formats", key);
  (void)r.RegCloseKey(software);
  return status;
}
LONG DeleteIt(plat::Registry& r, const std::string& path, HKEY*) {
  return r.RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE, path.c_str());
}

const LoopOp kLoopOps[] = {{"Open", OpenIt},
                           {"Create", CreateIt},
                           {"CreateBelow", CreateBelowIt},
                           {"CreateFromAnOpenHandle", CreateFromAHandle},
                           {"Delete", DeleteIt}};

INSTANTIATE_TEST_SUITE_P(Calls, LinkLoopTest,
                         ::testing::Combine(::testing::ValuesIn(kLoops), ::testing::ValuesIn(kLoopOps)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

// A handle whose key became a link (the file changed under it): nothing is
// written under the link key; a subkey goes where the link leads.
TEST_F(LinkTest, AnOpenHandleNeverWritesUnderALinkKey) {
  Use(Section("Software\\Mediamatics", ""));
  const HKEY key = Create("Software\\Mediamatics");
  for (const auto& [target, status] :
       {std::pair{std::string(kMachineSoftware) + "Mediamatics", plat::ERROR_INVALID_PARAMETER},
        std::pair{kToTarget, plat::ERROR_SUCCESS}}) {
    SCOPED_TRACE(target);
    Use(Link("Software\\Mediamatics", target));
    EXPECT_EQ(SetDword(key, "YV12", 0), plat::ERROR_ACCESS_DENIED);
    HKEY sub = 0;
    EXPECT_EQ(reg_.RegCreateKeyExA(key, "Formats", 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &sub, nullptr),
              status);
    if (sub != 0) {
      EXPECT_EQ(SetDword(sub, "NMMC", 0), plat::ERROR_SUCCESS);
      (void)reg_.RegCloseKey(sub);
      EXPECT_EQ(testenv::ReadRaw(reg_, plat::HKEY_LOCAL_MACHINE, "Software\\Target\\Formats", "NMMC"),
                (RawValue{plat::REG_DWORD, {0, 0, 0, 0}}));
    } else {
      EXPECT_TRUE(Unchanged());
    }
    EXPECT_TRUE(LinksHoldNothingElse(File()));
  }
  (void)reg_.RegCloseKey(key);
}

// Creating through a link creates under its target; a target whose last key
// is missing is created, as wineserver does.
struct CreateCase {
  const char* name;
  std::string links;
  const char* path;
  LONG status;
  DWORD disposition;
  HKEY target_root;
  const char* target;  // where the key created or opened is
};

void PrintTo(const CreateCase& c, std::ostream* os) { *os << c.name; }

class LinkCreateTest : public LinkTest, public ::testing::WithParamInterface<CreateCase> {};

TEST_P(LinkCreateTest, CreatesWhereWineCreates) {
  const CreateCase& c = GetParam();
  Use(c.links);
  HKEY key = 0;
  DWORD disposition = 0;
  ASSERT_EQ(reg_.RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, c.path, 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &key,
                                 &disposition),
            c.status);
  if (c.status != plat::ERROR_SUCCESS) {
    EXPECT_EQ(key, 0U);
    EXPECT_EQ(reg_.Flush(), plat::ERROR_SUCCESS);
    EXPECT_TRUE(Unchanged());
    return;
  }
  EXPECT_EQ(disposition, c.disposition);
  EXPECT_EQ(SetDword(key, "N", 9), plat::ERROR_SUCCESS);
  EXPECT_EQ(reg_.RegCloseKey(key), plat::ERROR_SUCCESS);
  EXPECT_EQ(testenv::ReadRaw(reg_, c.target_root, c.target, "N"), (RawValue{plat::REG_DWORD, {9, 0, 0, 0}}));
  EXPECT_TRUE(LinksHoldNothingElse(File()));
  if (c.target_root == plat::HKEY_CURRENT_USER) {
    EXPECT_EQ(File(), system_);
  }
}

const std::string kToNew = std::string(kMachineSoftware) + "New";

INSTANTIATE_TEST_SUITE_P(
    Table, LinkCreateTest,
    ::testing::Values(
        CreateCase{"ExistingTarget", Link("Software\\L", kToTarget), "Software\\L", 0, plat::REG_OPENED_EXISTING_KEY,
                   plat::HKEY_LOCAL_MACHINE, "Software\\Target"},
        CreateCase{"BelowTheTarget", Link("Software\\L", kToTarget), "Software\\L\\Sub", 0, plat::REG_CREATED_NEW_KEY,
                   plat::HKEY_LOCAL_MACHINE, "Software\\Target\\Sub"},
        CreateCase{"LinkInsideTheTarget",
                   Link("Software\\L", std::string(kMachineSoftware) + "L2\\Deeper") + Link("Software\\L2", kToTarget),
                   "Software\\L\\New", 0, plat::REG_CREATED_NEW_KEY, plat::HKEY_LOCAL_MACHINE,
                   "Software\\Target\\Deeper\\New"},
        CreateCase{"DanglingMakesItsTarget", Link("Software\\L", kToNew), "Software\\L", 0, plat::REG_CREATED_NEW_KEY,
                   plat::HKEY_LOCAL_MACHINE, "Software\\New"},
        CreateCase{"DanglingOnTheWay", Link("Software\\L", kToNew), "Software\\L\\Sub", 0, plat::REG_CREATED_NEW_KEY,
                   plat::HKEY_LOCAL_MACHINE, "Software\\New\\Sub"},
        CreateCase{"DanglingChain",
                   Link("Software\\L", std::string(kMachineSoftware) + "L2") + Link("Software\\L2", kToNew),
                   "Software\\L", 0, plat::REG_CREATED_NEW_KEY, plat::HKEY_LOCAL_MACHINE, "Software\\New"},
        CreateCase{"IntoTheUserBranch", Link("Software\\L", std::string(kUserSoftware) + "UserNew"), "Software\\L", 0,
                   plat::REG_CREATED_NEW_KEY, plat::HKEY_CURRENT_USER, "Software\\UserNew"},
        CreateCase{"TwoKeysMissing", Link("Software\\L", std::string(kMachineSoftware) + "Missing\\New"), "Software\\L",
                   plat::ERROR_FILE_NOT_FOUND, 0, 0, nullptr},
        CreateCase{"DanglingInsideTheTarget",
                   Link("Software\\L", std::string(kMachineSoftware) + "L2\\Sub") + Link("Software\\L2", kToNew),
                   "Software\\L", plat::ERROR_FILE_NOT_FOUND, 0, 0, nullptr},
        CreateCase{"NewBranch", Link("Software\\L", "\\REGISTRY\\NewBranch"), "Software\\L", plat::ERROR_NOT_SUPPORTED,
                   0, 0, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// RegDeleteKeyA opens the key, so a link's target goes and the link stays.
TEST_F(LinkTest, DeletingALinkDeletesItsTarget) {
  Use(Link("Software\\L", kToTarget + "\\Deeper") + Link("Software\\Parent", kToTarget) + Link("Software\\D", kToNew));
  EXPECT_EQ(reg_.RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE, "Software\\Parent"), plat::ERROR_ACCESS_DENIED);
  EXPECT_EQ(reg_.RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE, "Software\\D"), plat::ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(Unchanged());
  EXPECT_EQ(reg_.RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE, "Software\\L"), plat::ERROR_SUCCESS);
  EXPECT_FALSE(testenv::KeyPresent(reg_, plat::HKEY_LOCAL_MACHINE, "Software\\Target\\Deeper"));
  EXPECT_THAT(File(),
              HasSubstr("\n[Software\\\\L] 1700000000\n#time=1da1747c66d0000\n#link\n\"SymbolicLinkValue\"=hex(6):"));
  EXPECT_TRUE(LinksHoldNothingElse(File()));
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
