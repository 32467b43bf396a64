// e2e helper: about_probe <caption> describes the top-level window of that
// caption and its child windows, one line each, as UTF-8:
//   window class=<c> caption=<t> style=<hex> exstyle=<hex> client=<x>,<y>,<w>,<h> focus=<id>
//   control id=<n> class=<c> text=<t> rect=<x>,<y>,<w>,<h> client=<w>,<h> style=<hex> exstyle=<hex> icon=<0|1>
//   message=<static text 0xFFFF, for message boxes>
// Positions are pixels: the window's client area on the screen, controls in
// the client area of their parent. (The window icon is not asked for: Wine
// passes no WM_GETICON between processes; the X window's _NET_WM_ICON shows it.)
// Exit status 1 when there is no such window.
#include <windows.h>

#include "tests/tools/win32/utf8.h"

#include <cstdio>
#include <string>

namespace {

using tools::Utf8;
using tools::Wide;

std::string Text(HWND hwnd) {
  wchar_t text[1024] = {};
  // WM_GETTEXT crosses processes as a message; GetWindowText would not ask.
  ::SendMessageW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
  return Utf8(text);
}

std::string ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  ::GetClassNameW(hwnd, name, 256);
  return Utf8(name);
}

BOOL CALLBACK PrintControl(HWND control, LPARAM parent_param) {
  const auto parent = reinterpret_cast<HWND>(parent_param);
  if (::GetParent(control) != parent) return TRUE;
  RECT rect;
  ::GetWindowRect(control, &rect);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  RECT client;
  ::GetClientRect(control, &client);
  const bool icon = ClassOf(control) == "Static" && ::SendMessageW(control, STM_GETICON, 0, 0) != 0;
  std::printf(
      "control id=%d class=%s text=%s rect=%ld,%ld,%ld,%ld client=%ld,%ld style=0x%08lx exstyle=0x%08lx icon=%d\n",
      ::GetDlgCtrlID(control), ClassOf(control).c_str(), Text(control).c_str(), rect.left, rect.top,
      rect.right - rect.left, rect.bottom - rect.top, client.right, client.bottom,
      static_cast<unsigned long>(::GetWindowLongW(control, GWL_STYLE)),
      static_cast<unsigned long>(::GetWindowLongW(control, GWL_EXSTYLE)), icon ? 1 : 0);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: about_probe <caption>\n");
    return 2;
  }
  const HWND window = ::FindWindowW(nullptr, Wide(argv[1]).c_str());
  if (window == nullptr) {
    std::fprintf(stderr, "about_probe: no window captioned \"%s\"\n", argv[1]);
    return 1;
  }
  RECT client;
  ::GetClientRect(window, &client);
  POINT origin{0, 0};
  ::ClientToScreen(window, &origin);
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  const DWORD thread = ::GetWindowThreadProcessId(window, nullptr);
  int focus = 0;
  if (::GetGUIThreadInfo(thread, &gui) != 0 && gui.hwndFocus != nullptr) focus = ::GetDlgCtrlID(gui.hwndFocus);
  std::printf("window class=%s caption=%s style=0x%08lx exstyle=0x%08lx client=%ld,%ld,%ld,%ld focus=%d\n",
              ClassOf(window).c_str(), Text(window).c_str(),
              static_cast<unsigned long>(::GetWindowLongW(window, GWL_STYLE)),
              static_cast<unsigned long>(::GetWindowLongW(window, GWL_EXSTYLE)), origin.x, origin.y, client.right,
              client.bottom, focus);
  ::EnumChildWindows(window, PrintControl, reinterpret_cast<LPARAM>(window));
  if (const HWND message = ::GetDlgItem(window, 0xFFFF)) std::printf("message=%s\n", Text(message).c_str());
  std::fflush(stdout);
  return 0;
}
