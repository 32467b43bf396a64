// The user-facing facilities of the POSIX backend, on the terminal: message
// boxes on standard output with an OK prompt on standard input, restart
// requests reported (never carried out), and the report of an uncaught error
// on standard error.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/app.h"
#include "platform/unhandled.h"
#include "platform/error.h"
#include "platform/exitwindows.h"
#include "platform/msgbox.h"
#include "platform/utf8.h"

namespace plat {
namespace {

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
    std::printf("\n[ %s ]\n%s%s\n\n[ OK ] press Enter ", caption.c_str(), IconMark(uType),
                TerminalText(lpText).c_str());
    std::fflush(stdout);
    // Enter closes the box; end of input counts as closing its window.
    int c = 0;
    while ((c = std::getchar()) != EOF && c != '\n') {
    }
    std::printf("\n");
    std::fflush(stdout);
    return IDOK;
  }
};

const char* RequestName(UINT flags) {
  if ((flags & EWX_REBOOT) != 0) return "EWX_REBOOT";
  if ((flags & EWX_POWEROFF) != 0) return "EWX_POWEROFF";
  if ((flags & EWX_SHUTDOWN) != 0) return "EWX_SHUTDOWN";
  return "EWX_LOGOFF";
}

class ReportedShutdown final : public Shutdown {
 public:
  [[nodiscard]] BOOL ExitWindowsEx(UINT uFlags, DWORD dwReserved) override {
    std::printf("ExitWindowsEx: %s requested (uFlags %u, dwReserved %d); this host is not restarted\n",
                RequestName(uFlags), uFlags, static_cast<int>(dwReserved));
    std::fflush(stdout);
    return TRUE;
  }
};

}  // namespace

template <>
MsgBox& Backend<MsgBox>() {
  static TerminalMsgBox box;
  return box;
}

template <>
Shutdown& Backend<Shutdown>() {
  static ReportedShutdown shutdown;
  return shutdown;
}

void ReportUnhandled(std::int32_t number, const std::u16string& description) {
  std::fflush(stdout);
  const std::string text = "Run-time error '" + ToUtf8(Decimal(number)) + "':\n\n" + ToUtf8(description) + "\n";
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

std::u16string ModuleBaseName() {
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  path.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  std::string name = path.substr(path.find_last_of('/') + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot != 0) name.resize(dot);
  return FromUtf8(name);
}

}  // namespace plat
