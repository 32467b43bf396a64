// ExitWindowsEx (user32) with the shutdown privilege enabled first.
#include "platform/win32/shutdown.h"

#include <vector>

#include "platform/exitwindows.h"
#include "platform/types.h"
#include "platform/win32/win32.h"

namespace plat {
namespace win32 {
namespace {

class TokenHandle {
 public:
  explicit TokenHandle(::DWORD access) {
    if (::OpenProcessToken(::GetCurrentProcess(), access, &handle_) == 0) handle_ = nullptr;
  }
  ~TokenHandle() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
  }
  TokenHandle(const TokenHandle&) = delete;
  TokenHandle& operator=(const TokenHandle&) = delete;
  ::HANDLE get() const { return handle_; }

 private:
  ::HANDLE handle_ = nullptr;
};

bool ShutdownLuid(::LUID& luid) { return ::LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid) != 0; }

class SystemShutdownRequest final : public ShutdownRequest {
 public:
  BOOL ExitWindowsEx(UINT uFlags, DWORD dwReserved) override {
    return ::ExitWindowsEx(uFlags, dwReserved) != 0 ? TRUE : FALSE;
  }
};

}  // namespace

bool SetShutdownPrivilege(bool enable) {
  ::LUID luid{};
  if (!ShutdownLuid(luid)) return false;
  TokenHandle token(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
  if (token.get() == nullptr) return false;
  ::TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid = luid;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  // Success of the call alone does not mean the privilege was assigned:
  // ERROR_NOT_ALL_ASSIGNED says the token does not hold it.
  if (::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr) == 0) return false;
  return ::GetLastError() == ERROR_SUCCESS;
}

bool ShutdownPrivilegeEnabled() {
  ::LUID luid{};
  if (!ShutdownLuid(luid)) return false;
  TokenHandle token(TOKEN_QUERY);
  if (token.get() == nullptr) return false;
  ::DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
  if (size < sizeof(::TOKEN_PRIVILEGES)) return false;
  // The record is variable-sized; keep it in storage aligned for its fields.
  std::vector<::DWORD> storage((size + sizeof(::DWORD) - 1) / sizeof(::DWORD));
  if (::GetTokenInformation(token.get(), TokenPrivileges, storage.data(), size, &size) == 0) return false;
  const auto* privileges = reinterpret_cast<const ::TOKEN_PRIVILEGES*>(storage.data());
  for (::DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const ::LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
    if (entry.Luid.LowPart == luid.LowPart && entry.Luid.HighPart == luid.HighPart) {
      return (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
  }
  return false;
}

BOOL Win32Shutdown::ExitWindowsEx(UINT uFlags, DWORD dwReserved) {
  // Without the privilege the system refuses the request, and says so: the
  // request is made all the same.
  (void)SetShutdownPrivilege(true);
  return Use<ShutdownRequest>().ExitWindowsEx(uFlags, dwReserved);
}

}  // namespace win32

template <>
win32::ShutdownRequest& Backend<win32::ShutdownRequest>() {
  static win32::SystemShutdownRequest request;
  return request;
}

template <>
Shutdown& Backend<Shutdown>() {
  static win32::Win32Shutdown shutdown;
  return shutdown;
}

}  // namespace plat
