// Restart and shutdown requests, reported on standard output and never
// carried out.
#include <string>

#include "platform/exitwindows.h"
#include "platform/posix/output.h"

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
    WriteOutput(std::string("ExitWindowsEx: ") + RequestName(uFlags) + " requested (uFlags " + std::to_string(uFlags) +
                ", dwReserved " + std::to_string(static_cast<int>(dwReserved)) + "); this host is not restarted\n");
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
