// The patch run against a scripted platform over the build's registry.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "patch/Skelvin_Patch_Main.h"
#include "platform/app.h"
#include "platform/error.h"
#include "platform/utf8.h"
#include "profile/cHalden.h"
#include "registry/cRegistry.h"
#include "tests/support/registry_env.h"
#include "tests/support/scripted.h"

namespace {

using testenv::RawValue;
using ::testing::ElementsAre;

constexpr char kKey[] = "Software\\Mediamatics\\DVD Express\\ActiveMovie Decoder\\Formats";
const RawValue kDwordZero{plat::REG_DWORD, {0, 0, 0, 0}};

class PatchSequence : public ::testing::Test {
 protected:
  PatchSequence() { testenv::RegistryEnv::DeleteTree(env_.api(), plat::HKEY_LOCAL_MACHINE, "Software\\Mediamatics"); }
  ~PatchSequence() override {
    testenv::RegistryEnv::DeleteTree(env_.api(), plat::HKEY_LOCAL_MACHINE, "Software\\Mediamatics");
  }

  std::optional<RawValue> Read(const std::string& name) {
    return testenv::ReadRaw(env_.api(), plat::HKEY_LOCAL_MACHINE, kKey, name);
  }
  void SetString(const std::string& name, const std::string& text) {
    plat::HKEY key = 0;
    ASSERT_EQ(env_.api().RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr,
                                         &key, nullptr),
              plat::ERROR_SUCCESS);
    ASSERT_EQ(
        env_.api().RegSetValueExA(key, name.c_str(), 0, plat::REG_SZ, reinterpret_cast<const plat::BYTE*>(text.c_str()),
                                  static_cast<plat::DWORD>(text.size() + 1)),
        plat::ERROR_SUCCESS);
    (void)env_.api().RegCloseKey(key);  // set-up: the value is read back by the test
  }

  testenv::RegistryEnv env_;
  testenv::EventLog log_;
  testenv::ScriptedRegistry registry_{env_.api(), &log_};
  testenv::RecordingMsgBox box_{&log_};
  testenv::RecordingShutdown shutdown_{&log_};
  plat::ScopedUse<plat::Registry> use_registry_{registry_};
  plat::ScopedUse<plat::MsgBox> use_box_{box_};
  plat::ScopedUse<plat::Shutdown> use_shutdown_{shutdown_};
};

const std::string kCreate = std::string("RegCreateKeyExA(") + kKey + ")";
const std::string kNotice = "MessageBox(To complete the installation, your computer will restart.|Restart|64)";

TEST_F(PatchSequence, WritesBothValuesThenNotifiesThenRequestsOneReboot) {
  skelvin::Skelvin_Patch_Main::Main();

  EXPECT_THAT(log_, ElementsAre(kCreate, "RegSetValueExA(YV12)", kCreate, "RegSetValueExA(NMMC)", kNotice,
                                "ExitWindowsEx(2,-1)"));
  EXPECT_EQ(Read("YV12"), kDwordZero);
  EXPECT_EQ(Read("NMMC"), kDwordZero);
  EXPECT_EQ(Read("Driver"), std::nullopt);
}

TEST_F(PatchSequence, ReplacesAStringAndRewritesValuesAlreadyZero) {
  SetString("YV12", "enabled");
  skelvin::Skelvin_Patch_Main::Main();
  skelvin::Skelvin_Patch_Main::Main();

  EXPECT_EQ(Read("YV12"), kDwordZero);
  EXPECT_EQ(Read("NMMC"), kDwordZero);
  EXPECT_EQ(shutdown_.calls.size(), 2U);
  EXPECT_EQ(box_.calls.size(), 2U);
}

TEST_F(PatchSequence, FailedFirstWriteRaisesTheAccessorErrorAndStopsTheRun) {
  registry_.FailSetValue("YV12", plat::ERROR_ACCESS_DENIED);
  try {
    skelvin::Skelvin_Patch_Main::Main();
    FAIL() << "the failed write did not raise";
  } catch (const plat::Error& error) {
    EXPECT_EQ(error.Number(), 26001);
    EXPECT_EQ(error.Source(), plat::App().EXEName + u".cRegistry");
    EXPECT_EQ(plat::ToUtf8(error.Description()),
              "Failed to set registry value Key: '-2147483646',Section: 'Software\\Mediamatics\\DVD "
              "Express\\ActiveMovie Decoder\\Formats',Key: 'YV12' to value: '0'");
  }
  EXPECT_TRUE(box_.calls.empty());
  EXPECT_TRUE(shutdown_.calls.empty());
  EXPECT_EQ(Read("YV12"), std::nullopt);
  EXPECT_EQ(Read("NMMC"), std::nullopt);
}

TEST_F(PatchSequence, FailedSecondWriteLeavesTheFirstValueWritten) {
  registry_.FailSetValue("NMMC", plat::ERROR_ACCESS_DENIED);
  try {
    skelvin::Skelvin_Patch_Main::Main();
    FAIL() << "the failed write did not raise";
  } catch (const plat::Error& error) {
    EXPECT_EQ(error.Number(), 26001);
    EXPECT_THAT(plat::ToUtf8(error.Description()), ::testing::EndsWith("',Key: 'NMMC' to value: '0'"));
  }
  EXPECT_EQ(Read("YV12"), kDwordZero);
  EXPECT_EQ(Read("NMMC"), std::nullopt);
  EXPECT_TRUE(box_.calls.empty());
  EXPECT_TRUE(shutdown_.calls.empty());
}

TEST_F(PatchSequence, ARefusedRestartGoesUnnoticed) {
  testenv::RecordingShutdown refusing(&log_, plat::FALSE);
  plat::ScopedUse<plat::Shutdown> use(refusing);
  EXPECT_NO_THROW(skelvin::Skelvin_Patch_Main::Main());
  EXPECT_EQ(refusing.calls.size(), 1U);
}

// Spies that record when the sequence creates and releases its objects.
testenv::EventLog* g_lifetimes = nullptr;

struct SpyRegistry : skelvin::cRegistry {
  SpyRegistry() { g_lifetimes->push_back("create registry"); }
  ~SpyRegistry() { g_lifetimes->push_back("release registry"); }
};
struct SpyHalden : skelvin::cHalden {
  SpyHalden() { g_lifetimes->push_back("create profile"); }
  ~SpyHalden() { g_lifetimes->push_back("release profile"); }
};

TEST_F(PatchSequence, CreatesEachObjectOnFirstUseAndReleasesTheProfileFirst) {
  g_lifetimes = &log_;
  skelvin::RunPatch<SpyRegistry, SpyHalden>();
  g_lifetimes = nullptr;
  EXPECT_THAT(log_,
              ElementsAre("create registry", kCreate, "RegSetValueExA(YV12)", kCreate, "RegSetValueExA(NMMC)", kNotice,
                          "create profile", "ExitWindowsEx(2,-1)", "release profile", "release registry"));
}

}  // namespace
