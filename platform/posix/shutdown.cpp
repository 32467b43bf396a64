// Restart and shutdown requests: reported on standard output, and made in
// the prefix's running Wine when a wineserver runs for it (its session
// ends); this host is never restarted.
#include <string>

#include "platform/exitwindows.h"
#include "platform/posix/output.h"
#include "platform/posix/registry.h"

namespace plat {
namespace {

using posix::WriteOutput;

const char* RequestName(UINT flags) {
  if ((flags & EWX_REBOOT) != 0) return "EWX_REBOOT";
  if ((flags & EWX_POWEROFF) != 0) return "EWX_POWEROFF";
  if ((flags & EWX_SHUTDOWN) != 0) return "EWX_SHUTDOWN";
  return "EWX_LOGOFF";
}

class ReportedShutdown final : public Shutdown {
 public:
  [[nodiscard]] BOOL ExitWindowsEx(UINT uFlags, DWORD dwReserved) override {
    const std::string request = std::string("ExitWindowsEx: ") + RequestName(uFlags) + " requested (uFlags " +
                                std::to_string(uFlags) + ", dwReserved " +
                                std::to_string(static_cast<int>(dwReserved)) + ")";
    BOOL accepted = FALSE;
    if (posix::ProcessRegistry().LiveExitWindows(uFlags, dwReserved, &accepted)) {
      WriteOutput(request +
                  (accepted != FALSE ? "; made in the prefix's running Wine, whose session ends"
                                     : "; the prefix's running Wine did not accept it") +
                  "; this host is not restarted\n");
      return accepted;
    }
    WriteOutput(request + "; this host is not restarted\n");
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
