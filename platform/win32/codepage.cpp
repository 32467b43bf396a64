// The ANSI code page conversions: the system's own, for CP_ACP.
//
// Characters the code page cannot hold become its default character ('?')
// rather than a look-alike ("best fit"), as codepage.h promises.
#include "platform/codepage.h"

#include "platform/types.h"
#include "platform/win32/win32.h"

namespace plat {

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, const char16_t* lpWideCharStr, int cchWideChar,
                        char* lpMultiByteStr, int cbMultiByte, const char* lpDefaultChar, BOOL* lpUsedDefaultChar) {
  ::BOOL used_default = FALSE;
  const int result = ::WideCharToMultiByte(CodePage, dwFlags | WC_NO_BEST_FIT_CHARS, win32::Wide(lpWideCharStr),
                                           cchWideChar, lpMultiByteStr, cbMultiByte, lpDefaultChar,
                                           lpUsedDefaultChar != nullptr ? &used_default : nullptr);
  if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = used_default != 0 ? TRUE : FALSE;
  return result;
}

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, const char* lpMultiByteStr, int cbMultiByte,
                        char16_t* lpWideCharStr, int cchWideChar) {
  return ::MultiByteToWideChar(CodePage, dwFlags, lpMultiByteStr, cbMultiByte, win32::Wide(lpWideCharStr), cchWideChar);
}

}  // namespace plat
