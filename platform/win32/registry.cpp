// The registry facility over advapi32's "A" functions.
//
// The seam's integer types differ from <windows.h>'s (unsigned int against
// unsigned long), so every in/out count passes through a local of the real
// type; nothing is reinterpreted in place.
#include "platform/registry.h"

#include "platform/types.h"
#include "platform/win32/win32.h"

namespace plat {
namespace {

#ifdef _WIN64
// The one difference of the 64-bit build: it is the same 32-bit program, so it
// opens, creates and deletes keys in the 32-bit view of the registry, where a
// 32-bit process's keys live on 64-bit Windows (and under 64-bit Wine).
constexpr ::REGSAM kView = KEY_WOW64_32KEY;
#else
constexpr ::REGSAM kView = 0;
#endif

// In/out DWORD: copies the caller's value in, and back after the call.
class DwordArg {
 public:
  explicit DwordArg(DWORD* target) : target_(target), value_(target != nullptr ? *target : 0) {}
  ~DwordArg() {
    if (target_ != nullptr) *target_ = static_cast<DWORD>(value_);
  }
  DwordArg(const DwordArg&) = delete;
  DwordArg& operator=(const DwordArg&) = delete;
  ::LPDWORD get() { return target_ != nullptr ? &value_ : nullptr; }

 private:
  DWORD* target_;
  ::DWORD value_;
};

// Out handle: written back as the seam's 32-bit value, 0 on failure.
class HKeyArg {
 public:
  explicit HKeyArg(HKEY* target) : target_(target) {}
  ::PHKEY get() { return target_ != nullptr ? &value_ : nullptr; }
  LONG Finish(::LONG status) {
    if (target_ != nullptr) *target_ = status == ERROR_SUCCESS ? win32::FromNative(value_) : 0;
    return static_cast<LONG>(status);
  }

 private:
  HKEY* target_;
  ::HKEY value_ = nullptr;
};

class Win32Registry final : public Registry {
 public:
  [[nodiscard]] LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                   HKEY* phkResult) override {
    HKeyArg result(phkResult);
    return result.Finish(::RegOpenKeyExA(win32::ToNative(hKey), lpSubKey, ulOptions, samDesired | kView, result.get()));
  }

  [[nodiscard]] LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, char* lpClass, DWORD dwOptions,
                                     REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                                     HKEY* phkResult, DWORD* lpdwDisposition) override {
    ::SECURITY_ATTRIBUTES attributes{};
    ::LPSECURITY_ATTRIBUTES native_attributes = nullptr;
    if (lpSecurityAttributes != nullptr) {
      attributes.nLength = sizeof attributes;
      attributes.lpSecurityDescriptor = lpSecurityAttributes->lpSecurityDescriptor;
      attributes.bInheritHandle = lpSecurityAttributes->bInheritHandle;
      native_attributes = &attributes;
    }
    HKeyArg result(phkResult);
    DwordArg disposition(lpdwDisposition);
    return result.Finish(::RegCreateKeyExA(win32::ToNative(hKey), lpSubKey, Reserved, lpClass, dwOptions,
                                           samDesired | kView, native_attributes, result.get(), disposition.get()));
  }

  [[nodiscard]] LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                                    const BYTE* lpData, DWORD cbData) override {
    return static_cast<LONG>(::RegSetValueExA(win32::ToNative(hKey), lpValueName, Reserved, dwType, lpData, cbData));
  }

  [[nodiscard]] LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                                      BYTE* lpData, DWORD* lpcbData) override {
    DwordArg reserved(lpReserved);
    DwordArg type(lpType);
    DwordArg size(lpcbData);
    return static_cast<LONG>(
        ::RegQueryValueExA(win32::ToNative(hKey), lpValueName, reserved.get(), type.get(), lpData, size.get()));
  }

  [[nodiscard]] LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                   DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override {
    DwordArg name_size(lpcchValueName);
    DwordArg reserved(lpReserved);
    DwordArg type(lpType);
    DwordArg size(lpcbData);
    return static_cast<LONG>(::RegEnumValueA(win32::ToNative(hKey), dwIndex, lpValueName, name_size.get(),
                                             reserved.get(), type.get(), lpData, size.get()));
  }

  [[nodiscard]] LONG RegEnumKeyA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD cchName) override {
    return static_cast<LONG>(::RegEnumKeyA(win32::ToNative(hKey), dwIndex, lpName, cchName));
  }

  [[nodiscard]] LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) override {
#ifdef _WIN64
    return static_cast<LONG>(::RegDeleteKeyExA(win32::ToNative(hKey), lpSubKey, kView, 0));
#else
    return static_cast<LONG>(::RegDeleteKeyA(win32::ToNative(hKey), lpSubKey));
#endif
  }

  [[nodiscard]] LONG RegCloseKey(HKEY hKey) override { return static_cast<LONG>(::RegCloseKey(win32::ToNative(hKey))); }
};

}  // namespace

template <>
Registry& Backend<Registry>() {
  static Win32Registry registry;
  return registry;
}

}  // namespace plat
