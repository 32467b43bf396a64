// The key owner: it closes what it owns through the registry that opened it,
// once, and an empty owner refers to no registry at all.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/facility.h"
#include "platform/registry.h"

namespace {

using plat::DWORD;
using plat::HKEY;
using plat::LONG;

// A registry that opens every key as `handle` and records the closes; any
// other call fails the test.
class CountingRegistry final : public plat::Registry {
 public:
  explicit CountingRegistry(HKEY handle = 0x1234, LONG close_status = plat::ERROR_SUCCESS)
      : handle_(handle), close_status_(close_status) {}

  LONG RegOpenKeyExA(HKEY, const char*, DWORD, plat::REGSAM, HKEY* result) override {
    *result = handle_;
    return plat::ERROR_SUCCESS;
  }
  LONG RegCreateKeyExA(HKEY, const char*, DWORD, char*, DWORD, plat::REGSAM, const plat::SECURITY_ATTRIBUTES*,
                       HKEY* result, DWORD*) override {
    *result = handle_;
    return plat::ERROR_SUCCESS;
  }
  LONG RegSetValueExA(HKEY, const char*, DWORD, DWORD, const plat::BYTE*, DWORD) override { return Unexpected(); }
  LONG RegQueryValueExA(HKEY, const char*, DWORD*, DWORD*, plat::BYTE*, DWORD*) override { return Unexpected(); }
  LONG RegEnumValueA(HKEY, DWORD, char*, DWORD*, DWORD*, DWORD*, plat::BYTE*, DWORD*) override { return Unexpected(); }
  LONG RegEnumKeyA(HKEY, DWORD, char*, DWORD) override { return Unexpected(); }
  LONG RegDeleteKeyA(HKEY, const char*) override { return Unexpected(); }
  LONG RegCloseKey(HKEY key) override {
    closed.push_back(key);
    if (throws) throw plat::Fault(plat::kPathFileAccessError);
    return close_status_;
  }

  std::vector<HKEY> closed;
  bool throws = false;

 private:
  static LONG Unexpected() {
    ADD_FAILURE() << "a call the owner never makes";
    return plat::ERROR_INVALID_HANDLE;
  }
  HKEY handle_;
  LONG close_status_;
};

// Installed for each test: a close that reaches it went to the wrong registry.
class UniqueHKeyTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(installed_.closed.empty()) << "closed through the installed registry"; }

  CountingRegistry installed_;
  plat::ScopedUse<plat::Registry> use_{installed_};
};

TEST_F(UniqueHKeyTest, AnEmptyOwnerClosesNothing) {
  plat::UniqueHKey key;
  EXPECT_EQ(key.get(), 0U);
  EXPECT_EQ(key.Close(), plat::ERROR_SUCCESS);
  key.reset();
}

TEST_F(UniqueHKeyTest, ClosesThroughTheRegistryThatOpenedIt) {
  CountingRegistry opener(0x1234);
  CountingRegistry later;
  plat::UniqueHKey key;
  ASSERT_EQ(opener.RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "A", 0, plat::KEY_QUERY_VALUE, key.receive(opener)),
            plat::ERROR_SUCCESS);
  // Whatever is installed when the key is closed.
  const plat::ScopedUse<plat::Registry> use_later(later);
  EXPECT_EQ(key.get(), 0x1234U);
  EXPECT_EQ(key.Close(), plat::ERROR_SUCCESS);
  EXPECT_EQ(opener.closed, std::vector<HKEY>{0x1234});
  EXPECT_TRUE(later.closed.empty());
  EXPECT_EQ(key.get(), 0U);
}

TEST_F(UniqueHKeyTest, TheDestructorClosesThroughTheOpener) {
  CountingRegistry opener(0x55);
  {
    plat::UniqueHKey key;
    ASSERT_EQ(opener.RegCreateKeyExA(plat::HKEY_CURRENT_USER, "A", 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr,
                                     key.receive(opener), nullptr),
              plat::ERROR_SUCCESS);
  }
  EXPECT_EQ(opener.closed, std::vector<HKEY>{0x55});
}

TEST_F(UniqueHKeyTest, ReceivingAgainClosesTheKeyHeldThroughItsOpener) {
  CountingRegistry first(0x21);
  CountingRegistry second(0x42);
  {
    plat::UniqueHKey key;
    ASSERT_EQ(first.RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "A", 0, plat::KEY_QUERY_VALUE, key.receive(first)),
              plat::ERROR_SUCCESS);
    ASSERT_EQ(second.RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "B", 0, plat::KEY_QUERY_VALUE, key.receive(second)),
              plat::ERROR_SUCCESS);
    EXPECT_EQ(first.closed, std::vector<HKEY>{0x21});
    EXPECT_EQ(key.get(), 0x42U);
  }
  EXPECT_EQ(second.closed, std::vector<HKEY>{0x42});
}

TEST_F(UniqueHKeyTest, CloseGivesTheStatusOnceAndEmptiesTheOwner) {
  CountingRegistry opener(0x77, plat::ERROR_INVALID_HANDLE);
  plat::UniqueHKey key(opener, 0x77);
  EXPECT_EQ(key.Close(), plat::ERROR_INVALID_HANDLE);
  EXPECT_EQ(key.get(), 0U);
  EXPECT_EQ(key.Close(), plat::ERROR_SUCCESS);
  EXPECT_EQ(opener.closed, std::vector<HKEY>{0x77});
}

TEST_F(UniqueHKeyTest, AFaultOfTheCloseReachesCloseButNotReset) {
  CountingRegistry opener;
  opener.throws = true;
  plat::UniqueHKey closed(opener, 0x10);
  EXPECT_THROW((void)closed.Close(), plat::Error);
  EXPECT_EQ(closed.get(), 0U);
  plat::UniqueHKey reset(opener, 0x20);
  reset.reset();
  EXPECT_EQ(reset.get(), 0U);
  EXPECT_EQ(opener.closed, (std::vector<HKEY>{0x10, 0x20}));
}

TEST_F(UniqueHKeyTest, AMoveTakesTheKeyWithItsRegistry) {
  CountingRegistry first(0x1);
  CountingRegistry second(0x2);
  plat::UniqueHKey a(first, 0x1);
  plat::UniqueHKey moved(std::move(a));
  EXPECT_EQ(a.get(), 0U);  // NOLINT(bugprone-use-after-move): the moved-from owner is empty
  EXPECT_EQ(a.Close(), plat::ERROR_SUCCESS);
  EXPECT_TRUE(first.closed.empty());

  // Assignment closes the owner's key through its own registry first.
  plat::UniqueHKey target(second, 0x2);
  target = std::move(moved);
  EXPECT_EQ(second.closed, std::vector<HKEY>{0x2});
  EXPECT_TRUE(first.closed.empty());
  EXPECT_EQ(target.Close(), plat::ERROR_SUCCESS);
  EXPECT_EQ(first.closed, std::vector<HKEY>{0x1});
}

// Predefined roots and 0 are never closed; any other handle is, once.
struct HandleCase {
  HKEY handle;
  bool closed;
};

class UniqueHKeyHandles : public UniqueHKeyTest, public ::testing::WithParamInterface<HandleCase> {};

TEST_P(UniqueHKeyHandles, OnlyOpenedHandlesAreClosed) {
  CountingRegistry opener(GetParam().handle);
  plat::UniqueHKey key;
  ASSERT_EQ(opener.RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "", 0, plat::KEY_QUERY_VALUE, key.receive(opener)),
            plat::ERROR_SUCCESS);
  EXPECT_EQ(key.Close(), plat::ERROR_SUCCESS);
  EXPECT_EQ(opener.closed.size(), GetParam().closed ? 1U : 0U);
}

INSTANTIATE_TEST_SUITE_P(Handles, UniqueHKeyHandles,
                         ::testing::Values(HandleCase{0, false}, HandleCase{plat::HKEY_CLASSES_ROOT, false},
                                           HandleCase{plat::HKEY_CURRENT_USER, false},
                                           HandleCase{plat::HKEY_LOCAL_MACHINE, false},
                                           HandleCase{plat::HKEY_USERS, false}, HandleCase{0x4, true},
                                           HandleCase{0x7FFFFFFF, true}));

}  // namespace
