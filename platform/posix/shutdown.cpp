// Restart and shutdown requests, reported on standard output and never
// carried out.
#include <cstdio>

#include "platform/exitwindows.h"

namespace plat {
namespace {

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
Shutdown& Backend<Shutdown>() {
  static ReportedShutdown shutdown;
  return shutdown;
}

}  // namespace plat
