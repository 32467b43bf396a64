// Modal message boxes (user32).
#include "platform/msgbox.h"
#include "platform/win32/win32.h"

namespace plat {
namespace {

class Win32MsgBox final : public MsgBox {
 public:
  [[nodiscard]] int MessageBoxW(HWND hWnd, const char16_t* lpText, const char16_t* lpCaption, UINT uType) override {
    const int result =
        ::MessageBoxW(reinterpret_cast<::HWND>(hWnd), win32::Wide(lpText), win32::Wide(lpCaption), uType);
    // Some hosts answer -1 when there is no display to show the box on.
    return result > 0 ? result : 0;
  }
};

}  // namespace

template <>
MsgBox& Backend<MsgBox>() {
  static Win32MsgBox box;
  return box;
}

}  // namespace plat
