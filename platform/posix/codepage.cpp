// The ANSI code page of the POSIX backend: Windows-1252, '?' as substitute.
// Bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D map to the C1 controls of the same
// value, as Windows maps them.
#include <array>

#include "platform/codepage.h"

namespace plat {
namespace {

constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

char16_t ToWide(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return kHigh[byte - 0x80];
  return byte;
}

// The byte for a character, or -1 when the code page cannot hold it.
int ToByte(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
  for (std::size_t i = 0; i < kHigh.size(); ++i) {
    if (kHigh[i] == c) return static_cast<int>(0x80 + i);
  }
  return -1;
}

}  // namespace

int WideCharToMultiByte(UINT CodePage, DWORD /*dwFlags*/, const char16_t* lpWideCharStr, int cchWideChar,
                        char* lpMultiByteStr, int cbMultiByte, const char* lpDefaultChar, BOOL* lpUsedDefaultChar) {
  if (CodePage != CP_ACP || lpWideCharStr == nullptr || cbMultiByte < 0) return 0;
  std::size_t count = 0;
  if (cchWideChar < 0) {
    while (lpWideCharStr[count] != 0) ++count;
    ++count;  // the NUL too
  } else {
    count = static_cast<std::size_t>(cchWideChar);
  }
  const char substitute = lpDefaultChar != nullptr ? *lpDefaultChar : '?';
  if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = FALSE;
  if (cbMultiByte == 0) return static_cast<int>(count);
  if (static_cast<std::size_t>(cbMultiByte) < count) return 0;  // ERROR_INSUFFICIENT_BUFFER
  for (std::size_t i = 0; i < count; ++i) {
    const int byte = ToByte(lpWideCharStr[i]);
    if (byte < 0 && lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = TRUE;
    lpMultiByteStr[i] = byte < 0 ? substitute : static_cast<char>(byte);
  }
  return static_cast<int>(count);
}

int MultiByteToWideChar(UINT CodePage, DWORD /*dwFlags*/, const char* lpMultiByteStr, int cbMultiByte,
                        char16_t* lpWideCharStr, int cchWideChar) {
  if (CodePage != CP_ACP || lpMultiByteStr == nullptr || cchWideChar < 0) return 0;
  std::size_t count = 0;
  if (cbMultiByte < 0) {
    while (lpMultiByteStr[count] != 0) ++count;
    ++count;
  } else {
    count = static_cast<std::size_t>(cbMultiByte);
  }
  if (cchWideChar == 0) return static_cast<int>(count);
  if (static_cast<std::size_t>(cchWideChar) < count) return 0;
  for (std::size_t i = 0; i < count; ++i) {
    lpWideCharStr[i] = ToWide(static_cast<unsigned char>(lpMultiByteStr[i]));
  }
  return static_cast<int>(count);
}

}  // namespace plat
