// A small dialog-window toolkit: forms built from a design description.
//
// A form's design (FormDesign) is plain data: the window's attributes and its
// controls in creation order, positions in twips (1/1440 inch) relative to
// the client area. A toolkit backend creates a live form from it with every
// control's design text, lets the caller change and read texts, shows it
// (modal or modeless) and destroys it. User actions come back through
// FormEvents: a click on a button (Enter presses the default button, Esc the
// cancel button) and a close request from the window's frame.
//
// On Windows the form is a real window with child controls; the POSIX
// backend draws the same design in the terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/facility.h"

namespace plat {

enum class ControlKind { PictureBox, CommandButton, Label, Line };
enum class LineStyle { Solid, InsideSolid };

// Colours are 0xRRGGBB; kDefaultColor leaves the platform's own.
inline constexpr std::int32_t kDefaultColor = -1;
// The number of twips in an inch; at 96 dots per inch a pixel is 15 twips.
inline constexpr int kTwipsPerInch = 1440;

// One control of a design. Rectangles (Left, Top, Width, Height) belong to
// picture boxes, buttons and labels; lines use X1, Y1 to X2, Y2 instead.
struct ControlDesign {
  std::u16string_view Name{};
  int Index = -1;  // index in a control array; -1 when the control is no member of one
  ControlKind Kind = ControlKind::Label;
  std::u16string_view Text{};  // design text of buttons and labels
  int Left = 0, Top = 0, Width = 0, Height = 0;
  int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
  int TabIndex = -1;                         // -1 for controls without one (lines)
  std::int32_t ForeColor = kDefaultColor;    // text colour of labels
  std::int32_t BorderColor = kDefaultColor;  // colour of lines
  int BorderWidth = 1;                       // pixels, lines
  LineStyle Style = LineStyle::Solid;
  bool Default = false;       // button pressed by Enter
  bool Cancel = false;        // button pressed by Esc
  bool ShowsAppIcon = false;  // picture box holding the application icon
  int SunkenBorder = 0;       // pixels of sunken border on each side of a picture box
};

// A button role: &ControlDesign::Default (Enter) or &ControlDesign::Cancel (Esc).
using ButtonRole = bool ControlDesign::*;

enum class FormBorder { FixedDialog };

struct FormDesign {
  std::u16string_view Name{};     // the form's class name
  std::u16string_view Caption{};  // design caption
  FormBorder Border = FormBorder::FixedDialog;
  bool MinButton = false;
  bool MaxButton = false;
  bool AppIcon = false;                   // the window icon is the application icon
  int Left = 0, Top = 0;                  // client area's top-left corner on the screen, twips
  int ClientWidth = 0, ClientHeight = 0;  // twips
  std::span<const ControlDesign> Controls{};
};

// A live form of a toolkit; 0 is no form.
using FormId = std::uintptr_t;

enum class ShowMode { Modeless = 0, Modal = 1 };

// What a form's owner hears from the toolkit. Both are called on the
// user-interface thread while the toolkit processes input.
class FormEvents {
 public:
  virtual ~FormEvents() = default;
  // A button was clicked (or pressed by Enter or Esc); `control` is its
  // position in the design's control list.
  virtual void Click(FormId form, std::size_t control) = 0;
  // The user asked the window's frame to close it (system menu, close box).
  virtual void CloseRequest(FormId form) = 0;
};

class DialogToolkit {
 public:
  virtual ~DialogToolkit() = default;
  // Creates the window and its controls, hidden, texts as designed. `design`
  // and `events` must outlive the form. 0 when the form cannot be created
  // (an id, not a status: see facility.h). The other calls return no status:
  // on a form id the toolkit does not know they do nothing (or answer an
  // empty text).
  [[nodiscard]] virtual FormId CreateForm(const FormDesign& design, FormEvents* events) = 0;
  virtual void SetCaption(FormId form, std::u16string_view text) = 0;
  virtual std::u16string Caption(FormId form) = 0;
  // Texts of buttons and labels, by position in the design's control list.
  virtual void SetText(FormId form, std::size_t control, std::u16string_view text) = 0;
  virtual std::u16string Text(FormId form, std::size_t control) = 0;
  // Shows the form with the focus on its lowest tab index. Modal: processes
  // input until the form is destroyed, then returns. Modeless: returns at once.
  virtual void Show(FormId form, ShowMode mode) = 0;
  // Closes the window and destroys it with its controls.
  virtual void DestroyForm(FormId form) = 0;
  // Processes input until no form of the toolkit is shown any more (the loop
  // that modeless forms need).
  virtual void RunEvents() = 0;
};

template <>
DialogToolkit& Backend<DialogToolkit>();

// Twips to pixels at `dpi` dots per inch, rounded to the nearest pixel.
constexpr int TwipsToPixels(int twips, int dpi) {
  const long long scaled = static_cast<long long>(twips) * dpi;
  return static_cast<int>(scaled >= 0 ? (scaled + kTwipsPerInch / 2) / kTwipsPerInch
                                      : -((-scaled + kTwipsPerInch / 2) / kTwipsPerInch));
}

}  // namespace plat
