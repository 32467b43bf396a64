// Files all in the form Save writes: scanned into a tree of sections whose
// keys are made on demand.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "winereg/internal/escape.h"
#include "winereg/internal/chars.h"
#include "winereg/internal/format.h"
#include "winereg/internal/kept_text.h"

namespace winereg::internal {
namespace {

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
  auto tree = std::make_shared<FileText>(source_, bytes);
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
  const auto count = static_cast<std::uint32_t>(sections.size());
  hive_.root.state().Fold(std::move(tree), 0, count, 0);
  hive_.size_hint = bytes.size();
  return std::move(hive_);
}

}  // namespace

std::optional<Hive> ScanFolded(const std::shared_ptr<const void>& source, std::string_view bytes, std::int64_t now) {
  return FoldScanner(source, bytes, now).Run();
}

void FileText::LoadValues(std::string_view lines, std::vector<Value>* into) const {
  // The lines were checked when the file was parsed.
  if (!ParseValueLines(lines, into)) std::abort();
}

std::string_view FileText::FoldedText(const FoldRange& range) const {
  const std::size_t begin = sections[range.begin].path_begin - 2;
  return text_.substr(begin, sections[range.end - 1].end - begin);
}

void FileText::Unfold(const Key& key, const FoldRange& range, std::vector<std::unique_ptr<Key>>* into) const {
  const std::shared_ptr<const LazySource> self = shared_from_this();
  const std::string_view text = text_;
  const std::uint32_t depth = range.depth;
  for (std::uint32_t i = range.begin; i < range.end;) {
    const FoldedSection& first = sections[i];
    const std::string_view path = text.substr(first.path_begin, first.path_end - first.path_begin);
    // This key's path and "\\\\" come first in the paths of its whole range.
    std::size_t start = 0;
    for (std::uint32_t k = 0; k < depth; ++k) start = path.find('\\', start) + 2;
    const std::size_t end = std::min(path.find('\\', start), path.size());
    const std::string_view name = path.substr(start, end - start);
    // The sections of this subkey and of the keys below it follow in a run.
    std::uint32_t next = i + 1;
    while (next < range.end) {
      const FoldedSection& s = sections[next];
      const std::string_view p = text.substr(s.path_begin + start, s.path_end - s.path_begin - start);
      if (p.size() <= name.size() || p[name.size()] != '\\' || !p.starts_with(name)) break;
      ++next;
    }
    auto child = std::make_unique<Key>(std::u16string(name.begin(), name.end()), first.modif);
    if (depth == 0) {
      child->state().Place(Placement::kTopLevel, nullptr);
    } else {
      child->state().Place(Placement::kUnder, &key);
    }
    std::uint32_t below = i;
    if (first.depth == depth + 1) {
      // Its own section.
      const std::size_t values = first.values_begin == FoldedSection::kNone ? first.end : first.values_begin;
      child->set_link(first.link);
      if (values < first.end) child->state().KeepValues(self, text.substr(values, first.end - values));
      child->state().KeepSection(self, text.substr(first.path_end, first.end - first.path_end),
                                 text.substr(first.path_begin - 2, first.end - (first.path_begin - 2)));
      below = i + 1;
    }
    child->state().Fold(self, below, next, depth + 1);
    into->push_back(std::move(child));
    i = next;
  }
}

}  // namespace winereg::internal
