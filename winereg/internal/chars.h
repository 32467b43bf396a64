// Character classes and byte-run scanners the reader and writer share.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace winereg::internal {

// C-locale character classes, as wineserver's loader uses them.
inline bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsXDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
inline int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// The lower-case table's value for an ASCII character.
constexpr int AsciiLower(int c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

// The length of the run at the start of s[0, n) of bytes below 0x80 that
// are none of `a`, `b`, `c` (nor, with `controls`, below 0x20). Eight bytes a
// step: the lowest flagged byte of each test is always a true one.
inline std::size_t AsciiRun(const char* s, std::size_t n, char a, char b, char c, bool controls) {
  std::size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
    const auto equal = [&](std::uint64_t x, char c) {
      const std::uint64_t y = x ^ (kOnes * static_cast<unsigned char>(c));
      return (y - kOnes) & ~y & kHigh;
    };
    for (; i + 8 <= n; i += 8) {
      std::uint64_t x;
      std::memcpy(&x, s + i, 8);
      std::uint64_t stop = (x & kHigh) | equal(x, a) | equal(x, b) | equal(x, c);
      if (controls) stop |= (x - kOnes * 0x20) & ~x & kHigh;
      if (stop != 0) return i + static_cast<std::size_t>(std::countr_zero(stop) >> 3);
    }
  }
  for (; i < n; ++i) {
    const auto u = static_cast<unsigned char>(s[i]);
    if (u >= 0x80 || s[i] == a || s[i] == b || s[i] == c || (controls && u < 0x20)) break;
  }
  return i;
}

// The length of the common start of a and b, eight bytes a step.
template <typename Char>
std::size_t SharedPrefix(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  constexpr std::size_t kStep = 8 / sizeof(Char);
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  for (; i + kStep <= n; i += kStep) {
    std::uint64_t x;
    std::uint64_t y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) break;
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

inline std::size_t SkipSpaces(std::string_view s, std::size_t i) {
  while (i < s.size() && IsSpace(s[i])) ++i;
  return i;
}

inline constexpr char kHexDigits[] = "0123456789abcdef";

// Lower-case hex of v, at least `min_digits` digits.
void AppendHex(std::string& out, std::uint64_t v, int min_digits);
void AppendOctal(std::string& out, unsigned v, int min_digits);
void AppendDecimal(std::string& out, std::uint32_t v);

}  // namespace winereg::internal
