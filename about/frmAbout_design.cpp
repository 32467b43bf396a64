// frmAbout's design description.
#include "about/frmAbout_design.h"

#include <array>

namespace skelvin::about {
namespace {

using plat::ControlDesign;
using plat::ControlKind;

constexpr std::int32_t kBlack = 0x000000;
constexpr std::int32_t kGrey = 0x808080;
constexpr std::int32_t kWhite = 0xFFFFFF;

constexpr std::array<ControlDesign, kControlCount> kControls{{
    // The picture box fits its 48x48 icon inside a 2-pixel sunken border:
    // 780 = 15 x (48 + 2 + 2).
    {.Name = u"picIcon",
     .Kind = ControlKind::PictureBox,
     .Left = 120,
     .Top = 120,
     .Width = 780,
     .Height = 780,
     .TabIndex = 1,
     .ShowsAppIcon = true,
     .SunkenBorder = 2},
    {.Name = u"cmdOK",
     .Kind = ControlKind::CommandButton,
     .Text = u"OK",
     .Left = 4320,
     .Top = 3120,
     .Width = 1260,
     .Height = 345,
     .TabIndex = 0,
     .Default = true,
     .Cancel = true},
    {.Name = u"Line1",
     .Index = 1,
     .Kind = ControlKind::Line,
     .X1 = 90,
     .Y1 = 2445,
     .X2 = 5654,
     .Y2 = 2445,
     .BorderColor = kGrey,
     .BorderWidth = 1,
     .Style = plat::LineStyle::InsideSolid},
    {.Name = u"lblDescription",
     .Kind = ControlKind::Label,
     .Text = u"App Description",
     .Left = 1050,
     .Top = 1125,
     .Width = 3885,
     .Height = 1170,
     .TabIndex = 2,
     .ForeColor = kBlack},
    {.Name = u"lblTitle",
     .Kind = ControlKind::Label,
     .Text = u"Application Title",
     .Left = 1050,
     .Top = 240,
     .Width = 3885,
     .Height = 480,
     .TabIndex = 4,
     .ForeColor = kBlack},
    {.Name = u"Line1",
     .Index = 0,
     .Kind = ControlKind::Line,
     .X1 = 105,
     .Y1 = 2460,
     .X2 = 5654,
     .Y2 = 2460,
     .BorderColor = kWhite,
     .BorderWidth = 2,
     .Style = plat::LineStyle::Solid},
    {.Name = u"lblVersion",
     .Kind = ControlKind::Label,
     .Text = u"Version",
     .Left = 1050,
     .Top = 780,
     .Width = 3885,
     .Height = 225,
     .TabIndex = 5},
    {.Name = u"lblDisclaimer",
     .Kind = ControlKind::Label,
     .Text = u"Warning: ...",
     .Left = 255,
     .Top = 2625,
     .Width = 3870,
     .Height = 825,
     .TabIndex = 3,
     .ForeColor = kBlack},
}};

constexpr plat::FormDesign kForm{
    .Name = u"frmAbout",
    .Caption = u"About MyApp",
    .Border = plat::FormBorder::FixedDialog,
    .MinButton = false,
    .MaxButton = false,
    .AppIcon = true,
    .Left = 2340,
    .Top = 1935,
    .ClientWidth = 5730,
    .ClientHeight = 3555,
    .Controls = kControls,
};

}  // namespace

const plat::FormDesign& Design() { return kForm; }

}  // namespace skelvin::about
