// UTF-8 <-> UTF-16 for the test helper programs' command lines and output.
#pragma once

#include <windows.h>

#include <string>

namespace tools {

inline std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

inline std::wstring Wide(const char* text) {
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size > 0 ? size - 1 : 0), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), size);
  return out;
}

}  // namespace tools
