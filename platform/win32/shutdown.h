// The restart/shutdown facility of the Windows backend, and its privilege step.
//
// No <windows.h> here: the backend's tests include this header.
#pragma once

#include "platform/exitwindows.h"
#include "platform/facility.h"
#include "platform/types.h"

namespace plat::win32 {

// Enables (or disables) SE_SHUTDOWN_NAME in the process token; true when the
// token now has it in the requested state.
[[nodiscard]] bool SetShutdownPrivilege(bool enable);
// Whether the process token holds SE_SHUTDOWN_NAME enabled.
[[nodiscard]] bool ShutdownPrivilegeEnabled();

// The system's request itself (user32 ExitWindowsEx), without the privilege
// step: the facility through which Win32Shutdown makes its request (its
// Backend is the real call; tests install a recorder).
class ShutdownRequest {
 public:
  virtual ~ShutdownRequest() = default;
  // Nonzero when the system accepted the request.
  [[nodiscard]] virtual BOOL ExitWindowsEx(UINT uFlags, DWORD dwReserved) = 0;
};

// ExitWindowsEx after enabling the shutdown privilege, which NT-family
// systems require before they restart or shut down on a process's request.
// A failure to enable it is ignored: the request is made all the same, with
// the caller's arguments, through the installed ShutdownRequest, and its
// result returned.
class Win32Shutdown final : public Shutdown {
 public:
  [[nodiscard]] BOOL ExitWindowsEx(UINT uFlags, DWORD dwReserved) override;
};

}  // namespace plat::win32

namespace plat {

template <>
win32::ShutdownRequest& Backend<win32::ShutdownRequest>();

}  // namespace plat
