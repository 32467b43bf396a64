// The registry functions of advapi32's "A" family, as the core uses them.
//
// Strings are in the ANSI code page (see codepage.h). Every call returns a
// Win32 status: ERROR_SUCCESS (0) or a system error code. Out-parameters are
// written as the Win32 documentation says; in particular the open/create
// functions set *phkResult to 0 when they fail. Like every status call of the
// seam (facility.h) they are [[nodiscard]]: a caller that ignores one says so.
#pragma once

#include <utility>

#include "platform/facility.h"
#include "platform/types.h"
#include "vocab/registry.h"

namespace plat {

using vocab::IsStringType;
using vocab::kMaxAnsiPathLength;
using vocab::kMaxKeyElementLength;
using vocab::kMaxKeyNameLength;
using vocab::kMaxLinkDepth;
using vocab::kMaxValueNameLength;
using vocab::REG_BINARY;
using vocab::REG_DWORD;
using vocab::REG_DWORD_BIG_ENDIAN;
using vocab::REG_EXPAND_SZ;
using vocab::REG_LINK;
using vocab::REG_MULTI_SZ;
using vocab::REG_NONE;
using vocab::REG_QWORD;
using vocab::REG_SZ;

inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000U;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001U;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002U;
inline constexpr HKEY HKEY_USERS = 0x80000003U;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_OPTION_VOLATILE = 1;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

// The Win32 record; only its shape matters to the callers here.
struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  void* lpSecurityDescriptor;
  BOOL bInheritHandle;
};

class Registry {
 public:
  virtual ~Registry() = default;

  [[nodiscard]] virtual LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                           HKEY* phkResult) = 0;
  [[nodiscard]] virtual LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, char* lpClass,
                                             DWORD dwOptions, REGSAM samDesired,
                                             const SECURITY_ATTRIBUTES* lpSecurityAttributes, HKEY* phkResult,
                                             DWORD* lpdwDisposition) = 0;
  // A string type (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) whose last counted
  // byte is not NUL while lpData[cbData] is gets that NUL stored too, as
  // Windows does; so lpData must then be readable one byte past the count.
  [[nodiscard]] virtual LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                                            const BYTE* lpData, DWORD cbData) = 0;
  [[nodiscard]] virtual LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                                              BYTE* lpData, DWORD* lpcbData) = 0;
  [[nodiscard]] virtual LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                           DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) = 0;
  [[nodiscard]] virtual LONG RegEnumKeyA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD cchName) = 0;
  [[nodiscard]] virtual LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) = 0;
  [[nodiscard]] virtual LONG RegCloseKey(HKEY hKey) = 0;
};

template <>
Registry& Backend<Registry>();

// Move-only owner of an opened key: closes it through the registry that
// opened it, which receive() or the constructor names; an empty owner refers
// to no registry. Predefined roots and 0 are never closed.
// On the normal path the user closes the key with Close(), which lets a fault
// of RegCloseKey reach its caller; the destructor closes only what a leaving
// fault left open, silently, since a destructor never lets a fault out.
class UniqueHKey {
 public:
  UniqueHKey() = default;
  UniqueHKey(Registry& api, HKEY key) : key_(key), api_(&api) {}
  UniqueHKey(UniqueHKey&& other) noexcept
      : key_(std::exchange(other.key_, 0)), api_(std::exchange(other.api_, nullptr)) {}
  UniqueHKey& operator=(UniqueHKey&& other) noexcept {
    if (this != &other) {
      reset();
      key_ = std::exchange(other.key_, 0);
      api_ = std::exchange(other.api_, nullptr);
    }
    return *this;
  }
  UniqueHKey(const UniqueHKey&) = delete;
  UniqueHKey& operator=(const UniqueHKey&) = delete;
  ~UniqueHKey() { reset(); }

  HKEY get() const { return key_; }
  // The location for `api`'s open/create call to write the handle into. A
  // key the owner still holds is closed first (as reset() does); the owner
  // closes what it receives through `api`.
  HKEY* receive(Registry& api) {
    reset();
    api_ = &api;
    return &key_;
  }
  // Closes the key now, ignoring RegCloseKey's status and any fault it raises.
  void reset() noexcept {
    try {
      (void)Close();  // the status is ignored, as said above
    } catch (...) {
      // The handle is given up all the same.
    }
  }
  // Closes the key now: RegCloseKey's status (ERROR_SUCCESS when there was
  // nothing to close). A fault it raises reaches the caller. The owner is
  // empty afterwards in every case: a close is never tried twice.
  [[nodiscard]] LONG Close() {
    const HKEY key = std::exchange(key_, 0);
    Registry* const api = std::exchange(api_, nullptr);
    if (key == 0 || (key & 0x80000000U) != 0 || api == nullptr) return ERROR_SUCCESS;
    return api->RegCloseKey(key);
  }

 private:
  HKEY key_ = 0;
  Registry* api_ = nullptr;
};

}  // namespace plat
