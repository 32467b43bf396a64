// The kept-text fast path: sections checked against what Save writes and
// kept as the file's text.
#include <cstddef>

#include "winereg/internal/chars.h"
#include "winereg/internal/format.h"
#include "winereg/internal/kept_text.h"

namespace winereg::internal {
namespace {

// Whether nothing has been loaded into the key yet.
bool Untouched(const Key& key) {
  return !key.has_values() && !key.state().marks->section_is_read && !key.class_name() && !key.is_link();
}

}  // namespace

bool PlainPath(std::string_view raw, std::uint32_t* components) {
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

void KeptValues::Begin(std::size_t body) {
  values_begin = npos;
  section_end = body;
  body_started = false;
  body_closed = false;
  has_previous_ = false;
}

std::size_t KeptValues::QuickValue(std::size_t begin, int* continuations) {
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
  DWORD type = REG_BINARY;
  if (rest.starts_with("hex:")) {
    i += 4;
  } else if (rest.starts_with("hex(")) {
    i += 4;
    const std::size_t digits = i;
    std::uint64_t number = 0;
    for (; i < n && lower_hex(b[i]) && i - digits < 9; ++i)
      number = (number << 4) | static_cast<unsigned>(HexValue(b[i]));
    if (i == digits || i - digits > 8 || (b[digits] == '0' && i - digits > 1) || b.substr(i, 2) != "):") return npos;
    type = static_cast<DWORD>(number);
    if (type == REG_BINARY) return npos;
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
  if ((type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) && size >= 2 && size % 2 == 0 &&
      last_two == 0) {
    return npos;
  }
  if (type == REG_DWORD && size == 4) return npos;
  return line_end(i);
}

bool KeptValues::KeepValue(std::string_view line) {
  const std::size_t begin = Offset(line);
  int continuations = 0;
  if (const std::size_t end = QuickValue(begin, &continuations); end != std::string_view::npos) {
    reader_.pos = end;
    reader_.line += continuations;
    return KeptAfter(begin);
  }
  return KeepParsedValue(line);
}

bool KeptValues::KeepParsedValue(std::string_view line) {
  const std::size_t begin = Offset(line);
  if (!parser_.Parse(line, reader_, value_, nullptr)) return false;
  dump_.clear();
  DumpValue(dump_, value_);
  if (Text(begin, reader_.pos) != dump_) return false;
  return KeptAfter(begin);
}

bool KeptValues::KeptAfter(std::size_t begin) {
  if (has_previous_ && CompareNames(previous_name_, value_.name) >= 0) return false;
  previous_name_.assign(value_.name);
  has_previous_ = true;
  if (values_begin == std::string_view::npos) values_begin = begin;
  section_end = reader_.pos;
  body_started = true;
  return true;
}

bool KeptValues::HeadIsSaved(std::int64_t time, bool link, std::size_t begin, std::size_t end) {
  dump_.clear();
  DumpSectionHead(dump_, time);
  if (link) dump_ += "#link\n";
  return Text(begin, end) == dump_;
}

void SectionKeeper::Header(std::string_view line, std::size_t after) {
  // Where the section's text starts for Save: at the "]" after the path;
  // and its entry, from the blank line before it.
  const std::size_t at = values_.Offset(line);
  section_begin_ = at + after - 1;
  entry_begin_ = at - 1;
  entry_ok_ =
      at >= 2 && reader_.bytes[at - 1] == '\n' && reader_.bytes[at - 2] == '\n' && PlainPath(line.substr(1, after - 2));
  body_pos_ = reader_.pos;
  body_line_ = reader_.line;
  values_.Begin(reader_.pos);
}

bool SectionKeeper::Open(const Key& key) {
  keeping_ = Untouched(key);
  return keeping_;
}

bool SectionKeeper::Value(std::string_view line, std::size_t indent) {
  return indent == 0 && !values_.body_closed && values_.KeepValue(line);
}

bool SectionKeeper::Time(std::string_view rest, std::size_t indent) {
  if (indent != 0 || values_.body_started || values_.body_closed || !rest.starts_with("#time=")) return false;
  values_.body_started = true;
  values_.section_end = reader_.pos;
  return true;
}

void SectionKeeper::Rewind() {
  keeping_ = false;
  reader_.pos = body_pos_;
  reader_.line = body_line_;
  values_.body_closed = false;
}

void SectionKeeper::Close(Key& key) {
  if (!keeping_) return;
  keeping_ = false;
  const bool has_values = values_.values_begin != KeptValues::npos;
  const std::size_t end = values_.section_end;
  if (has_values) key.state().KeepValues(source_, values_.Text(values_.values_begin, end));
  // The text from "]" on is the section Save writes when it starts with the
  // head Save writes for the key.
  if (values_.HeadIsSaved(key.modif(), key.is_link(), section_begin_, has_values ? values_.values_begin : end)) {
    key.state().KeepSection(source_, values_.Text(section_begin_, end),
                            entry_ok_ ? values_.Text(entry_begin_, end) : std::string_view());
  }
}

}  // namespace winereg::internal
