// The program's identity, installed as its entry point installs it, is what
// its About dialog shows.
#include <gtest/gtest.h>

#include "about/frmAbout.h"
#include "about/frmAbout_design.h"
#include "platform/app.h"
#include "platform/entry.h"
#include "platform/facility.h"
#include "tests/about/recording_toolkit.h"

namespace {

TEST(ProgramIdentity, IsWhatTheAboutDialogShows) {
  testenv::RecordingToolkit toolkit;
  const plat::ScopedUse<plat::DialogToolkit> installed(toolkit);
  plat::FixedAppInfo app(plat::AppInfoOf(plat::ProgramInfo()));
  const plat::ScopedUse<plat::AppMetadata> use_app(app);
  skelvin::frmAbout form;
  form.Load();
  EXPECT_EQ(form.Caption(), u"About " + plat::App().Title);
  EXPECT_EQ(form.Caption(), u"About Skelvin Patch");
  EXPECT_EQ(form.ControlText(skelvin::about::kLblVersion), u"Version 1.0.0");
}

}  // namespace
