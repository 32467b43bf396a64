// The restart request of the Windows backend: the shutdown privilege is
// enabled in the process token before ExitWindowsEx, whose arguments and
// result pass through unchanged. The system's request is replaced here by a
// recorder, installed as the ShutdownRequest facility.
#include <gtest/gtest.h>

#include <vector>

#include "platform/exitwindows.h"
#include "platform/facility.h"
#include "platform/types.h"
#include "platform/win32/shutdown.h"

namespace {

struct Request {
  plat::UINT flags;
  plat::DWORD reserved;
  bool privilege_enabled;
};

std::vector<Request> g_requests;
plat::BOOL g_answer = plat::FALSE;

class RecordingRequest final : public plat::win32::ShutdownRequest {
 public:
  plat::BOOL ExitWindowsEx(plat::UINT uFlags, plat::DWORD dwReserved) override {
    g_requests.push_back({uFlags, dwReserved, plat::win32::ShutdownPrivilegeEnabled()});
    return g_answer;
  }
};

class ShutdownPrivilegeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_requests.clear();
    // Start from a token where the privilege is held but not enabled.
    ASSERT_TRUE(plat::win32::SetShutdownPrivilege(false));
    ASSERT_FALSE(plat::win32::ShutdownPrivilegeEnabled());
  }
  // Best effort: the next test's SetUp checks the token again.
  void TearDown() override { (void)plat::win32::SetShutdownPrivilege(false); }

  RecordingRequest request_;
  plat::ScopedUse<plat::win32::ShutdownRequest> use_request_{request_};
};

TEST_F(ShutdownPrivilegeTest, EnablingShowsInTheToken) {
  EXPECT_TRUE(plat::win32::SetShutdownPrivilege(true));
  EXPECT_TRUE(plat::win32::ShutdownPrivilegeEnabled());
  EXPECT_TRUE(plat::win32::SetShutdownPrivilege(false));
  EXPECT_FALSE(plat::win32::ShutdownPrivilegeEnabled());
}

struct RequestCase {
  const char* name;
  plat::UINT flags;
  plat::DWORD reserved;
  plat::BOOL answer;
};

class ShutdownRequestTest : public ShutdownPrivilegeTest, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(ShutdownRequestTest, EnablesThePrivilegeThenPassesTheCallThrough) {
  const RequestCase& c = GetParam();
  g_answer = c.answer;
  plat::win32::Win32Shutdown shutdown;
  EXPECT_EQ(shutdown.ExitWindowsEx(c.flags, c.reserved), c.answer);
  ASSERT_EQ(g_requests.size(), 1U);
  EXPECT_EQ(g_requests[0].flags, c.flags);
  EXPECT_EQ(g_requests[0].reserved, c.reserved);
  EXPECT_TRUE(g_requests[0].privilege_enabled);
}

TEST_P(ShutdownRequestTest, EveryCallIsOneRequest) {
  const RequestCase& c = GetParam();
  g_answer = c.answer;
  plat::win32::Win32Shutdown shutdown;
  // Only the requests made are looked at here.
  (void)shutdown.ExitWindowsEx(c.flags, c.reserved);
  (void)plat::win32::SetShutdownPrivilege(false);
  (void)shutdown.ExitWindowsEx(c.flags, c.reserved);
  ASSERT_EQ(g_requests.size(), 2U);
  EXPECT_TRUE(g_requests[1].privilege_enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ShutdownRequestTest,
    ::testing::Values(RequestCase{"RebootAccepted", plat::EWX_REBOOT, 0xFFFFFFFFU, plat::TRUE},
                      RequestCase{"ShutdownRefused", plat::EWX_SHUTDOWN, 0xFFFFFFFFU, plat::FALSE},
                      RequestCase{"LogoffZeroReserved", plat::EWX_LOGOFF, 0U, plat::TRUE},
                      RequestCase{"ForcedPowerOff", plat::EWX_SHUTDOWN | plat::EWX_FORCE | plat::EWX_POWEROFF,
                                  0x12345678U, plat::FALSE}),
    [](const ::testing::TestParamInfo<RequestCase>& info) { return std::string(info.param.name); });

}  // namespace
