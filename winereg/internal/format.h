// The file format's constants and the pieces of text Save writes, shared by
// the writer and by the reader, which keeps text only when it is exactly that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "winereg/internal/filetime.h"
#include "winereg/model.h"

namespace winereg::internal {

inline constexpr char kHeader[] = "WINE REGISTRY Version 2";
inline constexpr char kBranchPrefix[] = ";; All keys relative to ";

// One value line (and its continuations) as Save writes it.
void DumpValue(std::string& out, const Value& value);
// The start of a key's section after its path: "] ", the header's seconds
// and #time.
void DumpSectionHead(std::string& out, std::int64_t time);
// A key's section after its path: the head, #class, #link and the values.
void DumpSection(std::string& out, const Key& key);

}  // namespace winereg::internal
