// Registry value types and the limits on names, as Windows and wineserver
// have them: shared by the seam and the Wine prefix libraries.
#pragma once

#include <cstddef>

#include "vocab/win32.h"

namespace vocab {

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
inline constexpr DWORD REG_LINK = 6;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

// Types whose data is text (UTF-16 in the store, ANSI through the "A" calls).
constexpr bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Characters in one element of a key path the registry calls take.
inline constexpr std::size_t kMaxKeyElementLength = 255;
// Characters in one key name wineserver stores (and a file may hold).
inline constexpr std::size_t kMaxKeyNameLength = 256;
// Characters in a value name.
inline constexpr std::size_t kMaxValueNameLength = 16383;
// Bytes of a path the "A" calls take.
inline constexpr std::size_t kMaxAnsiPathLength = 260;
// Symbolic-link keys wineserver follows one inside another.
inline constexpr int kMaxLinkDepth = 32;

}  // namespace vocab
