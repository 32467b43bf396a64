// The report of an error nobody handled: a critical message box.
#include "platform/unhandled.h"

#include <cstdint>
#include <string>

#include "platform/app.h"
#include "platform/error.h"
#include "platform/msgbox.h"
#include "platform/win32/unhandled.h"

namespace plat {

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
