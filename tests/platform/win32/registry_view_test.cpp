// The registry view of the Windows backend. The program is a 32-bit program
// in both Windows builds: the PE32 is redirected by Windows itself on 64-bit
// Windows, and the 64-bit build asks for the 32-bit view, so that both put a
// key under HKLM\Software where a 32-bit program's keys live. Checked here
// against the real API's 64-bit view.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "platform/types.h"

namespace {
// The seam's constants, named before <windows.h> turns their names into macros.
constexpr plat::HKEY kMachine = plat::HKEY_LOCAL_MACHINE;
constexpr plat::REGSAM kAllAccess = plat::KEY_ALL_ACCESS;
constexpr plat::REGSAM kQueryValue = plat::KEY_QUERY_VALUE;
constexpr plat::DWORD kNonVolatile = plat::REG_OPTION_NON_VOLATILE;
}  // namespace

#include "platform/win32/win32.h"

namespace {

// Whether this Windows has the two views (a 64-bit process, or a 32-bit one
// under WOW64).
bool TwoViews() {
#ifdef _WIN64
  return true;
#else
  ::BOOL wow64 = FALSE;
  return ::IsWow64Process(::GetCurrentProcess(), &wow64) != 0 && wow64 != 0;
#endif
}

// The status of opening HKLM\<path> in the 64-bit view (or the only view).
::LONG OpenIn64BitView(const std::string& path) {
  ::HKEY key = nullptr;
  const ::REGSAM view = TwoViews() ? KEY_WOW64_64KEY : 0;
  const ::LONG status = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key);
  if (status == ERROR_SUCCESS) ::RegCloseKey(key);
  return status;
}

class RegistryViewTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Whatever the test left, in either view.
    for (const ::REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), view, 0);
    }
  }
  plat::Registry& api() { return plat::Backend<plat::Registry>(); }

  const std::string name_ = "SkelvinViewTest" + std::to_string(::GetCurrentProcessId());
  const std::string path_ = "Software\\" + name_;
};

TEST_F(RegistryViewTest, KeysUnderHklmSoftwareLandInThe32BitView) {
  plat::HKEY key = 0;
  ASSERT_EQ(
      api().RegCreateKeyExA(kMachine, path_.c_str(), 0, nullptr, kNonVolatile, kAllAccess, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(api().RegCloseKey(key), ERROR_SUCCESS);

  if (TwoViews()) {
    EXPECT_EQ(OpenIn64BitView("Software\\Wow6432Node\\" + name_), ERROR_SUCCESS) << "not in the 32-bit view";
    EXPECT_EQ(OpenIn64BitView(path_), ERROR_FILE_NOT_FOUND) << "the key reached the 64-bit view";
  } else {
    EXPECT_EQ(OpenIn64BitView(path_), ERROR_SUCCESS);
  }

  // Opening and deleting go to the same view.
  ASSERT_EQ(api().RegOpenKeyExA(kMachine, path_.c_str(), 0, kQueryValue, &key), ERROR_SUCCESS);
  EXPECT_EQ(api().RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(api().RegDeleteKeyA(kMachine, path_.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(OpenIn64BitView(TwoViews() ? "Software\\Wow6432Node\\" + name_ : path_), ERROR_FILE_NOT_FOUND);
}

// A key made in the 64-bit view is not the backend's (on a Windows with one
// view it is simply the key).
TEST_F(RegistryViewTest, A64BitKeyIsSeenThroughTheBackendOnlyWithOneView) {
  ::HKEY native = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                              nullptr, &native, nullptr),
            ERROR_SUCCESS);
  ::RegCloseKey(native);
  plat::HKEY key = 0;
  const plat::LONG seen = TwoViews() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
  EXPECT_EQ(api().RegOpenKeyExA(kMachine, path_.c_str(), 0, kQueryValue, &key), seen);
  if (seen == ERROR_SUCCESS) api().RegCloseKey(key);
  EXPECT_EQ(api().RegDeleteKeyA(kMachine, path_.c_str()), seen);
  EXPECT_EQ(OpenIn64BitView(path_), TwoViews() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
}

}  // namespace
