// The plain parser: every line in order, as wineserver's loader reads it;
// sections already in the form Save writes are handed to the kept-text
// keeper when one is given.
#include "winereg/reader.h"

#include <cstring>
#include <utility>

#include "winereg/internal/escape.h"
#include "winereg/internal/chars.h"
#include "winereg/internal/format.h"
#include "winereg/internal/kept_text.h"
#include "winereg/internal/reader.h"

namespace winereg {
namespace internal {

HeaderEnd ReadHeaderLines(LineReader& reader, Extent extent, FileHeader* header, std::string* message) {
  const auto cut = [&] {
    return extent == Extent::kFileStart && reader.bytes.find('\n', reader.pos) == std::string_view::npos;
  };
  const auto fail = [&](std::string text) {
    *message = std::move(text);
    return HeaderEnd::kFault;
  };
  if (cut()) return HeaderEnd::kCut;
  const std::optional<std::string_view> first = reader.Next();
  if (!first) {
    reader.line = 1;
    return fail(std::string("expected '") + kHeader + "', found end of file");
  }
  if (*first != kHeader) {
    return fail(std::string("expected '") + kHeader + "', found " +
                (first->empty() ? "an empty line" : QuotedText(*first)));
  }
  for (;;) {
    if (cut()) return HeaderEnd::kCut;
    const std::size_t pos = reader.pos;
    const int line_number = reader.line;
    const std::optional<std::string_view> line = reader.Next();
    if (!line) return HeaderEnd::kEnd;
    if (line->find('\0') != std::string_view::npos) return fail("expected text, found a NUL byte");
    if (reader.line == 2 && line->starts_with(kBranchPrefix)) {
      ParseString(*line, std::strlen(kBranchPrefix), -1, header->branch);
      continue;
    }
    const std::string_view rest = line->substr(SkipSpaces(*line, 0));
    if (rest.empty()) continue;
    switch (rest.front()) {
      case '[':
        reader.pos = pos;
        reader.line = line_number;
        return HeaderEnd::kKey;
      case '@':
      case '"':
        return fail("expected a '[key]' line before the first value, found " + Quoted(rest.front()));
      case '#':
        if (!ArchOption(rest, &header->arch, message)) return HeaderEnd::kFault;
        continue;
      case ';':
        continue;
      default:
        return fail(BadLineStart(rest.front()));
    }
  }
}

namespace {

class Parser {
 public:
  Parser(std::shared_ptr<const void> source, std::string_view bytes, bool keep_text, std::int64_t now)
      : reader_{bytes}, now_(now) {
    if (keep_text && source != nullptr) {
      keeper_.emplace(std::make_shared<FileText>(std::move(source), bytes), reader_, values_);
    }
  }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  std::optional<Hive> Run(ParseError* error);

 private:
  bool Fail(std::string message) {
    message_ = std::move(message);
    return false;
  }
  bool Line(std::string_view line);
  bool KeyLine(std::string_view line);
  bool KeyOption(std::string_view line);
  void UpdateTime(std::int64_t modif);
  void EndSection();
  void Open();

  LineReader reader_;
  ValueLineParser values_;
  std::optional<SectionKeeper> keeper_;  // keeps sections as text
  std::int64_t now_ = 0;
  std::string message_;  // the diagnostic of a failure
  Hive hive_;
  bool root_section_ = false;       // a "[]" section was seen
  std::vector<Key*> path_;          // root .. the current section's key
  std::int64_t section_modif_ = 0;  // from the current section's header
  std::u16string text_;             // scratch
  Value value_;                     // the value line just parsed
  // The current section's key name, path_[k + 1] being the key of its
  // component k: a following section that starts with the same components
  // has the same keys.
  std::u16string section_name_;
  std::vector<std::size_t> section_ends_;  // where its components end
  std::vector<bool> exact_;                // whose keys are spelled as there
};

std::optional<Hive> Parser::Run(ParseError* error) {
  const auto failed = [&]() -> std::optional<Hive> {
    if (error != nullptr) {
      error->line = reader_.line;
      error->message = std::move(message_);
    }
    return std::nullopt;
  };
  FileHeader header;
  if (ReadHeaderLines(reader_, Extent::kWholeFile, &header, &message_) == HeaderEnd::kFault) return failed();
  hive_.branch = std::move(header.branch);
  hive_.arch = header.arch;
  hive_.root.set_modif(0);
  while (const std::optional<std::string_view> line = reader_.Next()) {
    if (line->find('\0') != std::string_view::npos) {
      Fail("expected text, found a NUL byte");
      return failed();
    }
    if (!Line(*line)) return failed();
  }
  EndSection();
  // Without its own section the root's time is that of the load.
  if (!root_section_ || hive_.root.modif() == 0) hive_.root.set_modif(now_);
  hive_.size_hint = reader_.bytes.size();
  return std::move(hive_);
}

bool Parser::Line(std::string_view line) {
  const std::size_t i = SkipSpaces(line, 0);
  const std::string_view rest = line.substr(i);
  const bool keeping = keeper_ && keeper_->keeping();
  if (rest.empty()) {
    if (keeper_) keeper_->Blank();
    return true;
  }
  switch (rest.front()) {
    case '[':
      return KeyLine(rest);
    case '@':
    case '"':
      if (keeping) {
        if (!keeper_->Value(line, i)) keeper_->Rewind();
        return true;
      }
      if (!values_.Parse(rest, reader_, value_, &message_)) return false;
      path_.back()->SetValue(value_.name, value_.type, std::move(value_.data));
      value_.data.clear();
      return true;
    case '#':
      if (keeping && !keeper_->Time(rest, i)) {
        keeper_->Rewind();
        return true;
      }
      return KeyOption(rest);
    case ';':
      if (keeper_) keeper_->Blank();
      return true;
    default:
      return Fail(BadLineStart(rest.front()));
  }
}

// Sets the time of the current key and of its ancestors that have none yet;
// the root takes a time only from its own section.
void Parser::UpdateTime(std::int64_t modif) {
  for (std::size_t k = path_.size(); k-- > 0;) {
    if (path_[k]->modif() != 0) break;
    if (k == 0 && path_.size() > 1) break;
    path_[k]->set_modif(modif);
  }
}

bool Parser::KeyLine(std::string_view line) {
  EndSection();
  std::u16string& name = text_;
  const std::optional<std::size_t> after = ParseString(line, 1, ']', name);
  if (!after) return Fail("expected ']' after the key name, found end of line");
  // An optional time stamp in seconds since 1970, read as sscanf " %u"
  // reads it: without digits the key takes the time of the load, and what
  // follows them is ignored.
  std::size_t i = SkipSpaces(line, *after);
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) {
    negative = line[i] == '-';
    ++i;
  }
  const std::size_t digits_start = i;
  std::uint64_t seconds = 0;
  bool overflow = false;
  for (; i < line.size() && IsDigit(line[i]); ++i) {
    const auto d = static_cast<std::uint64_t>(line[i] - '0');
    if (seconds > (UINT64_MAX - d) / 10) overflow = true;
    seconds = seconds * 10 + d;
  }
  if (i > digits_start) {
    if (overflow)
      seconds = UINT64_MAX;
    else if (negative)
      seconds = 0 - seconds;
    section_modif_ =
        static_cast<std::int64_t>(static_cast<std::uint32_t>(seconds)) * kTicksPerSecond + kTicks1601To1970;
  } else {
    section_modif_ = now_;
  }

  if (path_.empty()) path_.push_back(&hive_.root);
  if (keeper_) keeper_->Header(line, *after);
  if (name.empty() || name.front() == u'\0') {
    root_section_ = true;
    path_.resize(1);
    section_name_.clear();
    section_ends_.clear();
    exact_.clear();
    Open();
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
      if (created) {
        if (path_.size() == 1) {
          key->state().Place(Placement::kTopLevel, nullptr);
        } else {
          key->state().Place(Placement::kUnder, parent);
        }
      }
      path_.push_back(key);
      section_ends_.push_back(end);
      // A key of another spelling keeps its own: the path written differs.
      exact_.push_back(created || key->name() == component);
    }
    start = end + 1;
  }
  if (keeper_) {
    for (const bool exact : exact_) {
      if (!exact) keeper_->Misspelled();
    }
  }
  section_name_.swap(name);
  Open();
  return true;
}

// The section's key is reached: either its text is kept as it is read, or
// what it kept from an earlier section is parsed and dropped.
void Parser::Open() {
  Key& key = *path_.back();
  if (!keeper_ || !keeper_->Open(key)) key.DropSectionText();
}

void Parser::EndSection() {
  if (path_.empty()) return;
  UpdateTime(section_modif_);
  if (keeper_) keeper_->Close(*path_.back());
}

bool Parser::KeyOption(std::string_view line) {
  Key& key = *path_.back();
  if (line.starts_with("#time=")) {
    UpdateTime(static_cast<std::int64_t>(TimeOption(line)));
  } else if (line.starts_with("#class=")) {
    // A malformed class is ignored, and text after the closing quote too.
    if (line.size() < 8 || line[7] != '"') return true;
    std::u16string name;
    if (!ParseString(line, 8, '"', name)) return true;
    key.set_class_name(std::move(name));
  } else if (line.starts_with("#link")) {
    key.set_link(true);
  }
  return true;  // unknown options are ignored
}

}  // namespace

}  // namespace internal

std::optional<Hive> Parse(const ParseInput& input, ParseError* error, const ParseOptions& options) {
  const std::int64_t now = options.now != 0 ? options.now : CurrentFileTime();
  std::optional<Hive> hive;
  if (options.keep_text) hive = internal::ScanFolded(input.owner, input.bytes, now);
  if (!hive) hive = internal::Parser(input.owner, input.bytes, options.keep_text, now).Run(error);
  if (hive && !options.branch.empty()) hive->branch = options.branch;
  return hive;
}

std::optional<FileHeader> ReadHeader(std::string_view bytes, Extent extent, ParseError* error) {
  internal::LineReader reader{bytes};
  FileHeader header;
  std::string message;
  switch (internal::ReadHeaderLines(reader, extent, &header, &message)) {
    case internal::HeaderEnd::kFault:
      if (error != nullptr) {
        error->line = reader.line;
        error->message = std::move(message);
      }
      return std::nullopt;
    case internal::HeaderEnd::kCut:
      return header;
    case internal::HeaderEnd::kKey:
    case internal::HeaderEnd::kEnd:
      break;
  }
  header.complete = true;
  return header;
}

}  // namespace winereg
