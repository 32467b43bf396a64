// Message boxes on the terminal: the box on standard output, its OK prompt on
// standard input.
#include <cstdio>
#include <string>

#include "platform/app.h"
#include "platform/msgbox.h"
#include "platform/posix/output.h"
#include "platform/utf8.h"

namespace plat {
namespace {

using posix::WriteOutput;

// A lone CR (the Windows message box's line break) becomes a line feed.
std::string TerminalText(const char16_t* text) {
  std::u16string wide = text != nullptr ? std::u16string(text) : std::u16string();
  std::u16string out;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] == u'\r') {
      out += u'\n';
      if (i + 1 < wide.size() && wide[i + 1] == u'\n') ++i;
    } else {
      out += wide[i];
    }
  }
  return ToUtf8(out);
}

const char* IconMark(UINT type) {
  switch (type & 0xF0) {
    case MB_ICONHAND:
      return "(x) ";
    case MB_ICONQUESTION:
      return "(?) ";
    case MB_ICONEXCLAMATION:
      return "(!) ";
    case MB_ICONASTERISK:
      return "(i) ";
    default:
      return "";
  }
}

class TerminalMsgBox final : public MsgBox {
 public:
  [[nodiscard]] int MessageBoxW(HWND, const char16_t* lpText, const char16_t* lpCaption, UINT uType) override {
    const std::string caption = TerminalText(lpCaption != nullptr ? lpCaption : App().Title.c_str());
    WriteOutput("\n[ " + caption + " ]\n" + IconMark(uType) + TerminalText(lpText) + "\n\n[ OK ] press Enter ");
    // Enter closes the box; end of input counts as closing its window.
    int c = 0;
    while ((c = std::getchar()) != EOF && c != '\n') {
    }
    WriteOutput("\n");
    return IDOK;
  }
};

}  // namespace

template <>
MsgBox& Backend<MsgBox>() {
  static TerminalMsgBox box;
  return box;
}

}  // namespace plat
