// Conversions between the program's wide strings and the ANSI code page.
//
// The two functions have the shape of their Win32 namesakes: counts are in
// code units, -1 means "NUL-terminated, and convert the NUL too", a zero
// output size asks for the size needed, and the result is the number of
// units written (or needed), 0 on failure (a count, not a status: see
// facility.h). Only CP_ACP is supported; the POSIX backend's ANSI code page
// is Windows-1252 with '?' as the substitute.
#pragma once

#include <string>
#include <string_view>

#include "platform/types.h"

namespace plat {

inline constexpr UINT CP_ACP = 0;

[[nodiscard]] int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, const char16_t* lpWideCharStr, int cchWideChar,
                                      char* lpMultiByteStr, int cbMultiByte, const char* lpDefaultChar,
                                      BOOL* lpUsedDefaultChar);
[[nodiscard]] int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, const char* lpMultiByteStr, int cbMultiByte,
                                      char16_t* lpWideCharStr, int cchWideChar);

// Whole-string helpers over the two functions above.
std::string ToAnsi(std::u16string_view text);
std::u16string FromAnsi(std::string_view text);
// The text after a trip to the ANSI code page and back: characters the code
// page cannot hold come back as its substitute character.
std::u16string AnsiRoundTrip(std::u16string_view text);

}  // namespace plat
