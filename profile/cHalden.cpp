#include "profile/cHalden.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "platform/exitwindows.h"
#include "platform/textfile.h"

namespace skelvin {

void cHalden::ExitWin(const std::u16string& ShutDownKey) {
  constexpr plat::DWORD kReserved = 0xFFFFFFFFU;  // -1: all 32 bits set
  // A refused request goes unnoticed: the caller is not told.
  if (ShutDownKey == u"Reboot") {
    (void)plat::Use<plat::Shutdown>().ExitWindowsEx(plat::EWX_REBOOT, kReserved);
  } else if (ShutDownKey == u"Shutdown") {
    (void)plat::Use<plat::Shutdown>().ExitWindowsEx(plat::EWX_SHUTDOWN, kReserved);
  }
}

void cHalden::Collect(std::int16_t GO) {
  if (GO != 0) ReadOemInfo();
}

void cHalden::ReadOemInfo() {
  constexpr std::u16string_view kKey = u"Model=";
  std::u16string model;
  std::u16string language;
  std::u16string recovery;
  {
    plat::TextInput file(u"C:\\Windows\\system\\Oeminfo.ini");
    std::u16string line = file.LineInput();
    // No end-of-file test: a file without a model line ends in fault 62.
    while (std::u16string_view(line).substr(0, kKey.size()) != kKey) line = file.LineInput();
    // A line holds at most INT_MAX bytes, so the word number cannot overflow.
    std::int32_t word = 0;
    for (std::size_t position = kKey.size(); position < line.size(); ++position) {
      const char16_t c = line[position];
      if (c == u' ') {
        ++word;
      } else if (word == 0) {
        model += c;
      } else if (word == 1) {
        language += c;
      } else if (word == 3) {
        recovery += c;
      }
    }
    file.Close();
  }
  modelName_ = std::move(model);
  language_ = std::move(language);
  recoveryCD_ = std::move(recovery);
}

}  // namespace skelvin
