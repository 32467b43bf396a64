// The registry functions over a Wine prefix's registry files.
//
// HKEY_LOCAL_MACHINE is the prefix's system.reg, HKEY_CURRENT_USER its
// user.reg; any other root is an invalid handle. Every call takes the
// prefix's wineserver lock, loads the file when it changed, and saves a
// change durably before it returns, but for keys that RegCreateKeyExA
// creates: those are saved with the next change, or when a handle closes
// (RegCloseKey then returns the save's status), or at the latest when the
// object goes, the lock held until then. On a 64-bit prefix both roots are
// seen as a 32-bit program sees them under Wine: a key with a Wow6432Node
// child leads into that child (HKLM\Software\Classes\Wow6432Node, the shared
// one, falls back on its parent for the keys it lacks). Key and value names
// compare case-insensitively and keep the case they were created with;
// strings cross in Windows-1252.
//
// Symbolic-link keys are followed as wineserver follows them: the
// SymbolicLinkValue, of any type, read as UTF-16, names a key from
// \REGISTRY; links on the way are followed in turn, 32 deep at most, and a
// deeper chain or a loop fails with ERROR_INVALID_PARAMETER. Creating
// through a link whose target lacks only its last key creates that key;
// RegDeleteKeyA deletes a link's target. A target in neither file fails with
// ERROR_NOT_SUPPORTED (50). A link key takes no value but a REG_LINK
// SymbolicLinkValue (else ERROR_ACCESS_DENIED, as in wineserver) and never a
// subkey: creating below one creates where it leads.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "wineprefix/hive_file.h"
#include "wineprefix/lock.h"
#include "platform/registry.h"

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

  const std::filesystem::path& prefix() const { return prefix_; }
  // Saves the keys created since the last save, and lets the lock go.
  [[nodiscard]] LONG Flush();

 private:
  enum HiveId { kMachine = 0, kUser = 1 };
  // An open key: its hive and the stored names of the keys from the hive's
  // root down to it.
  struct OpenKey {
    HiveId hive;
    std::vector<std::u16string> path;
  };
  struct Session;

  LONG Begin(HKEY hKey, bool writing, Session& session);
  LONG Commit(Session& session);
  void Defer(Session& session);
  LONG Open(HKEY hKey, const char* lpSubKey, REGSAM samDesired, bool create, DWORD options, const char* lpClass,
            HKEY* phkResult, DWORD* lpdwDisposition);
  HKEY NewHandle(OpenKey key);

  std::filesystem::path prefix_;
  wineprefix::HiveFile files_[2];
  std::map<HKEY, OpenKey> handles_;
  bool deferred_[2] = {false, false};  // per file: created keys not saved yet
  wineprefix::PrefixLock held_;        // while any are
  HKEY next_handle_ = 0x20;
};

}  // namespace plat::posix
