// Strings as the registry files escape them (server/unicode.c parse_strW and
// dump_strW): decoding text into UTF-16 units and writing units back.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "winereg/internal/chars.h"
#include "winereg/types.h"

namespace winereg {

// Decodes an escaped string from s[i] up to the unescaped `endchar` (-1: up
// to the end of s). Returns the index after the delimiter, or nullopt when
// the delimiter is missing. `out` receives the units, without a terminator.
std::optional<std::size_t> ParseString(std::string_view s, std::size_t i, int endchar, std::u16string& out);

// The printable ASCII characters written as they are, for one pair of
// characters that take a backslash (with the backslash itself).
struct PlainSet {
  std::array<bool, 128> plain{};
};

constexpr PlainSet MakePlainSet(char a, char b) {
  PlainSet set;
  for (int c = 32; c < 128; ++c) set.plain[c] = c != '\\' && c != a && c != b;
  return set;
}

inline constexpr PlainSet kPlainInQuotes = MakePlainSet('"', '"');
inline constexpr PlainSet kPlainInBrackets = MakePlainSet('[', ']');

// UTF-16 units stored little-endian (REG_SZ and the like).
struct LittleEndianUnits {
  const BYTE* bytes;
  std::size_t count;
  std::size_t size() const { return count; }
  char16_t operator[](std::size_t i) const { return static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)); }
};

// A string followed by a NUL unit.
struct WithNul {
  std::u16string_view s;
  std::size_t size() const { return s.size() + 1; }
  char16_t operator[](std::size_t i) const { return i < s.size() ? s[i] : u'\0'; }
};

// Writes units escaped; characters outside `set` take a backslash. A NUL in
// last position is not written. Returns the count of characters written.
template <typename Units>
std::size_t DumpString(std::string& out, const Units& s, const PlainSet& set) {
  static constexpr char kEscapes[33] = ".......abtnvfr.............e....";
  const std::size_t start = out.size();
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    // A run written as it is, in one piece.
    std::size_t j = i;
    while (j < n) {
      const char16_t c = s[j];
      if (c >= 128 || !set.plain[c]) break;
      ++j;
    }
    if (j > i) {
      const std::size_t at = out.size();
      out.resize(at + (j - i));
      char* p = out.data() + at;
      for (std::size_t k = i; k < j; ++k) *p++ = static_cast<char>(s[k]);
      i = j;
      if (i == n) break;
    }
    const char16_t c = s[i];
    const bool has_next = i + 1 < n;
    ++i;
    if (c > 127) {
      out += "\\x";
      const bool hex_follows = has_next && s[i] < 128 && internal::IsXDigit(static_cast<char>(s[i]));
      internal::AppendHex(out, c, hex_follows ? 4 : 1);
      continue;
    }
    if (c < 32) {
      if (c == 0 && !has_next) continue;
      out.push_back('\\');
      if (kEscapes[c] != '.') {
        out.push_back(kEscapes[c]);
      } else {
        const bool octal_follows = has_next && s[i] >= u'0' && s[i] <= u'7';
        internal::AppendOctal(out, c, octal_follows ? 3 : 1);
      }
      continue;
    }
    out.push_back('\\');
    out.push_back(static_cast<char>(c));
  }
  return out.size() - start;
}

}  // namespace winereg
