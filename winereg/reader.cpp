// The plain parser: every line in order, as wineserver's loader reads it;
// sections already in the form Save writes are handed to the kept-text
// keeper when one is given.
#include "winereg/reader.h"

#include <cstring>
#include <utility>

#include "winereg/escape.h"
#include "winereg/internal/chars.h"
#include "winereg/internal/format.h"
#include "winereg/internal/kept_text.h"
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
      if (j + 2 < line.size() && line[j] == '0' && (line[j + 1] == 'x' || line[j + 1] == 'X') && IsXDigit(line[j + 2]))
        j += 2;
      if (j >= line.size() || !IsXDigit(line[j]))
        return Fail("expected hex digits after 'dword:', found " + Found(line.substr(j)));
      std::uint64_t v = 0;
      const std::size_t digits = j;
      for (; j < line.size() && IsXDigit(line[j]); ++j) {
        v = (v << 4) | static_cast<std::uint64_t>(HexValue(line[j]));
        if (v > 0xFFFFFFFFu)
          return Fail("expected at most 32 bits after 'dword:', found " + QuotedText(line.substr(digits)));
      }
      const std::size_t k = SkipSpaces(line, j);
      if (k < line.size()) return Fail("expected the end of the line after the dword, found " + Found(line.substr(k)));
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
      if (v > 0xFF)
        return Fail("expected a byte of at most two hex digits, found " + QuotedText(line.substr(i, end - i)));
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

namespace {

class Parser {
 public:
  Parser(std::shared_ptr<const void> source, std::string_view bytes, bool keep_text, std::int64_t now)
      : reader_{bytes}, now_(now) {
    if (keep_text && source != nullptr) keeper_.emplace(std::move(source), reader_, values_);
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
  const std::optional<std::string_view> first = reader_.Next();
  if (!first) {
    reader_.line = 1;
    Fail(std::string("expected '") + kHeader + "', found end of file");
    return failed();
  }
  if (*first != kHeader) {
    Fail(std::string("expected '") + kHeader + "', found " + (first->empty() ? "an empty line" : QuotedText(*first)));
    return failed();
  }
  hive_.root.set_modif(0);
  while (const std::optional<std::string_view> line = reader_.Next()) {
    if (line->find('\0') != std::string_view::npos) {
      Fail("expected text, found a NUL byte");
      return failed();
    }
    if (reader_.line == 2 && line->starts_with(kBranchPrefix)) {
      ParseString(*line, std::strlen(kBranchPrefix), -1, hive_.branch);
      continue;
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
      if (path_.empty()) return Fail("expected a '[key]' line before the first value, found " + Quoted(rest.front()));
      if (keeping) {
        if (!keeper_->Value(line, i)) keeper_->Rewind();
        return true;
      }
      if (!values_.Parse(rest, reader_, value_, &message_)) return false;
      path_.back()->SetValue(value_.name, value_.type, std::move(value_.data));
      value_.data.clear();
      return true;
    case '#':
      if (path_.empty()) return ArchOption(rest, &hive_.arch, &message_);
      if (keeping && !keeper_->Time(rest, i)) {
        keeper_->Rewind();
        return true;
      }
      return KeyOption(rest);
    case ';':
      if (keeper_) keeper_->Blank();
      return true;
    default:
      return Fail("expected '[', '@', '\"', '#' or ';' at the start of a line, found " + Quoted(rest.front()));
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
    if (overflow)
      seconds = UINT64_MAX;
    else if (negative)
      seconds = 0 - seconds;
    section_modif_ =
        static_cast<std::int64_t>(static_cast<std::uint32_t>(seconds)) * kTicksPerSecond + kTicks1601To1970;
  } else {
    if (i != SkipSpaces(line, *after))
      return Fail("expected digits after the sign of the time stamp, found " + Found(line.substr(i)));
    section_modif_ = now_;
  }
  i = SkipSpaces(line, i);
  if (i < line.size())
    return Fail("expected the end of the line after the key's time stamp, found " + Found(line.substr(i)));

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
    if (line.size() < 8 || line[7] != '"') return Fail("expected '\"' after '#class=', found " + Found(line.substr(7)));
    std::u16string name;
    const std::optional<std::size_t> after = ParseString(line, 8, '"', name);
    if (!after) return Fail("expected '\"' after the class name, found end of line");
    const std::size_t i = SkipSpaces(line, *after);
    if (i < line.size())
      return Fail("expected the end of the line after the class name, found " + Found(line.substr(i)));
    key.set_class_name(std::move(name));
  } else if (line.starts_with("#link")) {
    key.set_link(true);
  }
  return true;  // unknown options are ignored
}

}  // namespace

std::optional<Hive> Parse(std::shared_ptr<const void> owner, std::string_view bytes, ParseError* error,
                          const ParseOptions& options) {
  const std::int64_t now = options.now != 0 ? options.now : CurrentFileTime();
  if (options.keep_text) {
    if (std::optional<Hive> folded = ScanFolded(owner, bytes, now)) return folded;
  }
  return Parser(std::move(owner), bytes, options.keep_text, now).Run(error);
}

}  // namespace internal

std::optional<Hive> Parse(std::shared_ptr<const void> owner, std::string_view bytes, ParseError* error) {
  return internal::Parse(std::move(owner), bytes, error, internal::ParseOptions{});
}

std::optional<Hive> Parse(std::string bytes, ParseError* error) {
  auto text = std::make_shared<const std::string>(std::move(bytes));
  const std::string_view view = *text;
  return Parse(std::move(text), view, error);
}

}  // namespace winereg
