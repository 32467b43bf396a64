// Case folding as wineserver's lower-case table has it.
#include "winereg/names.h"

#include <algorithm>
#include <cstring>

#include "winereg/internal/chars.h"
#include "winereg/internal/lower_case.h"

namespace winereg {
namespace {

using internal::AsciiLower;

// wineserver's table (internal/lower_case.h): fixed data, whatever the
// host's locales and C library know of Unicode.
char16_t Lower(char16_t c) {
  using internal::kLowerBlocks;
  using internal::kLowerDeltas;
  using internal::kLowerShift;
  const unsigned u = c;
  const unsigned block = kLowerBlocks[u >> kLowerShift];
  return static_cast<char16_t>(u + kLowerDeltas[(block << kLowerShift) | (u & ((1U << kLowerShift) - 1))]);
}

}  // namespace

int CompareNames(std::u16string_view a, std::u16string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = a[i];
    const char16_t y = b[i];
    if (x == y) continue;
    int d;
    if (x < 0x80 && y < 0x80) {
      // ASCII without the table.
      d = AsciiLower(x) - AsciiLower(y);
    } else {
      d = static_cast<int>(Lower(x)) - static_cast<int>(Lower(y));
    }
    if (d != 0) return d;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool SameName(std::u16string_view a, std::u16string_view b) { return a.size() == b.size() && CompareNames(a, b) == 0; }

int CompareAscii(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    if (const int d = AsciiLower(a[i]) - AsciiLower(b[i]); d != 0) return d;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

std::u16string Utf16Text(const std::vector<BYTE>& data) {
  std::u16string text(data.size() / 2, u'\0');
  if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * 2);
  return text;
}

std::vector<BYTE> Utf16Data(std::u16string_view text) {
  std::vector<BYTE> data(text.size() * 2);
  if (!text.empty()) std::memcpy(data.data(), text.data(), data.size());
  return data;
}

}  // namespace winereg
