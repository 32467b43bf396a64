// Restart and shutdown requests (user32 ExitWindowsEx).
#pragma once

#include "platform/facility.h"
#include "platform/types.h"

namespace plat {

inline constexpr UINT EWX_LOGOFF = 0x0;
inline constexpr UINT EWX_SHUTDOWN = 0x1;
inline constexpr UINT EWX_REBOOT = 0x2;
inline constexpr UINT EWX_FORCE = 0x4;
inline constexpr UINT EWX_POWEROFF = 0x8;

class Shutdown {
 public:
  virtual ~Shutdown() = default;
  // Asks the system to close down as the flags say; nonzero when the request
  // was accepted (a BOOL, not a status: see facility.h). The call returns once the request has been made.
  [[nodiscard]] virtual BOOL ExitWindowsEx(UINT uFlags, DWORD dwReserved) = 0;
};

template <>
Shutdown& Backend<Shutdown>();

}  // namespace plat
