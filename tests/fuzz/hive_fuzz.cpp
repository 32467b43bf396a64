// Registry files from hostile hands: whatever parses must save, parse back
// to the same registry, and save to the same bytes again; and the text kept
// from the file must save as the same tree written anew; and the kept-text
// fast path must agree with the plain parse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tests/winereg/fast_path_check.h"
#include "winereg/internal/inspect.h"
#include "winereg/reader.h"
#include "winereg/writer.h"

namespace {

using winereg::Key;

// The root's time is not in the file unless it is written itself; it is
// compared for every other key.
bool SameKey(const Key& a, const Key& b, bool is_root = false) {
  if (a.name() != b.name() || (!is_root && a.modif() != b.modif()) || a.class_name() != b.class_name() ||
      a.is_link() != b.is_link() || a.values().size() != b.values().size() ||
      a.subkeys().size() != b.subkeys().size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.values().size(); ++i) {
    const auto& x = a.values()[i];
    const auto& y = b.values()[i];
    if (x.name != y.name || x.type != y.type || x.data != y.data) return false;
  }
  for (std::size_t i = 0; i < a.subkeys().size(); ++i) {
    if (!SameKey(*a.subkeys()[i], *b.subkeys()[i])) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (!winereg::testing::FastPathDisagreement(input).empty()) std::abort();  // the fast path is the plain parse
  winereg::ParseError error;
  auto first = winereg::Parse(winereg::ParseInput::FromString(std::string(input)), &error);
  if (!first) {
    if (error.line < 1) std::abort();  // a refusal names its line
    return 0;
  }
  const std::string saved = winereg::Save(*first);
  winereg::internal::DropSectionTexts(*first);
  if (winereg::Save(*first) != saved) std::abort();  // kept text is what Save writes
  const auto second = winereg::Parse(winereg::ParseInput::FromString(saved), &error);
  if (!second) std::abort();  // what we write, we read
  const std::string again = winereg::Save(*second);
  if (again != saved) std::abort();  // saving is stable
  const auto third = winereg::Parse(winereg::ParseInput::FromString(again), &error);
  if (!third || !SameKey(second->root, third->root, true) || second->arch != third->arch) std::abort();
  return 0;
}
