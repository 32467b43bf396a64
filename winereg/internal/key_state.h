// What a key keeps of the file's text, and the parts of it made only when
// asked for. The reader fills it, the writer reads it, the key keeps it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace winereg {
class Key;
}

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

// The sections of a file that no key was made for yet.
struct FoldedTree {
  std::shared_ptr<const void> source;
  std::string_view text;
  std::vector<FoldedSection> sections;
};

// A value that a move takes along, leaving a default one behind.
template <class T>
struct Taken {
  T value{};
  Taken() = default;
  Taken(Taken&& other) noexcept : value(std::exchange(other.value, T{})) {}
  Taken& operator=(Taken&& other) noexcept {
    value = std::exchange(other.value, T{});
    return *this;
  }
  T* operator->() { return &value; }
  const T* operator->() const { return &value; }
};

// Where the reader put a key: nowhere (made in code; a hive's root), right
// under a hive's root, or under the key `parent`.
enum class Placement : std::uint8_t { kMade, kTopLevel, kUnder };

struct KeyState {
  struct Marks {
    // Subkeys not made yet: sections [fold_begin, fold_end) of `folded`,
    // whose paths have the key's path (fold_depth components) as their start.
    std::uint32_t fold_begin = 0;
    std::uint32_t fold_end = 0;
    std::uint32_t fold_depth = 0;
    // Save trusts read_entry only while the key and its ancestors are still
    // where the reader put them.
    Placement placement = Placement::kMade;
    const Key* parent = nullptr;
    // "\n[", the path and the section as read, when that is what Save writes.
    std::string_view read_entry;
    std::string_view raw_values;    // value lines not parsed yet
    std::string_view read_section;  // the section text as read
    bool section_valid = false;     // the section text is kept
    bool section_is_read = false;   // ... and it is read_section
    bool saved_name_valid = false;
  };

  std::shared_ptr<const FoldedTree> folded;
  std::shared_ptr<const void> source;  // keeps the file's text alive
  std::string section;                 // the section text when kept and not read
  std::string saved_name;              // the escaped name when saved_name_valid
  Taken<Marks> marks;

  void Fold(const std::shared_ptr<const FoldedTree>& tree, std::uint32_t begin, std::uint32_t end,
            std::uint32_t depth) {
    if (begin >= end) return;
    folded = tree;
    marks->fold_begin = begin;
    marks->fold_end = end;
    marks->fold_depth = depth;
  }
  // The text of the subkeys not made yet, or empty.
  std::string_view FoldedText() const {
    if (!folded) return {};
    const std::vector<FoldedSection>& sections = folded->sections;
    const std::size_t begin = sections[marks->fold_begin].path_begin - 2;
    return folded->text.substr(begin, sections[marks->fold_end - 1].end - begin);
  }
  void Place(Placement where, const Key* under) {
    marks->placement = where;
    marks->parent = under;
  }
  bool PlacedAt(Placement where, const Key* under) const { return marks->placement == where && marks->parent == under; }
  std::string_view ReadEntry() const { return marks->section_is_read ? marks->read_entry : std::string_view(); }
  void KeepValues(const std::shared_ptr<const void>& text, std::string_view lines) {
    source = text;
    marks->raw_values = lines;
  }
  void KeepSection(const std::shared_ptr<const void>& text, std::string_view read, std::string_view entry) {
    source = text;
    marks->read_section = read;
    marks->read_entry = entry;
    marks->section_valid = true;
    marks->section_is_read = true;
  }
  // The key's own data changed: its kept section no longer stands.
  void Changed() {
    marks->section_valid = false;
    marks->section_is_read = false;
    marks->read_entry = {};
  }
};

}  // namespace winereg::internal
