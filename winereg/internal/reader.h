// The reader's parts: lines, diagnostics, the header and value lines, shared
// by the plain parser and the kept-text scanner.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "winereg/model.h"
#include "winereg/reader.h"

namespace winereg::internal {

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

// Pieces of diagnostics: a character quoted or named, "found ..." for the
// text at `rest` (its first character, or the end), a quoted excerpt.
std::string Quoted(char c);
std::string Found(std::string_view rest, const char* end_name = "end of line");
std::string QuotedText(std::string_view text);

// The value of a "#time=" line, read as wineserver reads it: the hex
// digits after "=", up to anything else.
std::uint64_t TimeOption(std::string_view line);
// A "#arch=" line before the first key sets *arch; other options are
// ignored. False with the diagnostic in *message for a bad or contradicting one.
bool ArchOption(std::string_view line, Arch* arch, std::string* message);

// One value line, with the continuation lines of hex data from `reader`.
class ValueLineParser {
 public:
  // Fills `value`; on failure false, the diagnostic in *message (when not null).
  bool Parse(std::string_view line, LineReader& reader, Value& value, std::string* message);

 private:
  bool HexData(std::string_view line, std::size_t i, LineReader& reader, std::vector<BYTE>& data, std::string* message);
  std::u16string text_;  // scratch
};

// Parses value lines a key kept unparsed, in order, into `into`.
bool ParseValueLines(std::string_view lines, std::vector<Value>* into);

// The diagnostic for a line that starts with none of the characters a line
// may start with.
std::string BadLineStart(char c);

// Where the header lines end: at the first key's line (the reader is left
// before it), at the end of the file, at a line cut off (Extent::kFileStart),
// or at a fault (the reader is past its line).
enum class HeaderEnd { kKey, kEnd, kCut, kFault };
// Reads the header lines from the file's start into *header; the diagnostic
// of a fault in *message.
HeaderEnd ReadHeaderLines(LineReader& reader, Extent extent, FileHeader* header, std::string* message);

}  // namespace winereg::internal
