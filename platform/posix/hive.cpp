// Wine registry files: parsing and saving as wineserver does (server/registry.c
// load_keys/save_subkeys, server/unicode.c parse_strW/dump_strW).
#include "platform/posix/hive.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwctype>
#include <utility>
#include <locale.h>
#include <wctype.h>

namespace plat::posix {

namespace {
// loaded_parent_ of the keys Parse put right under the root.
const char kTopLevelMark = 0;
const void* const kTopLevel = &kTopLevelMark;
}  // namespace

// One section of a file whose sections are all as Save writes them, in the
// order it writes them. Offsets into the file's text.
struct FoldedSection {
  static constexpr std::uint32_t kNone = UINT32_MAX;
  std::uint32_t path_begin;    // after "["; the entry starts 2 bytes before
  std::uint32_t path_end;      // the "]"
  std::uint32_t values_begin;  // kNone: no values
  std::uint32_t end;           // after the section's last line
  std::int64_t modif;
  std::uint32_t depth;         // components of the path
  bool link;
};

struct FoldedTree {
  std::shared_ptr<const void> source;
  std::string_view text;
  std::vector<FoldedSection> sections;
};

// What the loader and Save do with keys beyond their public interface.
struct KeyText {
  static void Fold(Key& key, const std::shared_ptr<const FoldedTree>& tree, std::uint32_t begin, std::uint32_t end,
                   std::uint32_t depth) {
    if (begin >= end) return;
    key.folded_ = tree;
    key.fold_begin_ = begin;
    key.fold_end_ = end;
    key.fold_depth_ = depth;
  }
  // The text of the subkeys not made yet, or empty.
  static std::string_view FoldedText(const Key& key) {
    if (!key.folded_) return {};
    const std::vector<FoldedSection>& sections = key.folded_->sections;
    const std::size_t begin = sections[key.fold_begin_].path_begin - 2;
    return key.folded_->text.substr(begin, sections[key.fold_end_ - 1].end - begin);
  }
  static void SetLink(Key& key, bool link) { key.link_ = link; }
  static void Place(Key& key, const void* parent) { key.loaded_parent_ = parent; }
  static const void* LoadedParent(const Key& key) { return key.loaded_parent_; }
  static std::string_view ReadEntry(const Key& key) { return key.section_is_read_ ? key.read_entry_ : std::string_view(); }
  // Whether nothing has been loaded into the key yet.
  static bool Untouched(const Key& key) {
    return key.values_.empty() && key.raw_values_.empty() && !key.section_is_read_ && !key.class_ && !key.link_;
  }
  // Parses what the key kept and drops its kept section: another section
  // for the same key follows.
  static void Reopen(Key& key) {
    key.LoadValues();
    key.Changed();
  }
  static void KeepValues(Key& key, const std::shared_ptr<const void>& source, std::string_view lines) {
    key.source_ = source;
    key.raw_values_ = lines;
  }
  static void KeepSection(Key& key, const std::shared_ptr<const void>& source, std::string_view text,
                          std::string_view entry) {
    key.source_ = source;
    key.read_section_ = text;
    key.read_entry_ = entry;
    key.section_valid_ = true;
    key.section_is_read_ = true;
  }
};

namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kTicks1601To1970 = std::int64_t{86400} * (369 * 365 + 89) * kTicksPerSecond;
constexpr std::size_t kMaxValueNameLength = 16383;
constexpr std::size_t kMaxKeyNameLength = 256;  // wineserver's limit for one key name
constexpr char kHeader[] = "WINE REGISTRY Version 2";
constexpr char kBranchPrefix[] = ";; All keys relative to ";

constexpr DWORD kRegSz = 1;
constexpr DWORD kRegExpandSz = 2;
constexpr DWORD kRegBinary = 3;
constexpr DWORD kRegDword = 4;
constexpr DWORD kRegMultiSz = 7;

// The lower-case table: the simple lower-case mapping of the C library's UTF-8
// locale, kept only where it maps back (upper of lower is the character
// itself), which leaves title-case letters and the one-way mappings into
// ASCII (U+0130, U+212A, ...) unchanged, as wineserver's table does.
class LowerTable {
 public:
  LowerTable() {
    for (std::size_t c = 0; c < table_.size(); ++c) table_[c] = static_cast<char16_t>(c);
    for (char16_t c = u'A'; c <= u'Z'; ++c) table_[c] = static_cast<char16_t>(c + 32);
    locale_t loc = static_cast<locale_t>(0);
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8", "en_US.utf8"}) {
      loc = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0));
      if (loc != static_cast<locale_t>(0)) break;
    }
    if (loc == static_cast<locale_t>(0)) return;  // ASCII only
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

// C-locale character classes, as wineserver's loader uses them.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsXDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// The length of the run at the start of s[0, n) of bytes below 0x80 that
// are none of `a`, `b`, `c` (nor, with `controls`, below 0x20). Eight bytes a
// step: the lowest flagged byte of each test is always a true one.
std::size_t AsciiRun(const char* s, std::size_t n, char a, char b, char c, bool controls) {
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

// Whether a key path as read is written by Save as it stands: components of
// plain characters joined by "\\\\", none empty and none too long.
bool PlainPath(std::string_view raw, std::uint32_t* components = nullptr) {
  const std::size_t n = raw.size();
  std::uint32_t count = 0;
  for (std::size_t i = 0; i < n;) {
    const std::size_t run = AsciiRun(raw.data() + i, n - i, '[', ']', '\\', true);
    if (run == 0 || run > kMaxKeyNameLength) return false;
    ++count;
    i += run;
    if (i == n) break;
    if (n - i < 3 || raw[i] != '\\' || raw[i + 1] != '\\') return false;
    i += 2;
  }
  if (components != nullptr) *components = count;
  return true;
}

// The lower-case table's value for an ASCII character.
constexpr int AsciiLower(int c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

// CompareNames for names of ASCII characters.
int CompareAscii(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    if (const int d = AsciiLower(a[i]) - AsciiLower(b[i]); d != 0) return d;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// How the plain path b stands to the plain path a before it, in the order
// in which Save writes sections: after it elsewhere, below it, or not after
// it (the same key, one spelled otherwise, or before it).
enum class Follows { kAfter, kBelow, kNot };
Follows PlainPathFollows(std::string_view a, std::string_view b) {
  if (a.empty()) return Follows::kAfter;
  // The components that hold the first difference decide.
  const std::size_t m = SharedPrefix(a, b);
  if (m == a.size() && m == b.size()) return Follows::kNot;  // the same key again
  std::size_t start = m;
  while (start > 0 && a[start - 1] != '\\') --start;
  const std::size_t a_end = std::min(a.find('\\', m), a.size());
  const std::size_t b_end = std::min(b.find('\\', m), b.size());
  const std::string_view x = a.substr(start, a_end - start);
  const std::string_view y = b.substr(start, b_end - start);
  if (x == y) return a_end == a.size() ? Follows::kBelow : Follows::kNot;
  return CompareAscii(x, y) < 0 ? Follows::kAfter : Follows::kNot;
}

// The value of a "#time=" line, read as wineserver reads it: the hex
// digits after "=", up to anything else.
std::uint64_t TimeOption(std::string_view line) {
  std::uint64_t modif = 0;
  for (std::size_t i = 6; i < line.size() && IsXDigit(line[i]); ++i) {
    modif = (modif << 4) | static_cast<std::uint64_t>(HexValue(line[i]));
  }
  return modif;
}

constexpr char kHexDigits[] = "0123456789abcdef";

// "00" .. "ff".
constexpr std::array<std::array<char, 2>, 256> kHexPairs = [] {
  std::array<std::array<char, 2>, 256> t{};
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = {kHexDigits[i >> 4], kHexDigits[i & 0xF]};
  return t;
}();

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

constexpr PlainSet kPlainInQuotes = MakePlainSet('"', '"');
constexpr PlainSet kPlainInBrackets = MakePlainSet('[', ']');

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
      const bool hex_follows = has_next && s[i] < 128 && IsXDigit(static_cast<char>(s[i]));
      AppendHex(out, c, hex_follows ? 4 : 1);
      continue;
    }
    if (c < 32) {
      if (c == 0 && !has_next) continue;
      out.push_back('\\');
      if (kEscapes[c] != '.') {
        out.push_back(kEscapes[c]);
      } else {
        const bool octal_follows = has_next && s[i] >= u'0' && s[i] <= u'7';
        AppendOctal(out, c, octal_follows ? 3 : 1);
      }
      continue;
    }
    out.push_back('\\');
    out.push_back(static_cast<char>(c));
  }
  return out.size() - start;
}

void DumpValue(std::string& out, const Value& value) {
  std::size_t count;
  if (!value.name.empty()) {
    out.push_back('"');
    count = 1 + DumpString(out, std::u16string_view(value.name), kPlainInQuotes);
    out += "\"=";
    count += 2;
  } else {
    out += "@=";
    count = 2;
  }
  const std::vector<BYTE>& data = value.data;
  switch (value.type) {
    case kRegSz:
    case kRegExpandSz:
    case kRegMultiSz:
      if (data.size() < 2 || data.size() % 2 != 0) break;
      if (data[data.size() - 2] != 0 || data[data.size() - 1] != 0) break;
      if (value.type != kRegSz) {
        out += "str(";
        AppendHex(out, value.type, 1);
        out += "):";
      }
      out.push_back('"');
      DumpString(out, LittleEndianUnits{data.data(), data.size() / 2}, kPlainInQuotes);
      out += "\"\n";
      return;
    case kRegDword:
      if (data.size() != 4) break;
      out += "dword:";
      AppendHex(out, static_cast<std::uint32_t>(data[0] | (data[1] << 8) | (data[2] << 16)) |
                         (static_cast<std::uint32_t>(data[3]) << 24),
                8);
      out.push_back('\n');
      return;
    default:
      break;
  }
  const std::size_t tag_start = out.size();
  if (value.type == kRegBinary) {
    out += "hex:";
  } else {
    out += "hex(";
    AppendHex(out, value.type, 1);
    out += "):";
  }
  count += out.size() - tag_start;
  const std::size_t n = data.size();
  if (n != 0) {
    // Two digits and a comma a byte; after the first break, a break at
    // most every 25 bytes.
    const std::size_t at = out.size();
    out.resize(at + 3 * n + 4 * (n / 24 + 2));
    char* const begin = out.data() + at;
    char* p = begin;
    for (std::size_t i = 0; i < n; ++i) {
      std::memcpy(p, kHexPairs[data[i]].data(), 2);
      p += 2;
      count += 2;
      if (i + 1 < n) {
        *p++ = ',';
        if (++count > 76) {
          std::memcpy(p, "\\\n  ", 4);
          p += 4;
          count = 2;
        }
      }
    }
    out.resize(at + static_cast<std::size_t>(p - begin));
  }
  out.push_back('\n');
}

bool KeyIsWritten(const Key& key) {
  // Volatile subkeys count here: a key whose only subkeys are volatile is
  // still implied by them and not written.
  return key.has_values() || !key.has_subkeys() || key.class_name().has_value() || key.is_link();
}

// The start of a key's section after its path: "] ", the header's seconds
// and #time.
void DumpSectionHead(std::string& out, std::int64_t time) {
  out += "] ";
  // Wrapping arithmetic and truncating division, as the server's C code does.
  const auto since_1970 =
      static_cast<std::int64_t>(static_cast<std::uint64_t>(time) - static_cast<std::uint64_t>(kTicks1601To1970));
  AppendDecimal(out, static_cast<std::uint32_t>(static_cast<std::uint64_t>(since_1970 / kTicksPerSecond)));
  out += "\n#time=";
  const auto modif = static_cast<std::uint64_t>(time);
  AppendHex(out, modif >> 32, 1);
  AppendHex(out, modif & 0xFFFFFFFFu, 8);
  out.push_back('\n');
}
void DumpSectionHead(std::string& out, const Key& key) { DumpSectionHead(out, key.modif()); }

// A key's section after its path: the head, #class, #link and the values.
void DumpSection(std::string& out, const Key& key) {
  DumpSectionHead(out, key);
  if (key.class_name()) {
    out += "#class=\"";
    DumpString(out, WithNul{*key.class_name()}, kPlainInQuotes);
    out += "\"\n";
  }
  if (key.is_link()) out += "#link\n";
  for (const Value& value : key.values()) DumpValue(out, value);
}

// ---------------------------------------------------------------------------
// Loading

struct LineReader {
  std::string_view bytes;
  std::size_t pos = 0;
  int line = 0;

  // The next line without its "\n" (and a "\r" before it); nullopt at the end.
  std::optional<std::string_view> Next() {
    if (pos >= bytes.size()) return std::nullopt;
    ++line;
    const std::size_t nl = bytes.find('\n', pos);
    std::string_view text;
    if (nl == std::string_view::npos) {
      text = bytes.substr(pos);
      pos = bytes.size();
    } else {
      text = bytes.substr(pos, nl - pos);
      pos = nl + 1;
      if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    }
    return text;
  }
};

std::string Quoted(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u < 0x7F) return std::string("'") + c + "'";
  std::string s = "byte 0x";
  AppendHex(s, u, 2);
  return s;
}

// "found ..." for the text at `rest`: its first character, or the end.
std::string Found(std::string_view rest, const char* end_name = "end of line") {
  return rest.empty() ? std::string(end_name) : Quoted(rest.front());
}

std::string QuotedText(std::string_view text) {
  constexpr std::size_t kMax = 40;
  std::string s = "'";
  for (std::size_t i = 0; i < text.size() && i < kMax; ++i) {
    const auto u = static_cast<unsigned char>(text[i]);
    if (u >= 0x20 && u < 0x7F) {
      s.push_back(text[i]);
    } else {
      s += "\\x";
      AppendHex(s, u, 2);
    }
  }
  if (text.size() > kMax) s += "...";
  s.push_back('\'');
  return s;
}

std::size_t SkipSpaces(std::string_view s, std::size_t i) {
  while (i < s.size() && IsSpace(s[i])) ++i;
  return i;
}

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
    const std::size_t j = i + AsciiRun(s.data() + i, n - i, '\\', end, end, false);
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
        case 'a': out.push_back(u'\a'); ++i; continue;
        case 'b': out.push_back(u'\b'); ++i; continue;
        case 'e': out.push_back(u'\x1b'); ++i; continue;
        case 'f': out.push_back(u'\f'); ++i; continue;
        case 'n': out.push_back(u'\n'); ++i; continue;
        case 'r': out.push_back(u'\r'); ++i; continue;
        case 't': out.push_back(u'\t'); ++i; continue;
        case 'v': out.push_back(u'\v'); ++i; continue;
        case 'x': {
          ++i;
          if (i >= n || !IsXDigit(s[i])) {
            out.push_back(u'x');
            continue;
          }
          unsigned v = 0;
          for (int k = 0; k < 4 && i < n && IsXDigit(s[i]); ++k, ++i) v = v * 16 + static_cast<unsigned>(HexValue(s[i]));
          out.push_back(static_cast<char16_t>(v));
          continue;
        }
        default:
          break;
      }
      if (e >= '0' && e <= '7') {
        unsigned v = static_cast<unsigned>(e - '0');
        ++i;
        for (int k = 0; k < 2 && i < n && s[i] >= '0' && s[i] <= '7'; ++k, ++i) v = v * 8 + static_cast<unsigned>(s[i] - '0');
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
    if (ch >= 0xC2 && ch <= 0xDF) len = 1;
    else if (ch >= 0xE0 && ch <= 0xEF) len = 2;
    else if (ch >= 0xF0 && ch <= 0xF4) len = 3;
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

// strtoul(s + i, &end, 16) as glibc does it: leading blanks, a sign, a "0x"
// prefix; saturates on overflow. Returns the end index (i when nothing was
// converted).
std::size_t StrToULHex(std::string_view s, std::size_t i, std::uint64_t* value) {
  const std::size_t start = i;
  i = SkipSpaces(s, i);
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  if (i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') && IsXDigit(s[i + 2])) i += 2;
  if (i >= s.size() || !IsXDigit(s[i])) {
    *value = 0;
    return start;
  }
  std::uint64_t v = 0;
  bool overflow = false;
  for (; i < s.size() && IsXDigit(s[i]); ++i) {
    if (v > (UINT64_MAX >> 4)) overflow = true;
    v = (v << 4) | static_cast<std::uint64_t>(HexValue(s[i]));
  }
  if (overflow) v = UINT64_MAX;
  else if (negative) v = 0 - v;
  *value = v;
  return i;
}

class Loader {
 public:
  // Parses a whole file.
  Loader(std::shared_ptr<const void> source, std::string_view bytes, ParseError* error)
      : source_(std::move(source)), reader_{bytes}, error_(error), now_(CurrentFileTime()) {}
  // Parses the value lines a key kept unparsed into `into`.
  Loader(std::string_view lines, std::vector<Value>* into) : reader_{lines}, error_(nullptr), into_(into) {}

  std::optional<Hive> Run();
  // A file whose every section is as Save writes it, in the order Save
  // writes them, as a root whose subkeys are made on demand; nullopt for any
  // other file (Run then parses it).
  std::optional<Hive> Fold();
  bool RunValueLines();

 private:
  bool Fail(std::string message) {
    if (error_) {
      error_->line = reader_.line;
      error_->message = std::move(message);
    }
    return false;
  }
  bool Line(std::string_view line);
  bool KeyLine(std::string_view line);
  bool GlobalOption(std::string_view line);
  bool KeyOption(std::string_view line);
  bool ValueLine(std::string_view line);
  bool HexData(std::string_view line, std::size_t i, std::vector<BYTE>& data);
  void Store();
  bool KeepValue(std::string_view line);
  bool KeepParsedValue(std::string_view line);
  bool HeadIsSaved(std::int64_t time, bool link, std::size_t begin, std::size_t end);
  bool KeptAfter(std::size_t begin);
  std::size_t QuickValue(std::size_t begin, int* continuations);
  void ParseSectionNow();
  void UpdateTime(std::int64_t modif);
  void EndSection();
  std::size_t Offset(std::string_view text) const { return static_cast<std::size_t>(text.data() - reader_.bytes.data()); }
  std::string_view Text(std::size_t begin, std::size_t end) const { return reader_.bytes.substr(begin, end - begin); }

  std::shared_ptr<const void> source_;  // owns reader_.bytes
  LineReader reader_;
  ParseError* error_;
  std::int64_t now_ = 0;
  std::vector<Value>* into_ = nullptr;
  Hive hive_;
  bool root_section_ = false;        // a "[]" section was seen
  std::vector<Key*> path_;           // root .. the current section's key
  std::int64_t section_modif_ = 0;   // from the current section's header
  std::u16string text_;              // scratch
  Value value_;                      // the value line just parsed
  // The current section's key name, path_[k + 1] being the key of its
  // component k: a following section that starts with the same components
  // has the same keys.
  std::u16string section_name_;
  std::vector<std::size_t> section_ends_;  // where its components end
  std::vector<bool> exact_;                // whose keys are spelled as there

  // A section whose lines are each what Save writes (#time, then values in
  // order) is kept as text: `keeping_` while that still holds. Otherwise
  // the reader goes back to its first line and parses it at once.
  bool keeping_ = false;
  std::size_t body_pos_ = 0;           // the line after the section's header
  int body_line_ = 0;
  std::size_t section_begin_ = 0;      // the "]" closing the header's path
  std::size_t entry_begin_ = 0;        // the blank line before the header
  bool entry_ok_ = false;              // header and path as Save writes them
  std::size_t values_begin_ = 0;       // the first value line (npos: none)
  std::size_t section_end_ = 0;        // after the section's last line
  bool body_started_ = false;          // a #time or value line was seen
  bool body_closed_ = false;           // a blank or comment line was seen
  std::u16string previous_name_;       // the last kept value's name
  bool has_previous_ = false;
  std::string dump_;                   // scratch
};

std::optional<Hive> Loader::Run() {
  const std::optional<std::string_view> first = reader_.Next();
  if (!first) {
    reader_.line = 1;
    Fail(std::string("expected '") + kHeader + "', found end of file");
    return std::nullopt;
  }
  if (*first != kHeader) {
    Fail(std::string("expected '") + kHeader + "', found " + (first->empty() ? "an empty line" : QuotedText(*first)));
    return std::nullopt;
  }
  hive_.root.set_modif(0);
  while (const std::optional<std::string_view> line = reader_.Next()) {
    if (line->find('\0') != std::string_view::npos) {
      Fail("expected text, found a NUL byte");
      return std::nullopt;
    }
    if (reader_.line == 2 && line->starts_with(kBranchPrefix)) {
      ParseString(*line, std::strlen(kBranchPrefix), -1, hive_.branch);
      continue;
    }
    if (!Line(*line)) return std::nullopt;
  }
  EndSection();
  // Without its own section the root's time is that of the load.
  if (!root_section_ || hive_.root.modif() == 0) hive_.root.set_modif(now_);
  hive_.size_hint = reader_.bytes.size();
  return std::move(hive_);
}

std::optional<Hive> Loader::Fold() {
  constexpr std::size_t npos = std::string_view::npos;
  const std::string_view bytes = reader_.bytes;
  if (bytes.size() >= FoldedSection::kNone) return std::nullopt;
  const std::optional<std::string_view> first = reader_.Next();
  if (!first || *first != kHeader) return std::nullopt;
  auto tree = std::make_shared<FoldedTree>();
  tree->source = source_;
  tree->text = bytes;
  std::vector<FoldedSection>& sections = tree->sections;
  sections.reserve(bytes.size() / 128);
  bool in_section = false;
  bool time_seen = false;
  bool previous_bare = false;  // the last section has neither values nor #link
  FoldedSection current{};
  std::string_view previous_path;
  // The section's head, up to its values, must be what Save writes.
  const auto finish = [&]() -> bool {
    if (!in_section) return true;
    if (!time_seen) return false;
    const std::size_t values = values_begin_ == npos ? section_end_ : values_begin_;
    if (!HeadIsSaved(current.modif, current.link, current.path_end, values)) return false;
    current.values_begin = values_begin_ == npos ? FoldedSection::kNone : static_cast<std::uint32_t>(values_begin_);
    current.end = static_cast<std::uint32_t>(section_end_);
    previous_bare = values_begin_ == npos && !current.link;
    sections.push_back(current);
    return true;
  };
  for (;;) {
    // Most lines are values Save writes as they stand: checked in place,
    // without looking for their end first.
    if (in_section && time_seen && !body_closed_ && reader_.pos < bytes.size() &&
        (bytes[reader_.pos] == '"' || bytes[reader_.pos] == '@')) {
      const std::size_t begin = reader_.pos;
      int continuations = 0;
      if (const std::size_t end = QuickValue(begin, &continuations); end != npos) {
        reader_.pos = end;
        reader_.line += 1 + continuations;
        if (!KeptAfter(begin)) return std::nullopt;
        continue;
      }
    }
    const std::optional<std::string_view> line = reader_.Next();
    if (!line) break;
    if (line->find('\0') != npos) return std::nullopt;
    if (reader_.line == 2 && line->starts_with(kBranchPrefix)) {
      ParseString(*line, std::strlen(kBranchPrefix), -1, hive_.branch);
      continue;
    }
    if (line->empty()) {
      body_closed_ = true;
      continue;
    }
    switch (line->front()) {
      case '[': {
        if (!finish()) return std::nullopt;
        // A plain path ends at the first "]".
        const std::size_t close = line->find(']');
        if (close == npos) return std::nullopt;
        const std::optional<std::size_t> after = close + 1;
        const std::size_t at = Offset(*line);
        const std::string_view path = line->substr(1, *after - 2);
        std::uint32_t depth = 0;
        if (path.empty() || at < 2 || bytes[at - 1] != '\n' || bytes[at - 2] != '\n' || !PlainPath(path, &depth)) {
          return std::nullopt;
        }
        // A key with subkeys is written only when it has values or a link.
        const Follows follows = PlainPathFollows(previous_path, path);
        if (follows == Follows::kNot || (follows == Follows::kBelow && previous_bare)) return std::nullopt;
        previous_path = path;
        in_section = true;
        time_seen = false;
        current = FoldedSection{static_cast<std::uint32_t>(at + 1), static_cast<std::uint32_t>(at + *after - 1),
                                FoldedSection::kNone, 0, 0, depth, false};
        values_begin_ = npos;
        section_end_ = reader_.pos;
        body_started_ = false;
        body_closed_ = false;
        has_previous_ = false;
        continue;
      }
      case '#':
        if (!in_section) {
          if (!GlobalOption(*line)) return std::nullopt;
          continue;
        }
        if (!body_started_ && !body_closed_ && line->starts_with("#time=")) {
          const std::uint64_t modif = TimeOption(*line);
          if (modif == 0) return std::nullopt;  // a key without a time takes one from below
          current.modif = static_cast<std::int64_t>(modif);
          time_seen = body_started_ = true;
          section_end_ = reader_.pos;
          continue;
        }
        if (time_seen && !current.link && values_begin_ == npos && !body_closed_ && *line == "#link") {
          current.link = true;
          section_end_ = reader_.pos;
          continue;
        }
        return std::nullopt;
      case '@':
      case '"':
        // QuickValue has seen it at the top of the loop.
        if (!in_section || !time_seen || body_closed_ || !KeepParsedValue(*line)) return std::nullopt;
        continue;
      default:
        return std::nullopt;
    }
  }
  if (!finish()) return std::nullopt;
  hive_.root.set_modif(now_);  // no "[]" section: the time of the load
  KeyText::Fold(hive_.root, tree, 0, static_cast<std::uint32_t>(sections.size()), 0);
  hive_.size_hint = bytes.size();
  return std::move(hive_);
}

bool Loader::Line(std::string_view line) {
  const std::size_t i = SkipSpaces(line, 0);
  const std::string_view rest = line.substr(i);
  if (rest.empty()) {
    body_closed_ = true;
    return true;
  }
  switch (rest.front()) {
    case '[':
      return KeyLine(rest);
    case '@':
    case '"':
      if (path_.empty()) return Fail("expected a '[key]' line before the first value, found " + Quoted(rest.front()));
      if (keeping_) {
        if (i == 0 && !body_closed_ && KeepValue(line)) return true;
        ParseSectionNow();
        return true;
      }
      if (!ValueLine(rest)) return false;
      Store();
      return true;
    case '#':
      if (path_.empty()) return GlobalOption(rest);
      if (keeping_) {
        if (i != 0 || body_started_ || body_closed_ || !rest.starts_with("#time=")) {
          ParseSectionNow();
          return true;
        }
        body_started_ = true;
        section_end_ = reader_.pos;
      }
      return KeyOption(rest);
    case ';':
      body_closed_ = true;
      return true;
    default:
      return Fail("expected '[', '@', '\"', '#' or ';' at the start of a line, found " + Quoted(rest.front()));
  }
}

// Sets the time of the current key and of its ancestors that have none yet;
// the root takes a time only from its own section.
void Loader::UpdateTime(std::int64_t modif) {
  for (std::size_t k = path_.size(); k-- > 0;) {
    if (path_[k]->modif() != 0) break;
    if (k == 0 && path_.size() > 1) break;
    path_[k]->set_modif(modif);
  }
}

bool Loader::KeyLine(std::string_view line) {
  EndSection();
  std::u16string& name = text_;
  const std::optional<std::size_t> after = ParseString(line, 1, ']', name);
  if (!after) return Fail("expected ']' after the key name, found end of line");
  // An optional time stamp in seconds since 1970 (read as " %u" would).
  std::size_t i = SkipSpaces(line, *after);
  std::size_t digits_start = i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) {
    negative = line[i] == '-';
    digits_start = ++i;
  }
  std::uint64_t seconds = 0;
  bool overflow = false;
  for (; i < line.size() && IsDigit(line[i]); ++i) {
    const auto d = static_cast<std::uint64_t>(line[i] - '0');
    if (seconds > (UINT64_MAX - d) / 10) overflow = true;
    seconds = seconds * 10 + d;
  }
  if (i > digits_start) {
    if (overflow) seconds = UINT64_MAX;
    else if (negative) seconds = 0 - seconds;
    section_modif_ = static_cast<std::int64_t>(static_cast<std::uint32_t>(seconds)) * kTicksPerSecond + kTicks1601To1970;
  } else {
    if (i != SkipSpaces(line, *after)) return Fail("expected digits after the sign of the time stamp, found " + Found(line.substr(i)));
    section_modif_ = now_;
  }
  i = SkipSpaces(line, i);
  if (i < line.size()) return Fail("expected the end of the line after the key's time stamp, found " + Found(line.substr(i)));

  if (path_.empty()) path_.push_back(&hive_.root);
  // Where the section's text starts for Save: at the "]" after the path;
  // and its entry, from the blank line before it.
  section_begin_ = Offset(line) + *after - 1;
  const std::size_t at = Offset(line);
  entry_begin_ = at - 1;
  entry_ok_ = at >= 2 && reader_.bytes[at - 1] == '\n' && reader_.bytes[at - 2] == '\n' &&
              PlainPath(line.substr(1, *after - 2));
  body_pos_ = reader_.pos;
  body_line_ = reader_.line;
  values_begin_ = std::string_view::npos;
  section_end_ = reader_.pos;
  body_started_ = false;
  body_closed_ = false;
  has_previous_ = false;
  const auto open = [this] {
    Key& key = *path_.back();
    keeping_ = source_ != nullptr && KeyText::Untouched(key);
    if (!keeping_) KeyText::Reopen(key);
  };
  if (name.empty() || name.front() == u'\0') {
    root_section_ = true;
    path_.resize(1);
    section_name_.clear();
    section_ends_.clear();
    exact_.clear();
    open();
    return true;
  }
  // The components within the part the previous section's name shares
  // with this one, up to a separator in both, are the previous keys.
  const std::size_t n = name.size();
  const std::size_t shared = SharedPrefix<char16_t>(section_name_, name);
  std::size_t depth = 0;
  while (depth < section_ends_.size()) {
    const std::size_t end = section_ends_[depth];
    if (end > shared || (end == shared && end < n && name[end] != u'\\')) break;
    ++depth;
  }
  section_ends_.resize(depth);
  exact_.resize(depth);
  path_.resize(depth + 1);
  Key* key = path_.back();
  for (std::size_t start = depth == 0 ? 0 : section_ends_.back(); start < n;) {
    std::size_t end = std::u16string_view(name).find(u'\\', start);
    if (end == std::u16string_view::npos) end = n;
    if (end > start) {
      // wineserver reports such a key and drops it, its values and subkeys.
      if (end - start > kMaxKeyNameLength) {
        return Fail("expected key names of at most 256 characters, found one of " + std::to_string(end - start));
      }
      const std::u16string_view component = std::u16string_view(name).substr(start, end - start);
      bool created = false;
      Key* const parent = key;
      key = &key->AddSubkey(component, 0, &created);
      if (created) KeyText::Place(*key, path_.size() == 1 ? kTopLevel : parent);
      path_.push_back(key);
      section_ends_.push_back(end);
      // A key of another spelling keeps its own: the path written differs.
      exact_.push_back(created || key->name() == component);
    }
    start = end + 1;
  }
  for (const bool exact : exact_) entry_ok_ = entry_ok_ && exact;
  section_name_.swap(name);
  open();
  return true;
}

void Loader::EndSection() {
  if (path_.empty()) return;
  UpdateTime(section_modif_);
  if (!keeping_) return;
  keeping_ = false;
  Key& key = *path_.back();
  const bool has_values = values_begin_ != std::string_view::npos;
  if (has_values) KeyText::KeepValues(key, source_, Text(values_begin_, section_end_));
  // The text from "]" on is the section Save writes when it starts with the
  // head Save writes for the key.
  if (HeadIsSaved(key.modif(), key.is_link(), section_begin_, has_values ? values_begin_ : section_end_)) {
    KeyText::KeepSection(key, source_, Text(section_begin_, section_end_),
                         entry_ok_ ? Text(entry_begin_, section_end_) : std::string_view());
  }
}

// Whether the text [begin, end) is the head Save writes for a key of that
// time and link: "] ", seconds, #time and #link.
bool Loader::HeadIsSaved(std::int64_t time, bool link, std::size_t begin, std::size_t end) {
  dump_.clear();
  DumpSectionHead(dump_, time);
  if (link) dump_ += "#link\n";
  return Text(begin, end) == dump_;
}

// Back to the current section's first line, to parse it at once.
void Loader::ParseSectionNow() {
  keeping_ = false;
  reader_.pos = body_pos_;
  reader_.line = body_line_;
  body_closed_ = false;
}

// The end (after its last "\n") of the value that starts at `begin`, when it
// is plainly in the form Save writes: quoted text of plain characters, "\\"
// and "\"", or a dword, or hex data wrapped as Save wraps it. npos when that
// takes a full parse to tell. The name goes to value_.name; `continuations`
// counts the lines after the first.
std::size_t Loader::QuickValue(std::size_t begin, int* continuations) {
  constexpr std::size_t npos = std::string_view::npos;
  const std::string_view b = reader_.bytes;
  const std::size_t n = b.size();
  const auto lower_hex = [](char c) { return IsDigit(c) || (c >= 'a' && c <= 'f'); };
  // From after an opening quote to its closing quote (npos: not plain).
  const auto quoted = [&](std::size_t i, std::u16string* name) -> std::size_t {
    while (i < n) {
      const std::size_t run = AsciiRun(b.data() + i, n - i, '"', '\\', '\\', true);
      if (name != nullptr) {
        for (std::size_t k = 0; k < run; ++k) name->push_back(static_cast<unsigned char>(b[i + k]));
      }
      i += run;
      if (i >= n) break;
      if (b[i] == '"') return i;
      if (b[i] != '\\' || i + 1 >= n || (b[i + 1] != '\\' && b[i + 1] != '"')) return npos;
      if (name != nullptr) name->push_back(static_cast<unsigned char>(b[i + 1]));
      i += 2;
    }
    return npos;
  };
  const auto line_end = [&](std::size_t i) { return i < n && b[i] == '\n' ? i + 1 : npos; };

  std::size_t i = begin;
  value_.name.clear();
  if (b[i] == '@') {
    ++i;
  } else {
    const std::size_t close = quoted(i + 1, &value_.name);
    if (close == npos || value_.name.empty() || value_.name.size() > kMaxValueNameLength) return npos;
    i = close + 1;
  }
  if (i >= n || b[i] != '=') return npos;
  ++i;
  const std::string_view rest = b.substr(i);
  if (rest.starts_with("dword:")) {
    if (rest.size() < 14) return npos;
    for (std::size_t k = 6; k < 14; ++k) {
      if (!lower_hex(rest[k])) return npos;
    }
    return line_end(i + 14);
  }
  if (rest.starts_with("str(2):\"") || rest.starts_with("str(7):\"")) i += 7;
  if (b[i] == '"') {
    const std::size_t close = quoted(i + 1, nullptr);
    return close == npos ? npos : line_end(close + 1);
  }
  DWORD type = kRegBinary;
  if (rest.starts_with("hex:")) {
    i += 4;
  } else if (rest.starts_with("hex(")) {
    i += 4;
    const std::size_t digits = i;
    std::uint64_t number = 0;
    for (; i < n && lower_hex(b[i]) && i - digits < 9; ++i) number = (number << 4) | static_cast<unsigned>(HexValue(b[i]));
    if (i == digits || i - digits > 8 || (b[digits] == '0' && i - digits > 1) || b.substr(i, 2) != "):") return npos;
    type = static_cast<DWORD>(number);
    if (type == kRegBinary) return npos;
    i += 2;
  } else {
    return npos;
  }
  std::size_t count = i - begin;  // the columns Save counts before wrapping
  std::size_t size = 0;
  unsigned last_two = 0xFFFF;
  if (i < n && b[i] != '\n') {
    for (;;) {
      if (i + 2 > n || !lower_hex(b[i]) || !lower_hex(b[i + 1])) return npos;
      last_two = ((last_two << 8) | static_cast<unsigned>(HexValue(b[i]) * 16 + HexValue(b[i + 1]))) & 0xFFFF;
      ++size;
      i += 2;
      count += 2;
      if (i < n && b[i] == '\n') break;
      if (i >= n || b[i] != ',') return npos;
      ++i;
      if (++count > 76) {
        if (b.substr(i, 4) != "\\\n  ") return npos;
        i += 4;
        count = 2;
        ++*continuations;
      }
    }
  }
  // Data that Save writes as a string or a dword instead.
  if ((type == kRegSz || type == kRegExpandSz || type == kRegMultiSz) && size >= 2 && size % 2 == 0 && last_two == 0) {
    return npos;
  }
  if (type == kRegDword && size == 4) return npos;
  return line_end(i);
}

// Checks, in a section being kept, that the value line starting with `line`
// is as Save writes it and after the previous one; false sends the section
// to be parsed at once.
bool Loader::KeepValue(std::string_view line) {
  const std::size_t begin = Offset(line);
  int continuations = 0;
  if (const std::size_t end = QuickValue(begin, &continuations); end != std::string_view::npos) {
    reader_.pos = end;
    reader_.line += continuations;
    return KeptAfter(begin);
  }
  return KeepParsedValue(line);
}

// KeepValue for a line that QuickValue could not tell: kept when Save gives
// back its text.
bool Loader::KeepParsedValue(std::string_view line) {
  const std::size_t begin = Offset(line);
  ParseError* const error = std::exchange(error_, nullptr);
  const bool parsed = ValueLine(line);
  error_ = error;
  if (!parsed) return false;
  dump_.clear();
  DumpValue(dump_, value_);
  if (Text(begin, reader_.pos) != dump_) return false;
  return KeptAfter(begin);
}

// Records the value from `begin` to the reader's position, named value_.name,
// as kept: false when it is not after the one before.
bool Loader::KeptAfter(std::size_t begin) {
  if (has_previous_ && CompareNames(previous_name_, value_.name) >= 0) return false;
  previous_name_.assign(value_.name);
  has_previous_ = true;
  if (values_begin_ == std::string_view::npos) values_begin_ = begin;
  section_end_ = reader_.pos;
  body_started_ = true;
  return true;
}

void Loader::Store() {
  if (into_ != nullptr) {
    into_->push_back(std::move(value_));
    value_ = Value();
    return;
  }
  path_.back()->SetValue(value_.name, value_.type, std::move(value_.data));
  value_.data.clear();
}

bool Loader::RunValueLines() {
  while (const std::optional<std::string_view> line = reader_.Next()) {
    if (!ValueLine(*line)) return false;
    Store();
  }
  return true;
}

bool Loader::GlobalOption(std::string_view line) {
  if (!line.starts_with("#arch=")) return true;  // unknown options are ignored
  const std::string_view arch_text = line.substr(6);
  Arch arch;
  if (arch_text == "win32") {
    arch = Arch::kWin32;
  } else if (arch_text == "win64") {
    arch = Arch::kWin64;
  } else {
    return Fail("expected 'win32' or 'win64' after '#arch=', found " +
                (arch_text.empty() ? std::string("end of line") : QuotedText(arch_text)));
  }
  if (hive_.arch != Arch::kUnspecified && hive_.arch != arch) {
    return Fail(std::string("expected the architecture given before, '") +
                (hive_.arch == Arch::kWin32 ? "win32" : "win64") + "', found " + QuotedText(arch_text));
  }
  hive_.arch = arch;
  return true;
}

bool Loader::KeyOption(std::string_view line) {
  Key& key = *path_.back();
  if (line.starts_with("#time=")) {
    UpdateTime(static_cast<std::int64_t>(TimeOption(line)));
  } else if (line.starts_with("#class=")) {
    if (line.size() < 8 || line[7] != '"') return Fail("expected '\"' after '#class=', found " + Found(line.substr(7)));
    std::u16string name;
    const std::optional<std::size_t> after = ParseString(line, 8, '"', name);
    if (!after) return Fail("expected '\"' after the class name, found end of line");
    const std::size_t i = SkipSpaces(line, *after);
    if (i < line.size()) return Fail("expected the end of the line after the class name, found " + Found(line.substr(i)));
    key.set_class_name(std::move(name));
  } else if (line.starts_with("#link")) {
    key.set_link(true);
  }
  return true;  // unknown options are ignored
}

bool Loader::ValueLine(std::string_view line) {
  std::u16string& name = value_.name;
  name.clear();
  std::size_t i;
  if (line.front() == '@') {
    i = 1;
  } else {
    const std::optional<std::size_t> after = ParseString(line, 1, '"', name);
    if (!after) return Fail("expected '\"' after the value name, found end of line");
    i = *after;
  }
  if (name.size() > kMaxValueNameLength) {
    return Fail("expected a value name of at most 16383 characters, found " + std::to_string(name.size()));
  }
  i = SkipSpaces(line, i);
  if (i >= line.size() || line[i] != '=') return Fail("expected '=' after the value name, found " + Found(line.substr(i)));
  i = SkipSpaces(line, i + 1);

  const std::string_view rest = line.substr(i);
  DWORD type;
  enum class Form { kString, kDword, kHex } form;
  if (rest.starts_with("\"")) {
    type = kRegSz, form = Form::kString, i += 1;
  } else if (rest.starts_with("str:\"")) {
    type = kRegSz, form = Form::kString, i += 5;
  } else if (rest.starts_with("str(2):\"")) {
    type = kRegExpandSz, form = Form::kString, i += 8;
  } else if (rest.starts_with("str(7):\"")) {
    type = kRegMultiSz, form = Form::kString, i += 8;
  } else if (rest.starts_with("hex:")) {
    type = kRegBinary, form = Form::kHex, i += 4;
  } else if (rest.starts_with("dword:")) {
    type = kRegDword, form = Form::kDword, i += 6;
  } else if (rest.starts_with("hex(")) {
    std::uint64_t number;
    const std::size_t end = StrToULHex(line, i + 4, &number);
    if (line.substr(end, 2) != "):") return Fail("expected '):' after the type number of 'hex(', found " + Found(line.substr(end)));
    type = static_cast<DWORD>(number);
    form = Form::kHex;
    i = end + 2;
  } else {
    return Fail("expected a value type ('\"', 'str:', 'str(2):', 'str(7):', 'hex:', 'hex(N):' or 'dword:'), found " +
                Found(rest));
  }

  value_.type = type;
  std::vector<BYTE>& data = value_.data;
  data.clear();
  switch (form) {
    case Form::kString: {
      const std::optional<std::size_t> after = ParseString(line, i, '"', text_);
      if (!after) return Fail("expected '\"' at the end of the string, found end of line");
      const std::size_t j = SkipSpaces(line, *after);
      if (j < line.size()) return Fail("expected the end of the line after the string, found " + Found(line.substr(j)));
      data.resize(2 * (text_.size() + 1));
      for (std::size_t k = 0; k < text_.size(); ++k) {
        data[2 * k] = static_cast<BYTE>(text_[k] & 0xFF);
        data[2 * k + 1] = static_cast<BYTE>(text_[k] >> 8);
      }
      break;
    }
    case Form::kDword: {
      std::size_t j = SkipSpaces(line, i);
      if (j + 2 < line.size() && line[j] == '0' && (line[j + 1] == 'x' || line[j + 1] == 'X') && IsXDigit(line[j + 2])) j += 2;
      if (j >= line.size() || !IsXDigit(line[j])) return Fail("expected hex digits after 'dword:', found " + Found(line.substr(j)));
      std::uint64_t v = 0;
      const std::size_t digits = j;
      for (; j < line.size() && IsXDigit(line[j]); ++j) {
        v = (v << 4) | static_cast<std::uint64_t>(HexValue(line[j]));
        if (v > 0xFFFFFFFFu) return Fail("expected at most 32 bits after 'dword:', found " + QuotedText(line.substr(digits)));
      }
      const std::size_t k = SkipSpaces(line, j);
      if (k < line.size()) return Fail("expected the end of the line after the dword, found " + Found(line.substr(k)));
      data = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16), static_cast<BYTE>(v >> 24)};
      break;
    }
    case Form::kHex:
      if (!HexData(line, i, data)) return false;
      break;
  }
  return true;
}

// Comma-separated bytes, continued on the next line after a backslash.
bool Loader::HexData(std::string_view line, std::size_t i, std::vector<BYTE>& data) {
  for (;;) {
    while (i < line.size() && IsXDigit(line[i])) {
      std::uint64_t v;
      const std::size_t end = StrToULHex(line, i, &v);
      if (v > 0xFF) return Fail("expected a byte of at most two hex digits, found " + QuotedText(line.substr(i, end - i)));
      data.push_back(static_cast<BYTE>(v));
      i = SkipSpaces(line, end);
      if (i < line.size() && line[i] == ',') ++i;
      i = SkipSpaces(line, i);
    }
    i = SkipSpaces(line, i);
    if (i >= line.size()) return true;
    if (line[i] != '\\') return Fail("expected a hex byte, ',' or '\\' in hex data, found " + Found(line.substr(i)));
    const std::size_t j = SkipSpaces(line, i + 1);
    if (j < line.size()) return Fail("expected the end of the line after '\\', found " + Found(line.substr(j)));
    const std::optional<std::string_view> next = reader_.Next();
    if (!next) return Fail("expected a continuation line after '\\', found end of file");
    if (next->find('\0') != std::string_view::npos) return Fail("expected text, found a NUL byte");
    line = *next;
    i = SkipSpaces(line, 0);
  }
}

template <typename T, typename NameOf>
typename std::vector<T>::const_iterator LowerBound(const std::vector<T>& items, std::u16string_view name, NameOf name_of) {
  return std::lower_bound(items.begin(), items.end(), name,
                          [&](const T& item, std::u16string_view n) { return CompareNames(name_of(item), n) < 0; });
}

const std::u16string& KeyName(const std::unique_ptr<Key>& k) { return k->name(); }
const std::u16string& ValueName(const Value& v) { return v.name; }

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

std::int64_t CurrentFileTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * kTicksPerSecond + ts.tv_nsec / 100 + kTicks1601To1970;
}

Key::~Key() {
  // Iterative, so that a very deep tree cannot exhaust the stack.
  std::vector<std::unique_ptr<Key>> pending = std::move(subkeys_);
  while (!pending.empty()) {
    std::unique_ptr<Key> key = std::move(pending.back());
    pending.pop_back();
    for (std::unique_ptr<Key>& child : key->subkeys_) pending.push_back(std::move(child));
    key->subkeys_.clear();
  }
}

Key::Key(Key&& other) noexcept
    : name_(std::move(other.name_)),
      modif_(other.modif_),
      class_(std::move(other.class_)),
      link_(other.link_),
      volatile_(other.volatile_),
      subkeys_(std::move(other.subkeys_)),
      folded_(std::move(other.folded_)),
      fold_begin_(other.fold_begin_),
      fold_end_(other.fold_end_),
      fold_depth_(other.fold_depth_),
      values_(std::move(other.values_)),
      loaded_parent_(std::exchange(other.loaded_parent_, nullptr)),
      read_entry_(std::exchange(other.read_entry_, {})),
      source_(std::move(other.source_)),
      raw_values_(std::exchange(other.raw_values_, {})),
      read_section_(std::exchange(other.read_section_, {})),
      section_(std::move(other.section_)),
      section_valid_(std::exchange(other.section_valid_, false)),
      section_is_read_(std::exchange(other.section_is_read_, false)),
      saved_name_(std::move(other.saved_name_)),
      saved_name_valid_(std::exchange(other.saved_name_valid_, false)) {}

Key& Key::operator=(Key&& other) noexcept {
  if (this == &other) return *this;
  Key old(std::move(*this));  // its subtree goes without recursion
  name_ = std::move(other.name_);
  modif_ = other.modif_;
  class_ = std::move(other.class_);
  link_ = other.link_;
  volatile_ = other.volatile_;
  subkeys_ = std::move(other.subkeys_);
  folded_ = std::move(other.folded_);
  fold_begin_ = other.fold_begin_;
  fold_end_ = other.fold_end_;
  fold_depth_ = other.fold_depth_;
  values_ = std::move(other.values_);
  source_ = std::move(other.source_);
  raw_values_ = std::exchange(other.raw_values_, {});
  read_section_ = std::exchange(other.read_section_, {});
  loaded_parent_ = std::exchange(other.loaded_parent_, nullptr);
  read_entry_ = std::exchange(other.read_entry_, {});
  section_ = std::move(other.section_);
  section_valid_ = std::exchange(other.section_valid_, false);
  section_is_read_ = std::exchange(other.section_is_read_, false);
  saved_name_ = std::move(other.saved_name_);
  saved_name_valid_ = std::exchange(other.saved_name_valid_, false);
  return *this;
}

std::string_view Key::SavedName() const {
  if (!saved_name_valid_) {
    saved_name_.clear();
    DumpString(saved_name_, std::u16string_view(name_), kPlainInBrackets);
    saved_name_valid_ = true;
  }
  return saved_name_;
}

std::string_view Key::SectionText() const {
  if (!section_valid_) {
    section_.clear();
    DumpSection(section_, *this);
    section_valid_ = true;
    section_is_read_ = false;
  }
  return section_is_read_ ? read_section_ : std::string_view(section_);
}

void Key::LoadValues() const {
  if (raw_values_.empty()) return;
  const std::string_view lines = std::exchange(raw_values_, {});
  // The lines were checked when the file was parsed.
  if (!Loader(lines, &values_).RunValueLines()) std::abort();
}

void Key::Unfold() const {
  if (!folded_) return;
  const std::shared_ptr<const FoldedTree> tree = std::move(folded_);
  folded_ = nullptr;
  const std::string_view text = tree->text;
  const std::vector<FoldedSection>& sections = tree->sections;
  const std::uint32_t depth = fold_depth_;
  for (std::uint32_t i = fold_begin_; i < fold_end_;) {
    const FoldedSection& first = sections[i];
    const std::string_view path = text.substr(first.path_begin, first.path_end - first.path_begin);
    // This key's path and "\\\\" come first in the paths of its whole range.
    std::size_t start = 0;
    for (std::uint32_t k = 0; k < depth; ++k) start = path.find('\\', start) + 2;
    const std::size_t end = std::min(path.find('\\', start), path.size());
    const std::string_view name = path.substr(start, end - start);
    // The sections of this subkey and of the keys below it follow in a run.
    std::uint32_t next = i + 1;
    while (next < fold_end_) {
      const FoldedSection& s = sections[next];
      const std::string_view p = text.substr(s.path_begin + start, s.path_end - s.path_begin - start);
      if (p.size() <= name.size() || p[name.size()] != '\\' || !p.starts_with(name)) break;
      ++next;
    }
    auto child = std::make_unique<Key>(std::u16string(name.begin(), name.end()), first.modif);
    KeyText::Place(*child, depth == 0 ? kTopLevel : static_cast<const void*>(this));
    std::uint32_t below = i;
    if (first.depth == depth + 1) {
      // Its own section.
      const std::size_t values = first.values_begin == FoldedSection::kNone ? first.end : first.values_begin;
      KeyText::SetLink(*child, first.link);
      if (values < first.end) KeyText::KeepValues(*child, tree->source, text.substr(values, first.end - values));
      KeyText::KeepSection(*child, tree->source, text.substr(first.path_end, first.end - first.path_end),
                           text.substr(first.path_begin - 2, first.end - (first.path_begin - 2)));
      below = i + 1;
    }
    KeyText::Fold(*child, tree, below, next, depth + 1);
    subkeys_.push_back(std::move(child));
    i = next;
  }
}

void Key::DropSectionText() {
  LoadValues();
  Changed();
}

Key* Key::FindSubkey(std::u16string_view name) const {
  Unfold();
  auto it = LowerBound(subkeys_, name, KeyName);
  if (it != subkeys_.end() && CompareNames((*it)->name(), name) == 0) return it->get();
  return nullptr;
}

Key& Key::AddSubkey(std::u16string_view name, std::int64_t modif, bool* created) {
  Unfold();
  if (created) *created = true;
  if (subkeys_.empty() || CompareNames(subkeys_.back()->name(), name) < 0) {
    subkeys_.push_back(std::make_unique<Key>(std::u16string(name), modif));
    return *subkeys_.back();
  }
  auto it = LowerBound(subkeys_, name, KeyName);
  if (it != subkeys_.end() && CompareNames((*it)->name(), name) == 0) {
    if (created) *created = false;
    return **it;
  }
  auto pos = subkeys_.begin() + (it - subkeys_.cbegin());
  return **subkeys_.insert(pos, std::make_unique<Key>(std::u16string(name), modif));
}

bool Key::RemoveSubkey(std::u16string_view name) {
  Unfold();
  auto it = LowerBound(subkeys_, name, KeyName);
  if (it == subkeys_.end() || CompareNames((*it)->name(), name) != 0) return false;
  subkeys_.erase(it);
  return true;
}

const Value* Key::FindValue(std::u16string_view name) const {
  LoadValues();
  auto it = LowerBound(values_, name, ValueName);
  if (it != values_.end() && CompareNames(it->name, name) == 0) return &*it;
  return nullptr;
}

void Key::SetValue(std::u16string_view name, DWORD type, std::vector<BYTE> data) {
  LoadValues();
  Changed();
  if (values_.empty() || CompareNames(values_.back().name, name) < 0) {
    values_.push_back(Value{std::u16string(name), type, std::move(data)});
    return;
  }
  auto it = LowerBound(values_, name, ValueName);
  auto pos = values_.begin() + (it - values_.cbegin());
  if (pos != values_.end() && CompareNames(pos->name, name) == 0) {
    pos->type = type;
    pos->data = std::move(data);
    return;
  }
  values_.insert(pos, Value{std::u16string(name), type, std::move(data)});
}

bool Key::RemoveValue(std::u16string_view name) {
  LoadValues();
  auto it = LowerBound(values_, name, ValueName);
  if (it == values_.end() || CompareNames(it->name, name) != 0) return false;
  Changed();
  values_.erase(it);
  return true;
}

std::optional<Hive> Parse(std::shared_ptr<const void> owner, std::string_view bytes, ParseError* error) {
  if (std::optional<Hive> folded = Loader(owner, bytes, nullptr).Fold()) return folded;
  return Loader(std::move(owner), bytes, error).Run();
}

std::optional<Hive> Parse(std::string bytes, ParseError* error) {
  auto text = std::make_shared<const std::string>(std::move(bytes));
  const std::string_view view = *text;
  return Parse(std::move(text), view, error);
}

void DropSectionTexts(Hive& hive) {
  std::vector<Key*> pending{&hive.root};
  while (!pending.empty()) {
    Key* key = pending.back();
    pending.pop_back();
    key->DropSectionText();
    for (const std::unique_ptr<Key>& child : key->subkeys()) pending.push_back(child.get());
  }
}

void SavedText::Kept(std::string_view text) {
  if (text.empty()) return;
  size_ += text.size();
  if (!parts_.empty() && parts_.back().data != nullptr && parts_.back().data + parts_.back().size == text.data()) {
    parts_.back().size += text.size();
    return;
  }
  parts_.push_back(Part{text.data(), 0, text.size()});
}

void SavedText::Append(std::string_view text) {
  if (text.empty()) return;
  size_ += text.size();
  if (parts_.empty() || parts_.back().data != nullptr) parts_.push_back(Part{nullptr, made_.size(), 0});
  made_ += text;
  parts_.back().size += text.size();
}

void Save(const Hive& hive, SavedText* out) {
  std::string head = kHeader;
  head.push_back('\n');
  head += kBranchPrefix;
  DumpString(head, std::u16string_view(hive.branch), kPlainInBrackets);
  head.push_back('\n');
  // A file without the line is a 32-bit prefix's.
  head += hive.arch == Arch::kWin64 ? "\n#arch=win64\n" : "\n#arch=win32\n";
  out->Append(head);

  // Depth-first, pre-order, without recursion. A key still where Parse put
  // it, under ancestors that are too, is written from its entry as read;
  // the path of any other is made on demand: `path_ends[k]` is the length
  // of stack[k]'s path within `path`.
  struct Frame {
    const Key* key;
    std::size_t next_child;
    bool as_loaded;
    bool done = false;  // its subtree written from the file's text
  };
  std::vector<Frame> stack;
  std::string path;
  std::vector<std::size_t> path_ends;
  const auto write = [&]() {
    const Frame& top = stack.back();
    const Key& key = *top.key;
    if (!KeyIsWritten(key)) return;
    if (top.as_loaded) {
      if (const std::string_view entry = KeyText::ReadEntry(key); !entry.empty()) {
        out->Kept(entry);
        return;
      }
    }
    if (path_ends.empty()) path_ends.push_back(0);  // the root's path is empty
    while (path_ends.size() < stack.size()) {
      const std::size_t k = path_ends.size();
      path.resize(path_ends.back());
      if (k > 1) path += "\\\\";
      path += stack[k].key->SavedName();
      path_ends.push_back(path.size());
    }
    path.resize(path_ends.back());
    out->Append("\n[");
    out->Append(path);
    out->Kept(key.SectionText());
  };
  if (hive.root.is_volatile()) return;
  // A subtree never opened since Parse, where Parse put it, is its text.
  const auto write_below = [&]() {
    Frame& top = stack.back();
    if (!top.as_loaded) return;
    if (const std::string_view below = KeyText::FoldedText(*top.key); !below.empty()) {
      out->Kept(below);
      top.done = true;
    }
  };
  stack.push_back(Frame{&hive.root, 0, KeyText::LoadedParent(hive.root) == nullptr});
  write();
  write_below();
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.done || top.next_child >= top.key->subkeys().size()) {
      stack.pop_back();
      if (path_ends.size() > stack.size()) path_ends.resize(stack.size());
      continue;
    }
    const Key& child = *top.key->subkeys()[top.next_child++];
    if (child.is_volatile()) continue;
    const void* const parent = stack.size() == 1 ? kTopLevel : static_cast<const void*>(top.key);
    stack.push_back(Frame{&child, 0, top.as_loaded && KeyText::LoadedParent(child) == parent});
    write();
    write_below();
  }
}

std::string Save(const Hive& hive) {
  SavedText text;
  Save(hive, &text);
  std::string out;
  out.reserve(text.size());
  text.ForEachPart([&](std::string_view part) { out += part; });
  return out;
}

}  // namespace plat::posix
