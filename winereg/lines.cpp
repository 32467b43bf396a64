// The reader's line-level parts: diagnostics, options and value lines, as
// wineserver's loader reads them.
#include <string>
#include <utility>

#include "winereg/internal/escape.h"
#include "winereg/internal/chars.h"
#include "winereg/internal/format.h"
#include "winereg/internal/reader.h"

namespace winereg {
namespace internal {
namespace {

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
  if (overflow)
    v = UINT64_MAX;
  else if (negative)
    v = 0 - v;
  *value = v;
  return i;
}

}  // namespace

std::string Quoted(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u < 0x7F) return std::string("'") + c + "'";
  std::string s = "byte 0x";
  AppendHex(s, u, 2);
  return s;
}

// "found ..." for the text at `rest`: its first character, or the end.
std::string Found(std::string_view rest, const char* end_name) {
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

std::uint64_t TimeOption(std::string_view line) {
  std::uint64_t modif = 0;
  for (std::size_t i = 6; i < line.size() && IsXDigit(line[i]); ++i) {
    modif = (modif << 4) | static_cast<std::uint64_t>(HexValue(line[i]));
  }
  return modif;
}

bool ArchOption(std::string_view line, Arch* arch, std::string* message) {
  if (!line.starts_with("#arch=")) return true;  // unknown options are ignored
  const std::string_view arch_text = line.substr(6);
  Arch found;
  if (arch_text == "win32") {
    found = Arch::kWin32;
  } else if (arch_text == "win64") {
    found = Arch::kWin64;
  } else {
    *message = "expected 'win32' or 'win64' after '#arch=', found " +
               (arch_text.empty() ? std::string("end of line") : QuotedText(arch_text));
    return false;
  }
  if (*arch != Arch::kUnspecified && *arch != found) {
    *message = std::string("expected the architecture given before, '") + (*arch == Arch::kWin32 ? "win32" : "win64") +
               "', found " + QuotedText(arch_text);
    return false;
  }
  *arch = found;
  return true;
}

bool ValueLineParser::Parse(std::string_view line, LineReader& reader, Value& value, std::string* message) {
  const auto Fail = [message](std::string text) {
    if (message != nullptr) *message = std::move(text);
    return false;
  };
  std::u16string& name = value.name;
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
  if (i >= line.size() || line[i] != '=')
    return Fail("expected '=' after the value name, found " + Found(line.substr(i)));
  i = SkipSpaces(line, i + 1);

  const std::string_view rest = line.substr(i);
  DWORD type;
  enum class Form { kString, kDword, kHex } form;
  if (rest.starts_with("\"")) {
    type = REG_SZ, form = Form::kString, i += 1;
  } else if (rest.starts_with("str:\"")) {
    type = REG_SZ, form = Form::kString, i += 5;
  } else if (rest.starts_with("str(2):\"")) {
    type = REG_EXPAND_SZ, form = Form::kString, i += 8;
  } else if (rest.starts_with("str(7):\"")) {
    type = REG_MULTI_SZ, form = Form::kString, i += 8;
  } else if (rest.starts_with("hex:")) {
    type = REG_BINARY, form = Form::kHex, i += 4;
  } else if (rest.starts_with("dword:")) {
    type = REG_DWORD, form = Form::kDword, i += 6;
  } else if (rest.starts_with("hex(")) {
    std::uint64_t number;
    const std::size_t end = StrToULHex(line, i + 4, &number);
    if (line.substr(end, 2) != "):")
      return Fail("expected '):' after the type number of 'hex(', found " + Found(line.substr(end)));
    type = static_cast<DWORD>(number);
    form = Form::kHex;
    i = end + 2;
  } else {
    return Fail("expected a value type ('\"', 'str:', 'str(2):', 'str(7):', 'hex:', 'hex(N):' or 'dword:'), found " +
                Found(rest));
  }

  value.type = type;
  std::vector<BYTE>& data = value.data;
  data.clear();
  switch (form) {
    case Form::kString: {
      const std::optional<std::size_t> after = ParseString(line, i, '"', text_);
      // Text after the closing quote is ignored.
      if (!after) return Fail("expected '\"' at the end of the string, found end of line");
      data.resize(2 * (text_.size() + 1));
      for (std::size_t k = 0; k < text_.size(); ++k) {
        data[2 * k] = static_cast<BYTE>(text_[k] & 0xFF);
        data[2 * k + 1] = static_cast<BYTE>(text_[k] >> 8);
      }
      break;
    }
    case Form::kDword: {
      // As strtoul reads it, truncated to 32 bits: no digits give 0, and
      // what follows them is ignored.
      std::uint64_t v;
      StrToULHex(line, i, &v);
      data = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16), static_cast<BYTE>(v >> 24)};
      break;
    }
    case Form::kHex:
      if (!HexData(line, i, reader, data, message)) return false;
      break;
  }
  return true;
}

// Comma-separated bytes, continued on the next line after a backslash.
bool ValueLineParser::HexData(std::string_view line, std::size_t i, LineReader& reader, std::vector<BYTE>& data,
                              std::string* message) {
  const auto Fail = [message](std::string text) {
    if (message != nullptr) *message = std::move(text);
    return false;
  };
  for (;;) {
    while (i < line.size() && IsXDigit(line[i])) {
      std::uint64_t v;
      const std::size_t end = StrToULHex(line, i, &v);
      // Read into 32 bits before the check, as wineserver reads it.
      if (static_cast<std::uint32_t>(v) > 0xFF)
        return Fail("expected a byte of at most two hex digits, found " + QuotedText(line.substr(i, end - i)));
      data.push_back(static_cast<BYTE>(v));
      i = SkipSpaces(line, end);
      if (i < line.size() && line[i] == ',') ++i;
      i = SkipSpaces(line, i);
    }
    i = SkipSpaces(line, i);
    if (i >= line.size()) return true;
    // What follows the backslash on its line is ignored.
    if (line[i] != '\\') return Fail("expected a hex byte, ',' or '\\' in hex data, found " + Found(line.substr(i)));
    const std::optional<std::string_view> next = reader.Next();
    if (!next) return Fail("expected a continuation line after '\\', found end of file");
    if (next->find('\0') != std::string_view::npos) return Fail("expected text, found a NUL byte");
    line = *next;
    i = SkipSpaces(line, 0);
  }
}

bool ParseValueLines(std::string_view lines, std::vector<Value>* into) {
  LineReader reader{lines};
  ValueLineParser parser;
  Value value;
  while (const std::optional<std::string_view> line = reader.Next()) {
    if (!parser.Parse(*line, reader, value, nullptr)) return false;
    into->push_back(std::move(value));
    value = Value();
  }
  return true;
}

std::string BadLineStart(char c) {
  return "expected '[', '@', '\"', '#' or ';' at the start of a line, found " + Quoted(c);
}

}  // namespace internal
}  // namespace winereg
