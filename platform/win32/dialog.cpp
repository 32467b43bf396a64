// The dialog toolkit over user32: a form is a top-level window of its own
// class (the design's name) with a fixed dialog frame, child controls
// ("Button" and "Static"), and lines painted on the form itself. Twips become
// pixels at the screen's dots per inch (LOGPIXELSX). The window icon and the
// picture of a picture box are the application icon, group 1 of the
// executable's resources; a program without it shows no icon. Keys reach the
// controls through IsDialogMessage, so that Enter presses the default button
// and Esc the cancel button.
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/dialog.h"
#include "platform/win32/win32.h"

namespace plat {
namespace {

constexpr int kFirstControlId = 1000;
constexpr int kAppIconResource = 1;
constexpr int kIconSize = 48;

struct Form {
  FormId id = 0;
  const FormDesign* design = nullptr;
  FormEvents* events = nullptr;
  ::HWND hwnd = nullptr;
  std::vector<::HWND> controls;  // one per design control; null for lines
  int dpi = 96;
  ::HICON big_icon = nullptr;
  ::HICON small_icon = nullptr;
  ::HWND focus = nullptr;  // the control that had the focus when the form was deactivated
};

::COLORREF ToColorRef(std::int32_t rgb) {
  const auto v = static_cast<std::uint32_t>(rgb);
  return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

int Px(int twips, const Form& form) { return TwipsToPixels(twips, form.dpi); }

Form* FormOf(::HWND hwnd) { return reinterpret_cast<Form*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

// The control of the design list whose role `role` is set.
int FindButton(const Form& form, ButtonRole role) {
  const auto& controls = form.design->Controls;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (controls[i].Kind == ControlKind::CommandButton && controls[i].*role) return static_cast<int>(i);
  }
  return -1;
}

// The control that takes the focus when the form opens: the lowest tab index
// among the controls that can hold it (buttons).
::HWND FirstFocus(const Form& form) {
  ::HWND best = nullptr;
  int best_index = 0;
  const auto& controls = form.design->Controls;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (controls[i].Kind != ControlKind::CommandButton || form.controls[i] == nullptr) continue;
    if (best == nullptr || controls[i].TabIndex < best_index) {
      best = form.controls[i];
      best_index = controls[i].TabIndex;
    }
  }
  return best;
}

void PaintLines(const Form& form, ::HDC dc) {
  for (const ControlDesign& c : form.design->Controls) {
    if (c.Kind != ControlKind::Line) continue;
    // A horizontal or vertical band `BorderWidth` pixels thick, starting at
    // the line's position and growing right or down (inside the line's
    // bounds, as an inside-solid line is drawn).
    const int x1 = Px(std::min(c.X1, c.X2), form);
    const int x2 = Px(std::max(c.X1, c.X2), form);
    const int y1 = Px(std::min(c.Y1, c.Y2), form);
    const int y2 = Px(std::max(c.Y1, c.Y2), form);
    const int thickness = std::max(c.BorderWidth, 1);
    ::RECT band{x1, y1, std::max(x2, x1 + thickness), std::max(y2, y1 + thickness)};
    const std::int32_t rgb = c.BorderColor == kDefaultColor ? 0x000000 : c.BorderColor;
    const ::HBRUSH brush = ::CreateSolidBrush(ToColorRef(rgb));
    ::FillRect(dc, &band, brush);
    ::DeleteObject(brush);
  }
}

void PressButton(Form& form, int index) {
  if (index >= 0) form.events->Click(form.id, static_cast<std::size_t>(index));
}

::LRESULT CALLBACK FormProc(::HWND hwnd, ::UINT message, ::WPARAM wparam, ::LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const ::CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<::LONG_PTR>(create->lpCreateParams));
    return ::DefWindowProcW(hwnd, message, wparam, lparam);
  }
  Form* form = FormOf(hwnd);
  if (form == nullptr) return ::DefWindowProcW(hwnd, message, wparam, lparam);
  switch (message) {
    case WM_PAINT: {
      ::PAINTSTRUCT paint;
      const ::HDC dc = ::BeginPaint(hwnd, &paint);
      PaintLines(*form, dc);
      ::EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      const auto dc = reinterpret_cast<::HDC>(wparam);
      const auto control = reinterpret_cast<::HWND>(lparam);
      const auto& controls = form->design->Controls;
      for (std::size_t i = 0; i < controls.size(); ++i) {
        if (form->controls[i] == control && controls[i].ForeColor != kDefaultColor) {
          ::SetTextColor(dc, ToColorRef(controls[i].ForeColor));
        }
      }
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<::LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case DM_GETDEFID: {
      const int index = FindButton(*form, &ControlDesign::Default);
      return index >= 0 ? MAKELRESULT(kFirstControlId + index, DC_HASDEFID) : 0;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      const int code = HIWORD(wparam);
      if (id == IDCANCEL) {
        PressButton(*form, FindButton(*form, &ControlDesign::Cancel));
      } else if (id == IDOK) {
        PressButton(*form, FindButton(*form, &ControlDesign::Default));
      } else if (code == BN_CLICKED && id >= kFirstControlId &&
                 id < kFirstControlId + static_cast<int>(form->design->Controls.size()) &&
                 form->design->Controls[static_cast<std::size_t>(id - kFirstControlId)].Kind ==
                     ControlKind::CommandButton) {
        PressButton(*form, id - kFirstControlId);
      }
      // The form may be gone now: nothing of it is touched after a press.
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wparam) == WA_INACTIVE) {
        const ::HWND focus = ::GetFocus();
        if (focus != nullptr && ::IsChild(hwnd, focus)) form->focus = focus;
      } else {
        ::SetFocus(form->focus != nullptr ? form->focus : FirstFocus(*form));
      }
      return 0;
    case WM_CLOSE:
      form->events->CloseRequest(form->id);
      return 0;
    case WM_NCDESTROY:
      form->hwnd = nullptr;
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

bool RegisterFormClass(const std::wstring& name) {
  ::WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  const ::HINSTANCE instance = ::GetModuleHandleW(nullptr);
  if (::GetClassInfoExW(instance, name.c_str(), &existing) != 0) return true;
  ::WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = FormProc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<const wchar_t*>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<::HBRUSH>(static_cast<::INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = name.c_str();
  return ::RegisterClassExW(&wc) != 0;
}

::HICON LoadAppIcon(int size) {
  return static_cast<::HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kAppIconResource), IMAGE_ICON,
                                           size, size, LR_DEFAULTCOLOR));
}

std::wstring WideText(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

std::u16string WindowText(::HWND hwnd) {
  if (hwnd == nullptr) return {};
  const int length = ::GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = ::GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

class Win32Toolkit final : public DialogToolkit {
 public:
  [[nodiscard]] FormId CreateForm(const FormDesign& design, FormEvents* events) override {
    const std::wstring class_name = WideText(design.Name);
    if (!RegisterFormClass(class_name)) return 0;
    auto form = std::make_unique<Form>();
    form->id = next_++;
    form->design = &design;
    form->events = events;
    const ::HDC screen = ::GetDC(nullptr);
    if (screen != nullptr) {
      const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
      if (dpi > 0) form->dpi = dpi;
      ::ReleaseDC(nullptr, screen);
    }

    // A fixed dialog frame: caption and system menu, no sizing border, no
    // minimize or maximize box.
    ::DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    if (design.MinButton) style |= WS_MINIMIZEBOX;
    if (design.MaxButton) style |= WS_MAXIMIZEBOX;
    const ::DWORD ex_style = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT;
    const int left = Px(design.Left, *form);
    const int top = Px(design.Top, *form);
    ::RECT frame{left, top, left + Px(design.ClientWidth, *form), top + Px(design.ClientHeight, *form)};
    ::AdjustWindowRectEx(&frame, style, FALSE, ex_style);
    const std::wstring caption = WideText(design.Caption);
    form->hwnd = ::CreateWindowExW(ex_style, class_name.c_str(), caption.c_str(), style, frame.left, frame.top,
                                   frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                   ::GetModuleHandleW(nullptr), form.get());
    if (form->hwnd == nullptr) return 0;

    if (design.AppIcon) {
      form->big_icon = LoadAppIcon(kIconSize);
      form->small_icon = LoadAppIcon(::GetSystemMetrics(SM_CXSMICON));
      if (form->big_icon != nullptr) {
        ::SendMessageW(form->hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<::LPARAM>(form->big_icon));
      }
      if (form->small_icon != nullptr) {
        ::SendMessageW(form->hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<::LPARAM>(form->small_icon));
      }
    }
    const auto font = reinterpret_cast<::WPARAM>(::GetStockObject(DEFAULT_GUI_FONT));
    for (std::size_t i = 0; i < design.Controls.size(); ++i) {
      const ::HWND control = CreateControl(*form, design.Controls[i], static_cast<int>(i));
      if (control != nullptr) ::SendMessageW(control, WM_SETFONT, font, FALSE);
      form->controls.push_back(control);
    }
    const FormId id = form->id;
    forms_.emplace(id, std::move(form));
    return id;
  }

  void SetCaption(FormId id, std::u16string_view text) override {
    if (Form* form = Find(id)) ::SetWindowTextW(form->hwnd, WideText(text).c_str());
  }
  std::u16string Caption(FormId id) override {
    Form* form = Find(id);
    return form != nullptr ? WindowText(form->hwnd) : std::u16string();
  }
  void SetText(FormId id, std::size_t control, std::u16string_view text) override {
    Form* form = Find(id);
    if (form == nullptr || control >= form->controls.size() || form->controls[control] == nullptr) return;
    ::SetWindowTextW(form->controls[control], WideText(text).c_str());
  }
  std::u16string Text(FormId id, std::size_t control) override {
    Form* form = Find(id);
    if (form == nullptr || control >= form->controls.size()) return {};
    return WindowText(form->controls[control]);
  }

  void Show(FormId id, ShowMode mode) override {
    Form* form = Find(id);
    if (form == nullptr) return;
    const ::HWND hwnd = form->hwnd;
    std::vector<::HWND> disabled;
    if (mode == ShowMode::Modal) {
      // A modal form: the thread's other windows take no input meanwhile.
      for (const auto& [other_id, other] : forms_) {
        if (other_id != id && other->hwnd != nullptr && ::IsWindowEnabled(other->hwnd) != 0) {
          ::EnableWindow(other->hwnd, FALSE);
          disabled.push_back(other->hwnd);
        }
      }
    }
    ::ShowWindow(hwnd, SW_SHOWNORMAL);
    ::UpdateWindow(hwnd);
    ::SetForegroundWindow(hwnd);
    ::SetFocus(FirstFocus(*form));
    if (mode == ShowMode::Modal) {
      while (::IsWindow(hwnd) != 0 && Find(id) != nullptr && PumpOne()) {
      }
      for (const ::HWND other : disabled) {
        if (::IsWindow(other) != 0) ::EnableWindow(other, TRUE);
      }
    }
  }

  void DestroyForm(FormId id) override {
    auto it = forms_.find(id);
    if (it == forms_.end()) return;
    std::unique_ptr<Form> form = std::move(it->second);
    forms_.erase(it);
    if (form->hwnd != nullptr) ::DestroyWindow(form->hwnd);
    if (form->big_icon != nullptr) ::DestroyIcon(form->big_icon);
    if (form->small_icon != nullptr) ::DestroyIcon(form->small_icon);
  }

  void RunEvents() override {
    while (AnyVisible() && PumpOne()) {
    }
  }

 private:
  static ::HWND CreateControl(const Form& form, const ControlDesign& c, int index) {
    const auto id = reinterpret_cast<::HMENU>(static_cast<::INT_PTR>(kFirstControlId + index));
    const std::wstring text = WideText(c.Text);
    int left = Px(c.Left, form);
    int top = Px(c.Top, form);
    int width = Px(c.Width, form);
    int height = Px(c.Height, form);
    const ::HINSTANCE instance = ::GetModuleHandleW(nullptr);
    switch (c.Kind) {
      case ControlKind::Line:
        return nullptr;
      case ControlKind::PictureBox: {
        const ::DWORD ex_style = c.SunkenBorder > 0 ? WS_EX_CLIENTEDGE : 0;
        const ::HICON icon = c.ShowsAppIcon ? form.big_icon : nullptr;
        if (icon != nullptr) {
          // The box fits its picture and its border.
          width = kIconSize + 2 * c.SunkenBorder;
          height = kIconSize + 2 * c.SunkenBorder;
        }
        const ::HWND box = ::CreateWindowExW(ex_style, L"Static", L"", WS_CHILD | WS_VISIBLE | SS_ICON | SS_CENTERIMAGE,
                                             left, top, width, height, form.hwnd, id, instance, nullptr);
        if (box != nullptr && icon != nullptr) ::SendMessageW(box, STM_SETICON, reinterpret_cast<::WPARAM>(icon), 0);
        return box;
      }
      case ControlKind::CommandButton: {
        const ::DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (c.Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        return ::CreateWindowExW(0, L"Button", text.c_str(), style, left, top, width, height, form.hwnd, id, instance,
                                 nullptr);
      }
      case ControlKind::Label:
        return ::CreateWindowExW(0, L"Static", text.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT, left, top, width, height,
                                 form.hwnd, id, instance, nullptr);
    }
    return nullptr;
  }

  Form* Find(FormId id) {
    auto it = forms_.find(id);
    return it != forms_.end() ? it->second.get() : nullptr;
  }

  bool IsOurs(::HWND hwnd) const {
    return std::any_of(forms_.begin(), forms_.end(), [hwnd](const auto& entry) { return entry.second->hwnd == hwnd; });
  }

  bool AnyVisible() const {
    return std::any_of(forms_.begin(), forms_.end(), [](const auto& entry) {
      return entry.second->hwnd != nullptr && ::IsWindowVisible(entry.second->hwnd) != 0;
    });
  }

  // Takes one message from the thread's queue and hands it on; false once
  // the queue has been told to quit (the quit message is put back for the
  // loop that owns it).
  bool PumpOne() {
    ::MSG msg;
    const ::BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    if (got < 0) return false;
    const ::HWND root = msg.hwnd != nullptr ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr && IsOurs(root) && ::IsDialogMessageW(root, &msg) != 0) return true;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
    return true;
  }

  std::map<FormId, std::unique_ptr<Form>> forms_;
  FormId next_ = 1;
};

}  // namespace

template <>
DialogToolkit& Backend<DialogToolkit>() {
  static Win32Toolkit toolkit;
  return toolkit;
}

}  // namespace plat
