// The registry functions over a prefix: the 32-bit view of a 64-bit prefix.
#include "tests/platform/posix/registry_fixture.h"
#include "tests/support/posix/scoped_env.h"

namespace {

using namespace posix_registry_test;  // NOLINT: the shared fixture

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

// A new 64-bit prefix: HKLM gets the 32-bit programs' Software\Wow6432Node,
// HKCU does not (Wine puts HKCU\Software\X in Software\X there).
TEST(NewPrefix, OnlyTheMachineHiveStartsWithA32BitView) {
  const testenv::TempPrefix prefix;
  const testenv::ScopedEnv arch("WINEARCH", "win64");
  {
    plat::posix::PrefixRegistry reg(prefix.path() / "new");
    for (const plat::HKEY root : {plat::HKEY_LOCAL_MACHINE, plat::HKEY_CURRENT_USER}) {
      plat::HKEY key = 0;
      ASSERT_EQ(reg.RegCreateKeyExA(root, "Software\\X", 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &key, nullptr),
                plat::ERROR_SUCCESS);
      const plat::DWORD one = 1;
      ASSERT_EQ(reg.RegSetValueExA(key, "V", 0, plat::REG_DWORD, reinterpret_cast<const plat::BYTE*>(&one), 4),
                plat::ERROR_SUCCESS);
      ASSERT_EQ(reg.RegCloseKey(key), plat::ERROR_SUCCESS);
    }
  }
  std::ifstream machine(prefix.path() / "new/system.reg");
  const std::string system((std::istreambuf_iterator<char>(machine)), std::istreambuf_iterator<char>());
  std::ifstream user_file(prefix.path() / "new/user.reg");
  const std::string user((std::istreambuf_iterator<char>(user_file)), std::istreambuf_iterator<char>());
  EXPECT_THAT(system, HasSubstr("[Software\\\\Wow6432Node\\\\X]"));
  EXPECT_THAT(user, HasSubstr("#arch=win64"));
  EXPECT_THAT(user, HasSubstr("[Software\\\\X]"));
  EXPECT_THAT(user, ::testing::Not(HasSubstr("Wow6432Node")));
}

}  // namespace
