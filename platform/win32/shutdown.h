// The restart/shutdown facility of the Windows backend, and its privilege step.
//
// No <windows.h> here: the backend's tests include this header.
#pragma once

#include "platform/exitwindows.h"
#include "platform/types.h"

namespace plat::win32 {

// Enables (or disables) SE_SHUTDOWN_NAME in the process token; true when the
// token now has it in the requested state.
bool SetShutdownPrivilege(bool enable);
// Whether the process token holds SE_SHUTDOWN_NAME enabled.
bool ShutdownPrivilegeEnabled();

// ExitWindowsEx after enabling the shutdown privilege, which NT-family
// systems require before they restart or shut down on a process's request.
// A failure to enable it is ignored: the request is made all the same, with
// the caller's arguments, and its result returned.
class Win32Shutdown final : public Shutdown {
 public:
  using Request = BOOL (*)(UINT uFlags, DWORD dwReserved);
  explicit Win32Shutdown(Request request) : request_(request) {}
  BOOL ExitWindowsEx(UINT uFlags, DWORD dwReserved) override;

 private:
  Request request_;
};

}  // namespace plat::win32
