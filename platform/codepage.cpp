// Whole-string conversions over the backend's code page functions.
#include "platform/codepage.h"

namespace plat {

std::string ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int needed = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(needed), '\0');
  // The count is `needed`, asked for just above.
  (void)WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), needed, nullptr, nullptr);
  return out;
}

std::u16string FromAnsi(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  std::u16string out(static_cast<std::size_t>(needed), u'\0');
  // The count is `needed`, asked for just above.
  (void)MultiByteToWideChar(CP_ACP, 0, text.data(), length, out.data(), needed);
  return out;
}

std::u16string AnsiRoundTrip(std::u16string_view text) { return FromAnsi(ToAnsi(text)); }

}  // namespace plat
