// String escapes, both directions, and the number formats the files use.
#include "winereg/internal/escape.h"

#include <cstdint>

namespace winereg {

namespace internal {

void AppendHex(std::string& out, std::uint64_t v, int min_digits) {
  char buf[16];
  int n = 16;
  do {
    buf[--n] = kHexDigits[v & 0xF];
    v >>= 4;
  } while (v != 0);
  if (16 - n < min_digits) out.append(static_cast<std::size_t>(min_digits - (16 - n)), '0');
  out.append(buf + n, static_cast<std::size_t>(16 - n));
}

void AppendOctal(std::string& out, unsigned v, int min_digits) {
  char buf[12];
  int n = 12;
  do {
    buf[--n] = static_cast<char>('0' + (v & 7));
    v >>= 3;
  } while (v != 0);
  if (12 - n < min_digits) out.append(static_cast<std::size_t>(min_digits - (12 - n)), '0');
  out.append(buf + n, static_cast<std::size_t>(12 - n));
}

void AppendDecimal(std::string& out, std::uint32_t v) {
  char buf[12];
  int n = 12;
  do {
    buf[--n] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  out.append(buf + n, static_cast<std::size_t>(12 - n));
}

}  // namespace internal

// Decodes an escaped string from s[i] up to the unescaped `endchar` (-1: up
// to the end of s). Returns the index after the delimiter, or nullopt when
// the delimiter is missing. `out` receives the units, without a terminator.
std::optional<std::size_t> ParseString(std::string_view s, std::size_t i, int endchar, std::u16string& out) {
  out.clear();
  const std::size_t n = s.size();
  auto at = [&](std::size_t k) -> unsigned char { return k < n ? static_cast<unsigned char>(s[k]) : 0; };
  while (i < n && static_cast<unsigned char>(s[i]) != endchar) {
    // A run of plain ASCII, copied in one piece.
    const char end = endchar < 0 ? '\\' : static_cast<char>(endchar);
    const std::size_t j = i + internal::AsciiRun(s.data() + i, n - i, '\\', end, end, false);
    if (j > i) {
      const std::size_t at = out.size();
      out.resize(at + (j - i));
      char16_t* p = out.data() + at;
      for (std::size_t k = i; k < j; ++k) *p++ = static_cast<unsigned char>(s[k]);
      i = j;
      continue;
    }
    if (s[i] == '\\') {
      ++i;
      if (i >= n) break;
      const char e = s[i];
      switch (e) {
        case 'a':
          out.push_back(u'\a');
          ++i;
          continue;
        case 'b':
          out.push_back(u'\b');
          ++i;
          continue;
        case 'e':
          out.push_back(u'\x1b');
          ++i;
          continue;
        case 'f':
          out.push_back(u'\f');
          ++i;
          continue;
        case 'n':
          out.push_back(u'\n');
          ++i;
          continue;
        case 'r':
          out.push_back(u'\r');
          ++i;
          continue;
        case 't':
          out.push_back(u'\t');
          ++i;
          continue;
        case 'v':
          out.push_back(u'\v');
          ++i;
          continue;
        case 'x': {
          ++i;
          if (i >= n || !internal::IsXDigit(s[i])) {
            out.push_back(u'x');
            continue;
          }
          unsigned v = 0;
          for (int k = 0; k < 4 && i < n && internal::IsXDigit(s[i]); ++k, ++i)
            v = v * 16 + static_cast<unsigned>(internal::HexValue(s[i]));
          out.push_back(static_cast<char16_t>(v));
          continue;
        }
        default:
          break;
      }
      if (e >= '0' && e <= '7') {
        unsigned v = static_cast<unsigned>(e - '0');
        ++i;
        for (int k = 0; k < 2 && i < n && s[i] >= '0' && s[i] <= '7'; ++k, ++i)
          v = v * 8 + static_cast<unsigned>(s[i] - '0');
        out.push_back(static_cast<char16_t>(v));
        continue;
      }
      // Any other escaped character stands for itself.
    }
    const unsigned char ch = static_cast<unsigned char>(s[i++]);
    if (ch < 0x80) {
      out.push_back(ch);
      continue;
    }
    // UTF-8; an invalid sequence is dropped (its valid continuation bytes with it).
    int len = 0;
    if (ch >= 0xC2 && ch <= 0xDF)
      len = 1;
    else if (ch >= 0xE0 && ch <= 0xEF)
      len = 2;
    else if (ch >= 0xF0 && ch <= 0xF4)
      len = 3;
    if (len == 0) continue;
    static constexpr unsigned char kMask[4] = {0x7F, 0x1F, 0x0F, 0x07};
    static constexpr std::uint32_t kMin[4] = {0x0, 0x80, 0x800, 0x10000};
    std::uint32_t res = ch & kMask[len];
    bool complete = true;
    for (int k = 0; k < len; ++k) {
      const unsigned char cont = at(i) ^ 0x80;
      if (cont >= 0x40) {
        complete = false;
        break;
      }
      res = (res << 6) | cont;
      ++i;
    }
    if (!complete || res < kMin[len] || res > 0x10FFFF) continue;
    if (res <= 0xFFFF) {
      out.push_back(static_cast<char16_t>(res));
    } else {
      res -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 | (res >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 | (res & 0x3FF)));
    }
  }
  if (endchar < 0) return n;
  if (i >= n) return std::nullopt;
  return i + 1;
}

}  // namespace winereg
