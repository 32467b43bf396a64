// The Windows backend's registry facility over the real registry: handles,
// out-parameters and status codes cross the seam unchanged.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/registry.h"
#include "tests/support/registry_env.h"

namespace {

using plat::DWORD;
using plat::HKEY;

class RegistryBackendTest : public ::testing::Test {
 protected:
  plat::Registry& api() { return env_.api(); }
  std::string Path(const std::string& below = {}) const {
    const std::string base = plat::ToAnsi(env_.base());
    return below.empty() ? base : base + "\\" + below;
  }
  HKEY Create(const std::string& path, DWORD options = plat::REG_OPTION_NON_VOLATILE, DWORD* disposition = nullptr) {
    HKEY key = 0;
    EXPECT_EQ(api().RegCreateKeyExA(env_.root(), path.c_str(), 0, nullptr, options, plat::KEY_ALL_ACCESS, nullptr, &key,
                                    disposition),
              plat::ERROR_SUCCESS);
    return key;
  }
  void SetDword(HKEY key, const char* name, DWORD value) {
    plat::BYTE data[4];
    std::memcpy(data, &value, sizeof data);
    ASSERT_EQ(api().RegSetValueExA(key, name, 0, plat::REG_DWORD, data, sizeof data), plat::ERROR_SUCCESS);
  }

  testenv::RegistryEnv env_;
};

TEST_F(RegistryBackendTest, CreateReportsNewThenExistingKeys) {
  DWORD disposition = 0;
  HKEY key = Create(Path(), plat::REG_OPTION_NON_VOLATILE, &disposition);
  EXPECT_NE(key, 0U);
  EXPECT_EQ(key & 0x80000000U, 0U) << "an opened key is not a predefined root";
  EXPECT_EQ(disposition, plat::REG_CREATED_NEW_KEY);
  EXPECT_EQ(api().RegCloseKey(key), plat::ERROR_SUCCESS);
  key = Create(Path(), plat::REG_OPTION_NON_VOLATILE, &disposition);
  EXPECT_EQ(disposition, plat::REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(api().RegCloseKey(key), plat::ERROR_SUCCESS);
}

TEST_F(RegistryBackendTest, CreateTakesSecurityAttributes) {
  const plat::SECURITY_ATTRIBUTES attributes{sizeof(plat::SECURITY_ATTRIBUTES), nullptr, plat::FALSE};
  HKEY key = 0;
  ASSERT_EQ(api().RegCreateKeyExA(env_.root(), Path().c_str(), 0, nullptr, 0, plat::KEY_ALL_ACCESS, &attributes, &key,
                                  nullptr),
            plat::ERROR_SUCCESS);
  EXPECT_NE(key, 0U);
  api().RegCloseKey(key);
}

TEST_F(RegistryBackendTest, FailedOpenAndCreateLeaveNoHandle) {
  HKEY key = 77;
  EXPECT_EQ(api().RegOpenKeyExA(env_.root(), Path("missing").c_str(), 0, plat::KEY_QUERY_VALUE, &key),
            plat::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, 0U);

  api().RegCloseKey(Create(Path(), plat::REG_OPTION_VOLATILE));
  key = 77;
  DWORD disposition = 99;
  EXPECT_EQ(api().RegCreateKeyExA(env_.root(), Path("child").c_str(), 0, nullptr, plat::REG_OPTION_NON_VOLATILE,
                                  plat::KEY_ALL_ACCESS, nullptr, &key, &disposition),
            plat::ERROR_CHILD_MUST_BE_VOLATILE);
  EXPECT_EQ(key, 0U);
}

TEST_F(RegistryBackendTest, PredefinedRootsReachTheSystem) {
  HKEY key = 0;
  ASSERT_EQ(api().RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "Software", 0, plat::KEY_QUERY_VALUE, &key),
            plat::ERROR_SUCCESS);
  EXPECT_NE(key, 0U);
  api().RegCloseKey(key);
  EXPECT_EQ(api().RegOpenKeyExA(0x80000077U, "Software", 0, plat::KEY_QUERY_VALUE, &key), plat::ERROR_INVALID_HANDLE);
}

TEST_F(RegistryBackendTest, QueryReportsTypeAndSize) {
  HKEY key = Create(Path());
  SetDword(key, "YV12", 0x01020304U);
  DWORD type = 0;
  DWORD size = 4;
  plat::BYTE data[4] = {};
  ASSERT_EQ(api().RegQueryValueExA(key, "YV12", nullptr, &type, data, &size), plat::ERROR_SUCCESS);
  EXPECT_EQ(type, plat::REG_DWORD);
  EXPECT_EQ(size, 4U);
  DWORD value = 0;
  std::memcpy(&value, data, sizeof value);
  EXPECT_EQ(value, 0x01020304U);

  size = 2;
  EXPECT_EQ(api().RegQueryValueExA(key, "YV12", nullptr, &type, data, &size), plat::ERROR_MORE_DATA);
  EXPECT_EQ(size, 4U);
  EXPECT_EQ(api().RegQueryValueExA(key, "NMMC", nullptr, &type, data, &size), plat::ERROR_FILE_NOT_FOUND);
  api().RegCloseKey(key);
}

TEST_F(RegistryBackendTest, EnumValuesGivesNamesSizesAndTheEnd) {
  HKEY key = Create(Path());
  SetDword(key, "NMMC", 0);
  char name[16] = {};
  DWORD name_size = sizeof name;
  DWORD type = 0;
  plat::BYTE data[8] = {};
  DWORD size = sizeof data;
  ASSERT_EQ(api().RegEnumValueA(key, 0, name, &name_size, nullptr, &type, data, &size), plat::ERROR_SUCCESS);
  EXPECT_STREQ(name, "NMMC");
  EXPECT_EQ(name_size, 4U);
  EXPECT_EQ(type, plat::REG_DWORD);
  EXPECT_EQ(size, 4U);
  name_size = sizeof name;
  EXPECT_EQ(api().RegEnumValueA(key, 1, name, &name_size, nullptr, nullptr, nullptr, nullptr),
            plat::ERROR_NO_MORE_ITEMS);
  api().RegCloseKey(key);
}

TEST_F(RegistryBackendTest, EnumAndDeleteKeys) {
  api().RegCloseKey(Create(Path("Formats")));
  HKEY key = 0;
  ASSERT_EQ(api().RegOpenKeyExA(env_.root(), Path().c_str(), 0, plat::KEY_ENUMERATE_SUB_KEYS, &key),
            plat::ERROR_SUCCESS);
  char name[32] = {};
  ASSERT_EQ(api().RegEnumKeyA(key, 0, name, sizeof name), plat::ERROR_SUCCESS);
  EXPECT_STREQ(name, "Formats");
  EXPECT_EQ(api().RegEnumKeyA(key, 1, name, sizeof name), plat::ERROR_NO_MORE_ITEMS);
  api().RegCloseKey(key);

  EXPECT_EQ(api().RegDeleteKeyA(env_.root(), Path().c_str()), plat::ERROR_ACCESS_DENIED);
  EXPECT_EQ(api().RegDeleteKeyA(env_.root(), Path("Formats").c_str()), plat::ERROR_SUCCESS);
  EXPECT_EQ(api().RegDeleteKeyA(env_.root(), Path("Formats").c_str()), plat::ERROR_FILE_NOT_FOUND);
}

TEST(RegistryEnvTest, TeardownRemovesTheWholeTree) {
  std::string base;
  plat::HKEY root = 0;
  {
    testenv::RegistryEnv env;
    base = plat::ToAnsi(env.base());
    root = env.root();
    HKEY key = 0;
    ASSERT_EQ(env.api().RegCreateKeyExA(root, (base + "\\a\\b\\c").c_str(), 0, nullptr, 0, plat::KEY_ALL_ACCESS,
                                        nullptr, &key, nullptr),
              plat::ERROR_SUCCESS);
    env.api().RegCloseKey(key);
  }
  HKEY key = 0;
  EXPECT_EQ(plat::Backend<plat::Registry>().RegOpenKeyExA(root, base.c_str(), 0, plat::KEY_QUERY_VALUE, &key),
            plat::ERROR_FILE_NOT_FOUND);
}

TEST(RegistryEnvTest, EveryEnvironmentHasItsOwnFreshKey) {
  testenv::RegistryEnv first;
  testenv::RegistryEnv second;
  EXPECT_NE(first.base(), second.base());
  HKEY key = 0;
  EXPECT_EQ(first.api().RegOpenKeyExA(first.root(), plat::ToAnsi(first.base()).c_str(), 0, plat::KEY_QUERY_VALUE, &key),
            plat::ERROR_FILE_NOT_FOUND);
}

}  // namespace
