// RegSetValueExA's count on the build's own registry: natively a temporary
// Wine prefix, cross-compiled the real registry under Wine. A string whose
// count leaves out its terminating NUL while the next byte is one is stored
// with that NUL; every other count is stored as given.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tests/support/registry_env.h"

namespace {

using plat::BYTE;
using plat::DWORD;
using plat::HKEY;
using plat::LONG;

struct CountCase {
  const char* name;
  DWORD type;
  std::string bytes;  // the caller's buffer, which may run past the count
  DWORD count;
  DWORD stored;  // the size a query reports afterwards
};

void PrintTo(const CountCase& c, std::ostream* out) { *out << c.name; }

using namespace std::string_literals;

const CountCase kCases[] = {
    {"SzNulLeftOut", plat::REG_SZ, "ThisNeverBreaks\0"s, 15, 16},
    {"SzNulCounted", plat::REG_SZ, "ThisNeverBreaks\0"s, 16, 16},
    {"SzShortOfAByteThatIsNotNul", plat::REG_SZ, "abcX\0"s, 3, 3},
    {"SzEndingInNulAlready", plat::REG_SZ, "ab\0\0"s, 3, 3},
    {"SzOneCharacter", plat::REG_SZ, "a\0"s, 1, 2},
    {"SzCountZero", plat::REG_SZ, "\0"s, 0, 0},
    {"ExpandSzNulLeftOut", plat::REG_EXPAND_SZ, "%PATH%\0"s, 6, 7},
    {"MultiSzLastStringNulLeftOut", plat::REG_MULTI_SZ, "a\0b\0\0"s, 3, 4},
    {"MultiSzListNulLeftOut", plat::REG_MULTI_SZ, "a\0b\0\0"s, 4, 4},
    {"BinaryNeverGrows", plat::REG_BINARY, "abc\0"s, 3, 3},
    {"NoneNeverGrows", plat::REG_NONE, "abc\0"s, 3, 3},
    {"DwordNeverGrows", plat::REG_DWORD, "\1\2\3\4\0"s, 4, 4},
};

class SetValueCount : public ::testing::TestWithParam<CountCase> {
 protected:
  SetValueCount() {
    EXPECT_EQ(api().RegCreateKeyExA(env_.root(), Base().c_str(), 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &key_,
                                    nullptr),
              plat::ERROR_SUCCESS);
  }
  ~SetValueCount() override {
    (void)api().RegCloseKey(key_);  // the tree goes next
    testenv::RegistryEnv::DeleteTree(api(), env_.root(), Base());
  }
  plat::Registry& api() { return env_.api(); }
  std::string Base() const { return std::string(env_.base().begin(), env_.base().end()); }

  testenv::RegistryEnv env_;
  HKEY key_ = 0;
};

TEST_P(SetValueCount, StoresWhatWindowsStores) {
  const CountCase& c = GetParam();
  const auto* data = reinterpret_cast<const BYTE*>(c.bytes.data());
  ASSERT_EQ(api().RegSetValueExA(key_, "v", 0, c.type, data, c.count), plat::ERROR_SUCCESS);

  DWORD type = 0;
  DWORD size = 0;
  ASSERT_EQ(api().RegQueryValueExA(key_, "v", nullptr, &type, nullptr, &size), plat::ERROR_SUCCESS);
  EXPECT_EQ(type, c.type);
  EXPECT_EQ(size, c.stored);

  std::vector<BYTE> back(c.stored + 1, 0xEE);
  DWORD room = static_cast<DWORD>(back.size());
  ASSERT_EQ(api().RegQueryValueExA(key_, "v", nullptr, nullptr, back.data(), &room), plat::ERROR_SUCCESS);
  ASSERT_EQ(room, c.stored);
  EXPECT_EQ(std::string(back.begin(), back.begin() + room), c.bytes.substr(0, c.stored));
}

INSTANTIATE_TEST_SUITE_P(Counts, SetValueCount, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CountCase>& info) { return info.param.name; });

// A buffer of exactly the count given is one byte short once the NUL is
// stored: the query says so and names the size it needs.
TEST_F(SetValueCount, ABufferOfTheCountGivenIsOneShort) {
  const std::string text = "FullString\0"s;
  ASSERT_EQ(api().RegSetValueExA(key_, "v", 0, plat::REG_SZ, reinterpret_cast<const BYTE*>(text.data()), 10),
            plat::ERROR_SUCCESS);
  std::vector<BYTE> buffer(10);
  DWORD room = 10;
  EXPECT_EQ(api().RegQueryValueExA(key_, "v", nullptr, nullptr, buffer.data(), &room), plat::ERROR_MORE_DATA);
  EXPECT_EQ(room, 11U);
}

}  // namespace
