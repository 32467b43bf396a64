// Reading a registry file as wineserver reads it (server/registry.c
// load_keys): what wineserver accepts is accepted, and what it would report
// and drop is refused with a diagnostic.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "winereg/model.h"

namespace winereg {

struct ParseError {
  int line = 0;         // 1-based line of the fault
  std::string message;  // "what was expected, what was found"
};

// The text to parse and what keeps it alive: the keys share `owner` while
// they stand on the text.
struct ParseInput {
  std::shared_ptr<const void> owner;
  std::string_view bytes;

  // Text that the parse owns.
  static ParseInput FromString(std::string text) {
    auto owned = std::make_shared<const std::string>(std::move(text));
    const std::string_view bytes = *owned;
    return ParseInput{std::move(owned), bytes};
  }
};

// How Parse reads: `keep_text` off parses every line into keys and values
// and keeps no text, the plain parse the kept text must always agree with.
struct ParseOptions {
  bool keep_text = true;
  std::int64_t now = 0;  // the time of the load, for keys without one; 0: the current time
  // The branch the file is loaded into, which wineserver names in the
  // header it writes whatever the file's second line says; empty: the
  // branch that line names.
  std::u16string_view branch;
};

// Parses a whole file, keeping its text for the keys that stand on it. On
// failure returns nullopt and fills *error (when not null). Key times: a
// section's #time wins over its header's seconds; a key first created as a
// parent of a loaded key takes that key's time. The root takes its time from
// a "[]" section, else the time of the load.
std::optional<Hive> Parse(const ParseInput& input, ParseError* error = nullptr, const ParseOptions& options = {});

// The lines of a registry file before its first key.
struct FileHeader {
  std::u16string branch;           // as Parse sets Hive::branch
  Arch arch = Arch::kUnspecified;  // as Parse sets Hive::arch
  bool complete = false;           // the first key's line or the file's end was reached
};

// What ReadHeader is given: the whole file, or its first bytes (whose last
// line may be cut off, and is then not read).
enum class Extent { kWholeFile, kFileStart };

// Reads the header lines of `bytes` as Parse reads them, up to the first
// key's line, and nothing after it. nullopt, with *error (when not null) as
// Parse reports it, when Parse refuses the file for a fault in those lines.
std::optional<FileHeader> ReadHeader(std::string_view bytes, Extent extent, ParseError* error = nullptr);

}  // namespace winereg
