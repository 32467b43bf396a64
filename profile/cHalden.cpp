#include "profile/cHalden.h"

#include "platform/exitwindows.h"

namespace skelvin {

void cHalden::ExitWin(std::u16string ShutDownKey) {
  constexpr plat::DWORD kReserved = 0xFFFFFFFFU;  // -1: all 32 bits set
  if (ShutDownKey == u"Reboot") {
    plat::Use<plat::Shutdown>().ExitWindowsEx(plat::EWX_REBOOT, kReserved);
  } else if (ShutDownKey == u"Shutdown") {
    plat::Use<plat::Shutdown>().ExitWindowsEx(plat::EWX_SHUTDOWN, kReserved);
  }
}

}  // namespace skelvin
