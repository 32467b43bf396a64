// Conversions between the seam's Win32-shaped types and the real ones.
//
// Included by the backend's sources only, after the seam headers: it pulls in
// <windows.h>, whose macros would otherwise rewrite the seam's constants.
#pragma once

#include "platform/registry.h"
#include "platform/types.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace plat::win32 {

// Registry handles cross the seam as 32-bit values. On 64-bit Windows a
// handle is pointer-sized but its value fits in 32 bits (kernel handles are
// kept so for 32/64-bit interoperation), and predefined roots are 32-bit
// values sign-extended, which ToNative restores.
static_assert(sizeof(::HKEY) >= sizeof(plat::HKEY));
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide characters are UTF-16 units on Windows");

inline ::HKEY ToNative(plat::HKEY key) {
  // Sign-extend so that predefined roots keep their value on any pointer width.
  return reinterpret_cast<::HKEY>(static_cast<::ULONG_PTR>(static_cast<::LONG_PTR>(static_cast<plat::LONG>(key))));
}

inline plat::HKEY FromNative(::HKEY key) { return static_cast<plat::HKEY>(reinterpret_cast<::ULONG_PTR>(key)); }

// The calling thread's last error as a seam status, after a call that
// failed; `fallback` when the call set none, since a failure still fails.
inline plat::LONG LastStatus(plat::LONG fallback) {
  const ::DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? static_cast<plat::LONG>(error) : fallback;
}

inline const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

}  // namespace plat::win32
