// The uncaught-error report of the Windows backend, the program's name as the
// backend finds it, and the message box facility's answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/app.h"
#include "platform/unhandled.h"
#include "platform/entry.h"
#include "platform/error.h"
#include "platform/facility.h"
#include "platform/msgbox.h"
#include "platform/win32/unhandled.h"

namespace {

struct Shown {
  plat::HWND owner;
  std::u16string text;
  std::u16string caption;
  plat::UINT style;
};

class RecordingMsgBox final : public plat::MsgBox {
 public:
  int MessageBoxW(plat::HWND hWnd, const char16_t* lpText, const char16_t* lpCaption, plat::UINT uType) override {
    shown.push_back({hWnd, lpText, lpCaption, uType});
    return plat::IDOK;
  }
  std::vector<Shown> shown;
};

const std::u16string kDescription =
    u"Failed to set registry value Key: '-2147483646',Section: "
    u"'Software\\Mediamatics\\DVD Express\\ActiveMovie Decoder\\Formats',Key: 'YV12' to value: '0'";

TEST(UnhandledTextTest, NumberThenABlankLineThenTheDescription) {
  EXPECT_EQ(plat::win32::UnhandledText(26001, kDescription), u"Run-time error '26001':\r\n\r\n" + kDescription);
  EXPECT_EQ(plat::win32::UnhandledText(-5, u"x"), u"Run-time error '-5':\r\n\r\nx");
}

// A program's identity installed, as its entry point installs it.
class ReportUnhandledTest : public ::testing::Test {
 protected:
  static constexpr plat::ProgramIdentity kIdentity{u"Skelvin Patch", 1, 0, 0, "1.00"};
  plat::FixedAppInfo app_{plat::AppInfoOf(kIdentity)};
  plat::ScopedUse<plat::AppMetadata> use_app_{app_};
  RecordingMsgBox box_;
  plat::ScopedUse<plat::MsgBox> use_{box_};
};

TEST_F(ReportUnhandledTest, ShowsACriticalBoxCaptionedWithTheTitle) {
  plat::ReportUnhandled(26001, kDescription);
  ASSERT_EQ(box_.shown.size(), 1U);
  EXPECT_EQ(box_.shown[0].owner, 0U);
  EXPECT_EQ(box_.shown[0].text, u"Run-time error '26001':\r\n\r\n" + kDescription);
  EXPECT_EQ(box_.shown[0].caption, u"Skelvin Patch");
  EXPECT_EQ(box_.shown[0].caption, plat::App().Title);
  EXPECT_EQ(box_.shown[0].style, plat::MB_ICONHAND | plat::MB_OK);
}

TEST_F(ReportUnhandledTest, CaptionFollowsTheApplicationTitle) {
  plat::FixedAppInfo info({u"Other Title", u"other", 2, 3, 4});
  const plat::ScopedUse<plat::AppMetadata> use_info(info);
  plat::ReportUnhandled(5, u"Invalid procedure call or argument");
  ASSERT_EQ(box_.shown.size(), 1U);
  EXPECT_EQ(box_.shown[0].caption, u"Other Title");
}

void ThrowAccessorError() { throw plat::Error(26001, u"Skelvin_Patch_eng.cRegistry", kDescription); }
void ReturnQuietly() {}

TEST_F(ReportUnhandledTest, AnUncaughtErrorEndsTheRunWithStatusOneAfterTheReport) {
  EXPECT_EQ(plat::RunProgram(&ThrowAccessorError), 1);
  ASSERT_EQ(box_.shown.size(), 1U);
  EXPECT_EQ(box_.shown[0].text, u"Run-time error '26001':\r\n\r\n" + kDescription);
}

TEST_F(ReportUnhandledTest, ANormalRunShowsNothing) {
  EXPECT_EQ(plat::RunProgram(&ReturnQuietly), 0);
  EXPECT_TRUE(box_.shown.empty());
}

TEST(ModuleBaseNameTest, IsTheExecutableNameWithoutDirectoryOrExtension) {
  EXPECT_EQ(plat::ModuleBaseName(), std::u16string(SKELVIN_TEST_EXE_NAME_U));
}

TEST(MsgBoxBackendTest, AFailedBoxAnswersZero) {
  // The test run has no display: the system cannot show the box.
  EXPECT_EQ(plat::Backend<plat::MsgBox>().MessageBoxW(0, u"text", u"caption", plat::MB_OK), 0);
}

}  // namespace
