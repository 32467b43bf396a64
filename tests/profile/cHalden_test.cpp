#include <gtest/gtest.h>

#include "profile/cHalden.h"
#include "tests/support/scripted.h"

namespace {

struct ExitWinCase {
  std::u16string word;
  std::vector<plat::UINT> flags;  // one request per entry, reserved always -1
};

class ExitWinTest : public ::testing::TestWithParam<ExitWinCase> {};

TEST_P(ExitWinTest, MakesOneRequestPerRecognisedWordAndNoneOtherwise) {
  testenv::RecordingShutdown shutdown;
  plat::ScopedUse<plat::Shutdown> use(shutdown);
  skelvin::cHalden halden;
  EXPECT_NO_THROW(halden.ExitWin(GetParam().word));
  ASSERT_EQ(shutdown.calls.size(), GetParam().flags.size());
  for (std::size_t i = 0; i < shutdown.calls.size(); ++i) {
    EXPECT_EQ(shutdown.calls[i].flags, GetParam().flags[i]);
    EXPECT_EQ(shutdown.calls[i].reserved, 0xFFFFFFFFU);
  }
}

INSTANTIATE_TEST_SUITE_P(Words, ExitWinTest,
                         ::testing::Values(ExitWinCase{u"Reboot", {plat::EWX_REBOOT}},
                                           ExitWinCase{u"Shutdown", {plat::EWX_SHUTDOWN}}, ExitWinCase{u"reboot", {}},
                                           ExitWinCase{u"SHUTDOWN", {}}, ExitWinCase{u"Restart", {}},
                                           ExitWinCase{u"", {}}, ExitWinCase{u" Reboot", {}},
                                           ExitWinCase{u"Reboot ", {}},
                                           ExitWinCase{std::u16string(u"Reboot\0", 7), {}}));

TEST(ExitWin, EachSetMakesAnotherRequestAndARefusalIsIgnored) {
  testenv::RecordingShutdown refusing(nullptr, plat::FALSE);
  plat::ScopedUse<plat::Shutdown> use(refusing);
  skelvin::cHalden halden;
  halden.ExitWin(u"Reboot");
  halden.ExitWin(u"Reboot");
  EXPECT_EQ(refusing.calls.size(), 2U);
}

TEST(cHalden, ANewObjectReportsEmptyIdentifiers) {
  const skelvin::cHalden halden;
  EXPECT_EQ(halden.ModelName(), u"");
  EXPECT_EQ(halden.Language(), u"");
  EXPECT_EQ(halden.RecoveryCD(), u"");
}

}  // namespace
