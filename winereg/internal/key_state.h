// What a key keeps of the file's text, and the parts of it made only when
// asked for. The reader fills it and makes the parts (through LazySource),
// the writer reads it and keeps the section text it makes, the key keeps it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace winereg {
class Key;
struct Value;
}  // namespace winereg

namespace winereg::internal {

// Subkeys not made yet: sections [begin, end) of a key's folded source,
// whose paths have the key's path (depth components) as their start.
struct FoldRange {
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
  std::uint32_t depth = 0;
};

// The text keys stand on, and what makes their parts from it when first
// asked for. Keys share it while they stand on its text.
class LazySource {
 public:
  LazySource(const LazySource&) = delete;
  LazySource& operator=(const LazySource&) = delete;
  virtual ~LazySource() = default;

  // Appends the values of value lines a key kept unparsed, in order; the
  // lines were checked when they were kept.
  virtual void LoadValues(std::string_view lines, std::vector<Value>* into) const = 0;
  // Appends the subkeys of `key` in `range`, in order.
  virtual void Unfold(const Key& key, const FoldRange& range, std::vector<std::unique_ptr<Key>>* into) const = 0;
  // The text of the sections in `range`, as Save writes them.
  virtual std::string_view FoldedText(const FoldRange& range) const = 0;

 protected:
  LazySource() = default;
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
    FoldRange fold;  // the subkeys `folded` makes
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

  std::shared_ptr<const LazySource> folded;  // makes the subkeys not made yet
  std::shared_ptr<const LazySource> source;  // keeps the text alive, parses raw_values
  std::string section;                       // the section text when kept and not read
  std::string saved_name;                    // the escaped name when saved_name_valid
  Taken<Marks> marks;

  void Fold(const std::shared_ptr<const LazySource>& from, std::uint32_t begin, std::uint32_t end,
            std::uint32_t depth) {
    if (begin >= end) return;
    folded = from;
    marks->fold = FoldRange{begin, end, depth};
  }
  // The text of the subkeys not made yet, or empty.
  std::string_view FoldedText() const { return folded ? folded->FoldedText(marks->fold) : std::string_view(); }
  void Place(Placement where, const Key* under) {
    marks->placement = where;
    marks->parent = under;
  }
  bool PlacedAt(Placement where, const Key* under) const { return marks->placement == where && marks->parent == under; }
  std::string_view ReadEntry() const { return marks->section_is_read ? marks->read_entry : std::string_view(); }
  void KeepValues(const std::shared_ptr<const LazySource>& text, std::string_view lines) {
    source = text;
    marks->raw_values = lines;
  }
  void KeepSection(const std::shared_ptr<const LazySource>& text, std::string_view read, std::string_view entry) {
    source = text;
    marks->read_section = read;
    marks->read_entry = entry;
    marks->section_valid = true;
    marks->section_is_read = true;
  }
  // The section text kept, read or made: valid while SectionKept().
  bool SectionKept() const { return marks->section_valid; }
  std::string_view KeptSection() const {
    return marks->section_is_read ? marks->read_section : std::string_view(section);
  }
  // `section` now holds the section text made for the key's data.
  void SectionMade() {
    marks->section_valid = true;
    marks->section_is_read = false;
  }
  // The key's own data changed: its kept section no longer stands.
  void Changed() {
    marks->section_valid = false;
    marks->section_is_read = false;
    marks->read_entry = {};
  }
};

}  // namespace winereg::internal
