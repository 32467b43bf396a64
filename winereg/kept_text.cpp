// The kept-text fast path: sections checked against what Save writes and
// kept as the file's text; whole files in that form folded into a tree of
// sections whose keys are made on demand.
#include <algorithm>
#include <cstring>

#include "winereg/escape.h"
#include "winereg/internal/chars.h"
#include "winereg/internal/format.h"
#include "winereg/internal/kept_text.h"

namespace winereg {
namespace internal {
namespace {

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

// Whether nothing has been loaded into the key yet.
bool Untouched(const Key& key) {
  return !key.has_values() && !key.state().marks->section_is_read && !key.class_name() && !key.is_link();
}

class FoldScanner {
 public:
  FoldScanner(const std::shared_ptr<const void>& source, std::string_view bytes, std::int64_t now)
      : source_(source), reader_{bytes}, values_(reader_, parser_), now_(now) {}
  FoldScanner(const FoldScanner&) = delete;
  FoldScanner& operator=(const FoldScanner&) = delete;
  std::optional<Hive> Run();

 private:
  const std::shared_ptr<const void>& source_;  // owns the bytes
  LineReader reader_;
  ValueLineParser parser_;
  KeptValues values_;
  std::int64_t now_;
  Hive hive_;
};

std::optional<Hive> FoldScanner::Run() {
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
    const std::size_t values = values_.values_begin == npos ? values_.section_end : values_.values_begin;
    if (!values_.HeadIsSaved(current.modif, current.link, current.path_end, values)) return false;
    current.values_begin =
        values_.values_begin == npos ? FoldedSection::kNone : static_cast<std::uint32_t>(values_.values_begin);
    current.end = static_cast<std::uint32_t>(values_.section_end);
    previous_bare = values_.values_begin == npos && !current.link;
    sections.push_back(current);
    return true;
  };
  for (;;) {
    // Most lines are values Save writes as they stand: checked in place,
    // without looking for their end first.
    if (in_section && time_seen && !values_.body_closed && reader_.pos < bytes.size() &&
        (bytes[reader_.pos] == '"' || bytes[reader_.pos] == '@')) {
      const std::size_t begin = reader_.pos;
      int continuations = 0;
      if (const std::size_t end = values_.QuickValue(begin, &continuations); end != npos) {
        reader_.pos = end;
        reader_.line += 1 + continuations;
        if (!values_.KeptAfter(begin)) return std::nullopt;
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
      values_.body_closed = true;
      continue;
    }
    switch (line->front()) {
      case '[': {
        if (!finish()) return std::nullopt;
        // A plain path ends at the first "]".
        const std::size_t close = line->find(']');
        if (close == npos) return std::nullopt;
        const std::optional<std::size_t> after = close + 1;
        const std::size_t at = values_.Offset(*line);
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
        current = FoldedSection{static_cast<std::uint32_t>(at + 1),
                                static_cast<std::uint32_t>(at + *after - 1),
                                FoldedSection::kNone,
                                0,
                                0,
                                depth,
                                false};
        values_.Begin(reader_.pos);
        continue;
      }
      case '#':
        if (!in_section) {
          if (std::string message; !ArchOption(*line, &hive_.arch, &message)) return std::nullopt;
          continue;
        }
        if (!values_.body_started && !values_.body_closed && line->starts_with("#time=")) {
          const std::uint64_t modif = TimeOption(*line);
          if (modif == 0) return std::nullopt;  // a key without a time takes one from below
          current.modif = static_cast<std::int64_t>(modif);
          time_seen = values_.body_started = true;
          values_.section_end = reader_.pos;
          continue;
        }
        if (time_seen && !current.link && values_.values_begin == npos && !values_.body_closed && *line == "#link") {
          current.link = true;
          values_.section_end = reader_.pos;
          continue;
        }
        return std::nullopt;
      case '@':
      case '"':
        // QuickValue has seen it at the top of the loop.
        if (!in_section || !time_seen || values_.body_closed || !values_.KeepParsedValue(*line)) return std::nullopt;
        continue;
      default:
        return std::nullopt;
    }
  }
  if (!finish()) return std::nullopt;
  hive_.root.set_modif(now_);  // no "[]" section: the time of the load
  hive_.root.state().Fold(tree, 0, static_cast<std::uint32_t>(sections.size()), 0);
  hive_.size_hint = bytes.size();
  return std::move(hive_);
}

}  // namespace

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
  if ((type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) && size >= 2 && size % 2 == 0 && last_two == 0) {
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

std::optional<Hive> ScanFolded(const std::shared_ptr<const void>& source, std::string_view bytes, std::int64_t now) {
  return FoldScanner(source, bytes, now).Run();
}

}  // namespace internal

void Key::Unfold() const {
  if (!state_.folded) return;
  const std::shared_ptr<const internal::FoldedTree> tree = std::move(state_.folded);
  state_.folded = nullptr;
  const std::string_view text = tree->text;
  const std::vector<internal::FoldedSection>& sections = tree->sections;
  const std::uint32_t depth = state_.marks->fold_depth;
  for (std::uint32_t i = state_.marks->fold_begin; i < state_.marks->fold_end;) {
    const internal::FoldedSection& first = sections[i];
    const std::string_view path = text.substr(first.path_begin, first.path_end - first.path_begin);
    // This key's path and "\\\\" come first in the paths of its whole range.
    std::size_t start = 0;
    for (std::uint32_t k = 0; k < depth; ++k) start = path.find('\\', start) + 2;
    const std::size_t end = std::min(path.find('\\', start), path.size());
    const std::string_view name = path.substr(start, end - start);
    // The sections of this subkey and of the keys below it follow in a run.
    std::uint32_t next = i + 1;
    while (next < state_.marks->fold_end) {
      const internal::FoldedSection& s = sections[next];
      const std::string_view p = text.substr(s.path_begin + start, s.path_end - s.path_begin - start);
      if (p.size() <= name.size() || p[name.size()] != '\\' || !p.starts_with(name)) break;
      ++next;
    }
    auto child = std::make_unique<Key>(std::u16string(name.begin(), name.end()), first.modif);
    if (depth == 0) {
      child->state_.Place(internal::Placement::kTopLevel, nullptr);
    } else {
      child->state_.Place(internal::Placement::kUnder, this);
    }
    std::uint32_t below = i;
    if (first.depth == depth + 1) {
      // Its own section.
      const std::size_t values = first.values_begin == internal::FoldedSection::kNone ? first.end : first.values_begin;
      child->link_ = first.link;
      if (values < first.end) child->state_.KeepValues(tree->source, text.substr(values, first.end - values));
      child->state_.KeepSection(tree->source, text.substr(first.path_end, first.end - first.path_end),
                                text.substr(first.path_begin - 2, first.end - (first.path_begin - 2)));
      below = i + 1;
    }
    child->state_.Fold(tree, below, next, depth + 1);
    subkeys_.push_back(std::move(child));
    i = next;
  }
}

}  // namespace winereg
