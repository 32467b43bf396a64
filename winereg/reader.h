// Reading a registry file as wineserver reads it (server/registry.c
// load_keys): what wineserver accepts is accepted, and what it would report
// and drop is refused with a diagnostic.
#pragma once

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

// Parses a whole file, keeping its text for the keys that stand on it. On
// failure returns nullopt and fills *error (when not null). Key times: a
// section's #time wins over its header's seconds; a key first created as a
// parent of a loaded key takes that key's time. The root takes its time from
// a "[]" section, else the time of the load.
std::optional<Hive> Parse(std::string bytes, ParseError* error);
// The same for text that `owner` keeps alive; the keys share its ownership
// while they stand on the text.
std::optional<Hive> Parse(std::shared_ptr<const void> owner, std::string_view bytes, ParseError* error);

}  // namespace winereg
