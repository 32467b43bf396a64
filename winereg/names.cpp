// Case folding as wineserver's lower-case table has it.
#include "winereg/names.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <locale.h>
#include <wctype.h>

#include "winereg/internal/chars.h"

namespace winereg {
namespace {

using internal::AsciiLower;

// The lower-case table: the simple lower-case mapping of the C library's UTF-8
// locale, kept only where it maps back (upper of lower is the character
// itself), which leaves title-case letters and the one-way mappings into
// ASCII (U+0130, U+212A, ...) unchanged, as wineserver's table does.
class LowerTable {
 public:
  LowerTable() {
    for (std::size_t c = 0; c < table_.size(); ++c) table_[c] = static_cast<char16_t>(c);
    for (char16_t c = u'A'; c <= u'Z'; ++c) table_[c] = static_cast<char16_t>(c + 32);
    locale_t loc = locale_t{};
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8", "en_US.utf8"}) {
      loc = newlocale(LC_CTYPE_MASK, name, locale_t{});
      if (loc != locale_t{}) break;
    }
    if (loc == locale_t{}) return;  // ASCII only
    for (std::uint32_t c = 0x80; c < 0x10000; ++c) {
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      const wint_t lower = towlower_l(static_cast<wint_t>(c), loc);
      if (lower == static_cast<wint_t>(c) || lower >= 0x10000) continue;
      if (towupper_l(lower, loc) != static_cast<wint_t>(c)) continue;
      table_[c] = static_cast<char16_t>(lower);
    }
    freelocale(loc);
  }
  char16_t operator()(char16_t c) const { return table_[c]; }

 private:
  std::array<char16_t, 0x10000> table_;
};

const LowerTable& Lower() {
  static const LowerTable table;
  return table;
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
      // ASCII without the table (and the locale it is built from).
      d = AsciiLower(x) - AsciiLower(y);
    } else {
      const LowerTable& lower = Lower();
      d = static_cast<int>(lower(x)) - static_cast<int>(lower(y));
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
