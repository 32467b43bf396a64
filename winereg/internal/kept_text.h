// The kept-text fast path: sections already exactly as Save writes them are
// kept as the file's text, checked in place rather than parsed, and parsed
// only when a key's values or subkeys are asked for.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "winereg/internal/key_state.h"
#include "winereg/internal/reader.h"
#include "winereg/model.h"

namespace winereg::internal {

// One section of a file whose sections are all as Save writes them, in the
// order it writes them. Offsets into the file's text.
struct FoldedSection {
  static constexpr std::uint32_t kNone = UINT32_MAX;
  std::uint32_t path_begin;    // after "["; the entry starts 2 bytes before
  std::uint32_t path_end;      // the "]"
  std::uint32_t values_begin;  // kNone: no values
  std::uint32_t end;           // after the section's last line
  std::int64_t modif;
  std::uint32_t depth;  // components of the path
  bool link;
};

// The text of a parsed file, kept alive by its owner, that keys stand on:
// their value lines parsed and, in a folded file, their subkeys made from
// its sections when first asked for.
class FileText final : public LazySource, public std::enable_shared_from_this<FileText> {
 public:
  FileText(std::shared_ptr<const void> owner, std::string_view text) : owner_(std::move(owner)), text_(text) {}

  void LoadValues(std::string_view lines, std::vector<Value>* into) const override;
  void Unfold(const Key& key, const FoldRange& range, std::vector<std::unique_ptr<Key>>* into) const override;
  std::string_view FoldedText(const FoldRange& range) const override;

  std::vector<FoldedSection> sections;  // of a folded file, in order

 private:
  std::shared_ptr<const void> owner_;
  std::string_view text_;
};

// Whether a key path as read is written by Save as it stands: components of
// plain characters joined by "\\\\", none empty and none too long; their
// count in *components.
bool PlainPath(std::string_view raw, std::uint32_t* components = nullptr);

// Checks, line by line, that a section's value lines are as Save writes them
// and in its order.
class KeptValues {
 public:
  static constexpr std::size_t npos = std::string_view::npos;

  KeptValues(LineReader& reader, ValueLineParser& parser) : reader_(reader), parser_(parser) {}

  // A new section, whose body starts at `body`.
  void Begin(std::size_t body);
  // The end (after its last "\n") of the value that starts at `begin`, when
  // it is plainly in the form Save writes: quoted text of plain characters,
  // "\\" and "\"", or a dword, or hex data wrapped as Save wraps it. npos
  // when that takes a full parse to tell. `continuations` counts the lines
  // after the first.
  std::size_t QuickValue(std::size_t begin, int* continuations);
  // Whether the value line `line` is as Save writes it and after the
  // previous one; when so, the reader is past it.
  bool KeepValue(std::string_view line);
  // KeepValue for a line that QuickValue could not tell.
  bool KeepParsedValue(std::string_view line);
  // Records the value from `begin` to the reader's position as kept: false
  // when it is not after the one before.
  bool KeptAfter(std::size_t begin);
  // Whether the text [begin, end) is the head Save writes for a key of that
  // time and link: "] ", seconds, #time and #link.
  bool HeadIsSaved(std::int64_t time, bool link, std::size_t begin, std::size_t end);

  std::size_t Offset(std::string_view text) const {
    return static_cast<std::size_t>(text.data() - reader_.bytes.data());
  }
  std::string_view Text(std::size_t begin, std::size_t end) const { return reader_.bytes.substr(begin, end - begin); }

  std::size_t values_begin = npos;  // the first value line (npos: none)
  std::size_t section_end = 0;      // after the section's last line
  bool body_started = false;        // a #time or value line was seen
  bool body_closed = false;         // a blank or comment line was seen

 private:
  LineReader& reader_;
  ValueLineParser& parser_;
  Value value_;                   // the value just checked
  std::u16string previous_name_;  // the last kept value's name
  bool has_previous_ = false;
  std::string dump_;  // scratch
};

// The plain parser's helper: a section whose lines are each what Save
// writes (#time, then values in order) is kept as text while that holds;
// otherwise the reader goes back to its first line and parses it at once.
class SectionKeeper {
 public:
  SectionKeeper(std::shared_ptr<const LazySource> source, LineReader& reader, ValueLineParser& parser)
      : source_(std::move(source)), reader_(reader), values_(reader, parser) {}

  // A section header line; `after` is the index after the "]" of its path.
  void Header(std::string_view line, std::size_t after);
  // A key of the path is spelled otherwise than in the header.
  void Misspelled() { entry_ok_ = false; }
  // The section's key is reached: true when its text is being kept.
  bool Open(const Key& key);
  bool keeping() const { return keeping_; }
  // A blank or comment line.
  void Blank() { values_.body_closed = true; }
  // A value line indented by `indent`: false when the section cannot be kept.
  bool Value(std::string_view line, std::size_t indent);
  // An option line `rest` indented by `indent`: false when the section cannot be kept.
  bool Time(std::string_view rest, std::size_t indent);
  // Back to the section's first line, to parse it at once.
  void Rewind();
  // The section ends: the key keeps its text when it was kept.
  void Close(Key& key);

 private:
  std::shared_ptr<const LazySource> source_;  // the reader's bytes
  LineReader& reader_;
  KeptValues values_;
  bool keeping_ = false;
  std::size_t body_pos_ = 0;  // the line after the section's header
  int body_line_ = 0;
  std::size_t section_begin_ = 0;  // the "]" closing the header's path
  std::size_t entry_begin_ = 0;    // the blank line before the header
  bool entry_ok_ = false;          // header and path as Save writes them
};

// A file whose every section is as Save writes it, in the order Save writes
// them, as a root whose subkeys are made on demand; nullopt for any other
// file (the plain parser then reads it). The root takes the time `now`.
std::optional<Hive> ScanFolded(const std::shared_ptr<const void>& source, std::string_view bytes, std::int64_t now);

}  // namespace winereg::internal
