// The registry functions over a Wine prefix's registry files.
//
// HKEY_LOCAL_MACHINE is the prefix's system.reg, HKEY_CURRENT_USER its
// user.reg; any other root is an invalid handle. What a call does to them,
// and when the prefix lock is held, is the store's (wineprefix/store.h):
// every change is saved durably before the call returns, but for keys that
// RegCreateKeyExA creates, saved with the next change, or when a handle
// closes (RegCloseKey then returns the save's status), or at the latest when
// the object goes. Here are the Win32 argument rules, the handles, strings
// in Windows-1252 and the buffer rules of the "A" calls; a failure's
// message goes to plat::Diagnostics once.
#pragma once

#include <filesystem>
#include <map>

#include "platform/registry.h"
#include "wineprefix/store.h"

namespace plat::posix {

class PrefixRegistry final : public Registry {
 public:
  // An empty `prefix` (Wine would refuse the environment's): every call that
  // reaches the files fails with ERROR_BAD_PATHNAME, saying why. Saves make
  // their file-system calls through `files`.
  explicit PrefixRegistry(std::filesystem::path prefix, wineprefix::FileSystem& files = wineprefix::PosixFileSystem());
  ~PrefixRegistry() override;
  PrefixRegistry(const PrefixRegistry&) = delete;
  PrefixRegistry& operator=(const PrefixRegistry&) = delete;

  [[nodiscard]] LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                   HKEY* phkResult) override;
  [[nodiscard]] LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, char* lpClass, DWORD dwOptions,
                                     REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                                     HKEY* phkResult, DWORD* lpdwDisposition) override;
  [[nodiscard]] LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                                    const BYTE* lpData, DWORD cbData) override;
  [[nodiscard]] LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                                      BYTE* lpData, DWORD* lpcbData) override;
  [[nodiscard]] LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                   DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override;
  [[nodiscard]] LONG RegEnumKeyA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD cchName) override;
  [[nodiscard]] LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) override;
  [[nodiscard]] LONG RegCloseKey(HKEY hKey) override;

  const std::filesystem::path& prefix() const { return store_.prefix(); }
  // Saves the keys created since the last save, and lets the lock go.
  [[nodiscard]] LONG Flush();

 private:
  [[nodiscard]] LONG Deliver(const wineprefix::Status& status);
  // The key a handle names; nullptr for none.
  const wineprefix::KeyRef* Find(HKEY hKey) const;
  LONG Open(HKEY hKey, const char* lpSubKey, const wineprefix::OpenMode& mode, HKEY* phkResult, DWORD* lpdwDisposition);

  wineprefix::Store store_;
  std::map<HKEY, wineprefix::KeyRef> handles_;
  HKEY next_handle_ = 0x20;
};

}  // namespace plat::posix
