// e2e helper: box_text <caption> prints, as UTF-8, the message text of the
// top-level dialog box with that caption (a message box); exit status 1 when
// no such box exists.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "tests/tools/win32/utf8.h"

#include <cstdio>
#include <string>

namespace {

using tools::Utf8;
using tools::Wide;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: box_text <caption>\n");
    return 2;
  }
  const HWND box = ::FindWindowW(L"#32770", Wide(argv[1]).c_str());
  if (box == nullptr) {
    std::fprintf(stderr, "box_text: no dialog box captioned \"%s\"\n", argv[1]);
    return 1;
  }
  // The message text of a message box is its static control 0xFFFF.
  wchar_t text[4096] = {};
  ::GetDlgItemTextW(box, 0xFFFF, text, 4096);
  // Binary output: the text's own CR LF pairs pass through unchanged.
  _setmode(_fileno(stdout), _O_BINARY);
  const std::string out = Utf8(text);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  return 0;
}
