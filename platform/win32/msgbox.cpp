// Modal message boxes (user32) and the report of an error nobody handled.
#include <cstdint>
#include <string>

#include "platform/app.h"
#include "platform/unhandled.h"
#include "platform/error.h"
#include "platform/msgbox.h"
#include "platform/win32/report.h"
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

namespace win32 {

std::u16string UnhandledText(std::int32_t number, const std::u16string& description) {
  // CR LF is the line break of message-box text; two of them leave a blank line.
  return u"Run-time error '" + Decimal(number) + u"':\r\n\r\n" + description;
}

}  // namespace win32

void ReportUnhandled(std::int32_t number, const std::u16string& description) {
  const std::u16string text = win32::UnhandledText(number, description);
  const std::u16string& title = App().Title;
  // The run ends after the report whatever the box answers.
  (void)Use<MsgBox>().MessageBoxW(0, text.c_str(), title.c_str(), MB_ICONHAND | MB_OK);
}

}  // namespace plat
