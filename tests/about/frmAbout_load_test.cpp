// frmAbout's design, load handler, OK handler and load/unload cycle, over a
// recording dialog toolkit.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "about/frmAbout.h"
#include "about/frmAbout_design.h"
#include "platform/app.h"
#include "platform/error.h"
#include "platform/facility.h"
#include "tests/about/recording_toolkit.h"

namespace {

using skelvin::frmAbout;
namespace about = skelvin::about;

plat::AppInfo Info(std::u16string title, std::int16_t major, std::int16_t minor, std::int16_t revision) {
  return plat::AppInfo{std::move(title), u"Skelvin_Patch_eng", major, minor, revision};
}

class AboutLoad : public ::testing::Test {
 protected:
  testenv::RecordingToolkit toolkit;
  plat::ScopedUse<plat::DialogToolkit> installed{toolkit};
};

// The design, control by control, as the dialog's table lays it out.
struct ControlRow {
  const char16_t* name;
  int index;
  plat::ControlKind kind;
  const char16_t* text;
  int left, top, width, height;
  int tab_index;
};

TEST(AboutDesign, WindowAttributes) {
  const plat::FormDesign& d = about::Design();
  EXPECT_EQ(d.Name, u"frmAbout");
  EXPECT_EQ(d.Caption, u"About MyApp");
  EXPECT_EQ(d.Border, plat::FormBorder::FixedDialog);
  EXPECT_FALSE(d.MinButton);
  EXPECT_FALSE(d.MaxButton);
  EXPECT_TRUE(d.AppIcon);
  EXPECT_EQ(d.ClientWidth, 5730);
  EXPECT_EQ(d.ClientHeight, 3555);
  EXPECT_EQ(d.Left, 2340);
  EXPECT_EQ(d.Top, 1935);
  ASSERT_EQ(d.Controls.size(), about::kControlCount);
}

TEST(AboutDesign, ControlsInCreationOrder) {
  using K = plat::ControlKind;
  const ControlRow rows[] = {
      {u"picIcon", -1, K::PictureBox, u"", 120, 120, 780, 780, 1},
      {u"cmdOK", -1, K::CommandButton, u"OK", 4320, 3120, 1260, 345, 0},
      {u"Line1", 1, K::Line, u"", 0, 0, 0, 0, -1},
      {u"lblDescription", -1, K::Label, u"App Description", 1050, 1125, 3885, 1170, 2},
      {u"lblTitle", -1, K::Label, u"Application Title", 1050, 240, 3885, 480, 4},
      {u"Line1", 0, K::Line, u"", 0, 0, 0, 0, -1},
      {u"lblVersion", -1, K::Label, u"Version", 1050, 780, 3885, 225, 5},
      {u"lblDisclaimer", -1, K::Label, u"Warning: ...", 255, 2625, 3870, 825, 3},
  };
  const auto& controls = about::Design().Controls;
  ASSERT_EQ(controls.size(), std::size(rows));
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(controls[i].Name, rows[i].name);
    EXPECT_EQ(controls[i].Index, rows[i].index);
    EXPECT_EQ(controls[i].Kind, rows[i].kind);
    EXPECT_EQ(controls[i].Text, rows[i].text);
    EXPECT_EQ(controls[i].TabIndex, rows[i].tab_index);
    if (rows[i].kind != K::Line) {
      EXPECT_EQ(controls[i].Left, rows[i].left);
      EXPECT_EQ(controls[i].Top, rows[i].top);
      EXPECT_EQ(controls[i].Width, rows[i].width);
      EXPECT_EQ(controls[i].Height, rows[i].height);
    }
  }
  EXPECT_EQ(controls[about::kPicIcon].Name, u"picIcon");
  EXPECT_EQ(controls[about::kCmdOK].Name, u"cmdOK");
  EXPECT_EQ(controls[about::kLblTitle].Name, u"lblTitle");
  EXPECT_EQ(controls[about::kLblVersion].Name, u"lblVersion");
  EXPECT_EQ(controls[about::kLblDescription].Name, u"lblDescription");
  EXPECT_EQ(controls[about::kLblDisclaimer].Name, u"lblDisclaimer");
}

TEST(AboutDesign, FurtherAttributes) {
  const auto& c = about::Design().Controls;
  // The picture box: the application icon inside a 2-pixel sunken border,
  // 780 = 15 x (48 + 2 + 2).
  EXPECT_TRUE(c[about::kPicIcon].ShowsAppIcon);
  EXPECT_EQ(c[about::kPicIcon].SunkenBorder, 2);
  EXPECT_EQ(c[about::kPicIcon].Width, 15 * (48 + 2 * c[about::kPicIcon].SunkenBorder));
  EXPECT_TRUE(c[about::kCmdOK].Default);
  EXPECT_TRUE(c[about::kCmdOK].Cancel);
  for (std::size_t i : {about::kLblDescription, about::kLblTitle, about::kLblDisclaimer}) {
    EXPECT_EQ(c[i].ForeColor, 0x000000) << i;
  }
  EXPECT_EQ(c[about::kLblVersion].ForeColor, plat::kDefaultColor);
  const auto& grey = c[about::kLine1Grey];
  EXPECT_EQ(grey.Index, 1);
  EXPECT_EQ(grey.BorderColor, 0x808080);
  EXPECT_EQ(grey.BorderWidth, 1);
  EXPECT_EQ(grey.Style, plat::LineStyle::InsideSolid);
  EXPECT_EQ((std::array{grey.X1, grey.Y1, grey.X2, grey.Y2}), (std::array{90, 2445, 5654, 2445}));
  const auto& white = c[about::kLine1White];
  EXPECT_EQ(white.Index, 0);
  EXPECT_EQ(white.BorderColor, 0xFFFFFF);
  EXPECT_EQ(white.BorderWidth, 2);
  EXPECT_EQ(white.Style, plat::LineStyle::Solid);
  EXPECT_EQ((std::array{white.X1, white.Y1, white.X2, white.Y2}), (std::array{105, 2460, 5654, 2460}));
  // One pixel below the grey line and one pixel further right.
  EXPECT_EQ(white.Y1 - grey.Y1, 15);
  EXPECT_EQ(white.X1 - grey.X1, 15);
}

TEST_F(AboutLoad, LoadFillsCaptionTitleAndVersion) {
  plat::FixedAppInfo app(Info(u"Skelvin Patch", 1, 0, 0));
  const plat::ScopedUse<plat::AppMetadata> use_app(app);
  frmAbout form;
  form.Load();
  ASSERT_TRUE(form.Loaded());
  EXPECT_EQ(form.Caption(), u"About Skelvin Patch");
  EXPECT_EQ(form.ControlText(about::kLblTitle), u"Skelvin Patch");
  EXPECT_EQ(form.ControlText(about::kLblVersion), u"Version 1.0.0");
  EXPECT_EQ(form.ControlText(about::kLblDescription), u"App Description");
  EXPECT_EQ(form.ControlText(about::kLblDisclaimer), u"Warning: ...");
  EXPECT_EQ(form.ControlText(about::kCmdOK), u"OK");
  // Created from the design, then the handler in its order; not shown.
  const std::vector<std::string> expected{"CreateForm(frmAbout)", "SetCaption(About Skelvin Patch)",
                                          "SetText(6,Version 1.0.0)", "SetText(4,Skelvin Patch)"};
  EXPECT_EQ(toolkit.log, expected);
}

struct VersionCase {
  std::int16_t major, minor, revision;
  const char16_t* label;
};

class AboutVersion : public AboutLoad, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(AboutVersion, PlainDecimalNumbers) {
  const VersionCase& v = GetParam();
  plat::FixedAppInfo app(Info(u"T", v.major, v.minor, v.revision));
  const plat::ScopedUse<plat::AppMetadata> use_app(app);
  frmAbout form;
  form.Load();
  EXPECT_EQ(form.ControlText(about::kLblVersion), v.label);
}

INSTANTIATE_TEST_SUITE_P(Numbers, AboutVersion,
                         ::testing::Values(VersionCase{1, 0, 0, u"Version 1.0.0"},
                                           VersionCase{2, 10, 3, u"Version 2.10.3"},
                                           VersionCase{0, 0, 0, u"Version 0.0.0"},
                                           VersionCase{10, 200, 3000, u"Version 10.200.3000"},
                                           VersionCase{32767, -1, -32768, u"Version 32767.-1.-32768"}));

TEST_F(AboutLoad, EmptyTitle) {
  plat::FixedAppInfo app(Info(u"", 1, 0, 0));
  const plat::ScopedUse<plat::AppMetadata> use_app(app);
  frmAbout form;
  form.Load();
  EXPECT_EQ(form.Caption(), u"About ");
  EXPECT_EQ(form.ControlText(about::kLblTitle), u"");
}

TEST_F(AboutLoad, OkUnloadsAndReloadStartsFromTheDesign) {
  plat::FixedAppInfo app(Info(u"First", 1, 2, 3));
  const plat::ScopedUse<plat::AppMetadata> use_app(app);
  frmAbout form;
  form.Load();
  const plat::FormId first = toolkit.Only();
  // Texts changed behind the handler's back do not survive an unload.
  toolkit.SetText(first, about::kLblDescription, u"changed");
  toolkit.Press(first, about::kCmdOK);
  EXPECT_FALSE(form.Loaded());
  EXPECT_TRUE(toolkit.forms.empty());
  EXPECT_EQ(form.Caption(), u"");

  toolkit.log.clear();
  form.Load();
  ASSERT_TRUE(form.Loaded());
  EXPECT_EQ(toolkit.log.front(), "CreateForm(frmAbout)");
  EXPECT_NE(toolkit.Only(), first);
  EXPECT_EQ(form.ControlText(about::kLblDescription), u"App Description");
  EXPECT_EQ(form.Caption(), u"About First");
  EXPECT_EQ(form.ControlText(about::kLblVersion), u"Version 1.2.3");
}

TEST_F(AboutLoad, EachLoadReadsTheMetadataAgain) {
  frmAbout form;
  {
    plat::FixedAppInfo app(Info(u"One", 1, 0, 0));
    const plat::ScopedUse<plat::AppMetadata> use_app(app);
    form.Load();
    form.Unload();
  }
  plat::FixedAppInfo app(Info(u"Two", 2, 10, 3));
  const plat::ScopedUse<plat::AppMetadata> use_app(app);
  form.Load();
  EXPECT_EQ(form.Caption(), u"About Two");
  EXPECT_EQ(form.ControlText(about::kLblTitle), u"Two");
  EXPECT_EQ(form.ControlText(about::kLblVersion), u"Version 2.10.3");
}

TEST_F(AboutLoad, LoadTwiceKeepsTheOneForm) {
  frmAbout form;
  form.Load();
  form.Load();
  EXPECT_EQ(toolkit.forms.size(), 1U);
}

// Enter presses the default button and Esc the cancel button: both are cmdOK,
// so each closes the dialog as a click does.
class AboutKeys : public AboutLoad, public ::testing::WithParamInterface<const char*> {};

TEST_P(AboutKeys, CloseTheDialog) {
  frmAbout form;
  toolkit.while_modal = [&](plat::FormId id) {
    const std::string how = GetParam();
    std::size_t button = about::kCmdOK;
    if (how == "Enter") button = toolkit.RoleButton(id, &plat::ControlDesign::Default);
    if (how == "Esc") button = toolkit.RoleButton(id, &plat::ControlDesign::Cancel);
    ASSERT_EQ(button, about::kCmdOK);
    toolkit.Press(id, button);
  };
  form.Show(plat::ShowMode::Modal);
  EXPECT_FALSE(form.Loaded());
  EXPECT_TRUE(toolkit.forms.empty());
  EXPECT_EQ(toolkit.log.back(), "DestroyForm");
}

INSTANTIATE_TEST_SUITE_P(Keys, AboutKeys, ::testing::Values("Click", "Enter", "Esc"));

TEST_F(AboutLoad, OtherControlsDoNotClose) {
  frmAbout form;
  form.Load();
  const plat::FormId id = toolkit.Only();
  for (std::size_t i = 0; i < about::kControlCount; ++i) {
    if (i != about::kCmdOK) toolkit.Press(id, i);
  }
  EXPECT_TRUE(form.Loaded());
}

TEST_F(AboutLoad, ShowLoadsFirstAndModelessReturns) {
  frmAbout form;
  form.Show();
  EXPECT_TRUE(form.Loaded());
  const std::vector<std::string> tail(toolkit.log.end() - 1, toolkit.log.end());
  EXPECT_EQ(tail, std::vector<std::string>{"Show(modeless)"});
  EXPECT_EQ(toolkit.log.front(), "CreateForm(frmAbout)");
}

TEST_F(AboutLoad, CloseFromTheFrameUnloads) {
  frmAbout form;
  form.Load();
  toolkit.Close(toolkit.Only());
  EXPECT_FALSE(form.Loaded());
  EXPECT_TRUE(toolkit.forms.empty());
}

TEST_F(AboutLoad, DestructionUnloads) {
  {
    frmAbout form;
    form.Load();
  }
  EXPECT_TRUE(toolkit.forms.empty());
}

TEST_F(AboutLoad, FailedCreationIsFault7) {
  toolkit.fail_create = true;
  frmAbout form;
  try {
    form.Load();
    FAIL() << "no error";
  } catch (const plat::Error& error) {
    EXPECT_EQ(error.Number(), plat::kOutOfMemory);
  }
  EXPECT_FALSE(form.Loaded());
}

TEST(AboutTwips, PixelsAtScreenResolutions) {
  EXPECT_EQ(plat::TwipsToPixels(15, 96), 1);
  EXPECT_EQ(plat::TwipsToPixels(5730, 96), 382);
  EXPECT_EQ(plat::TwipsToPixels(5654, 96), 377);  // 376.93
  EXPECT_EQ(plat::TwipsToPixels(780, 120), 65);
  EXPECT_EQ(plat::TwipsToPixels(1440, 144), 144);
  EXPECT_EQ(plat::TwipsToPixels(7, 96), 0);
  EXPECT_EQ(plat::TwipsToPixels(8, 96), 1);
}

}  // namespace
