// One Wine registry file ("WINE REGISTRY Version 2") in memory.
//
// Parse() accepts what wineserver accepts and refuses, with a diagnostic, what
// wineserver would report and drop; Save() writes exactly what wineserver
// writes for the same tree: saving a parsed wineserver file with no change
// gives back its bytes.
//
// Each key keeps the text of its own section, until its own data (values,
// time, class, link, volatility) changes: the text read by Parse when it is
// already what Save writes, else the text of its first save. Such a key's
// values stay unparsed until first asked for; and in a file whose sections
// are all in that form and order, a key's subkeys are made only when first
// asked for, Save writing a subtree never opened from the file's text. A
// const Key or Hive is therefore not safe to use from two threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace plat::posix {

struct FoldedTree;  // the sections of a file that no key was made for yet

// Key and value names compare as wineserver compares them: case-insensitively,
// unit by unit after lower-casing, a shorter prefix first.
int CompareNames(std::u16string_view a, std::u16string_view b);
bool SameName(std::u16string_view a, std::u16string_view b);

// FILETIME of the current time (100 ns units since 1601-01-01 UTC).
std::int64_t CurrentFileTime();

struct Value {
  std::u16string name;  // as first created; empty for the unnamed value
  DWORD type = 0;
  std::vector<BYTE> data;
};

class Key {
 public:
  Key() = default;
  explicit Key(std::u16string name, std::int64_t modif = 0) : name_(std::move(name)), modif_(modif) {}
  // Frees the subtree without recursion: any depth is safe.
  ~Key();
  Key(Key&& other) noexcept;
  Key& operator=(Key&& other) noexcept;

  const std::u16string& name() const { return name_; }
  std::int64_t modif() const { return modif_; }
  void set_modif(std::int64_t modif) {
    if (modif != modif_) Changed();
    modif_ = modif;
  }
  const std::optional<std::u16string>& class_name() const { return class_; }
  void set_class_name(std::optional<std::u16string> name) {
    Changed();
    class_ = std::move(name);
  }
  bool is_link() const { return link_; }
  void set_link(bool link) {
    if (link != link_) Changed();
    link_ = link;
  }
  bool is_volatile() const { return volatile_; }
  void set_volatile(bool v) {
    if (v != volatile_) Changed();
    volatile_ = v;
  }

  // Subkeys and values, kept sorted by CompareNames; index access is O(1).
  const std::vector<std::unique_ptr<Key>>& subkeys() const {
    Unfold();
    return subkeys_;
  }
  // Whether the key has subkeys, without making them.
  bool has_subkeys() const { return folded_ != nullptr || !subkeys_.empty(); }
  // Whether subkeys are still to be made from the file's text.
  bool has_folded_subkeys() const { return folded_ != nullptr; }
  const std::vector<Value>& values() const {
    LoadValues();
    return values_;
  }
  // Whether the key has values, without loading them.
  bool has_values() const { return !values_.empty() || !raw_values_.empty(); }

  Key* FindSubkey(std::u16string_view name) const;
  // The existing subkey of that name (its case kept), or a new one.
  Key& AddSubkey(std::u16string_view name, std::int64_t modif, bool* created = nullptr);
  // Removes the subkey of that name with its subtree; false when absent.
  bool RemoveSubkey(std::u16string_view name);

  const Value* FindValue(std::u16string_view name) const;
  // Sets the value of that name; an existing value keeps its name's case.
  // Neither this nor the other changes touch modif().
  void SetValue(std::u16string_view name, DWORD type, std::vector<BYTE> data);
  bool RemoveValue(std::u16string_view name);

  // This key's own section as Save writes it, from the "] " after its path
  // up to its subkeys' sections: time stamps, #class, #link and values.
  // Whether the section is written at all is Save's decision. Kept until
  // the key's own data changes.
  std::string_view SectionText() const;
  // Whether SectionText() is kept from an earlier call or from Parse.
  bool has_section_text() const { return section_valid_; }
  // Whether SectionText() is the text Parse read.
  bool has_read_section_text() const { return section_valid_ && section_is_read_; }
  // Forgets the kept section text and parses the values it stood for, so
  // that the next Save writes the section anew.
  void DropSectionText();
  // The name escaped as Save writes it in paths; kept (the name never changes).
  std::string_view SavedName() const;

 private:
  friend struct KeyText;  // Parse's access

  void Changed() {
    section_valid_ = false;
    section_is_read_ = false;
    read_entry_ = {};
  }
  void LoadValues() const;
  void Unfold() const;

  std::u16string name_;
  std::int64_t modif_ = 0;
  std::optional<std::u16string> class_;
  bool link_ = false;
  bool volatile_ = false;
  mutable std::vector<std::unique_ptr<Key>> subkeys_;
  // Subkeys not made yet: sections [fold_begin_, fold_end_) of folded_, whose
  // paths have this key's path (fold_depth_ components) as their start.
  mutable std::shared_ptr<const FoldedTree> folded_;
  mutable std::uint32_t fold_begin_ = 0;
  mutable std::uint32_t fold_end_ = 0;
  mutable std::uint32_t fold_depth_ = 0;
  mutable std::vector<Value> values_;
  // Where Parse put the key: its parent then (kTopLevel under the root;
  // nullptr for a key made in code). Save trusts read_entry_ only while the
  // key and its ancestors are still where Parse put them.
  const void* loaded_parent_ = nullptr;
  // "\n[", the path and SectionText() as read, when that is what Save writes.
  std::string_view read_entry_;
  // The file's text this key still stands on: value lines not parsed yet,
  // and the section as read when SectionText() is that text.
  std::shared_ptr<const void> source_;  // keeps the file's text alive
  mutable std::string_view raw_values_;
  std::string_view read_section_;
  mutable std::string section_;  // SectionText() when valid and not read
  mutable bool section_valid_ = false;
  mutable bool section_is_read_ = false;
  mutable std::string saved_name_;  // SavedName() when saved_name_valid_
  mutable bool saved_name_valid_ = false;
};

enum class Arch { kUnspecified, kWin32, kWin64 };

struct Hive {
  // The branch the file holds, from its second line: u"REGISTRY\\Machine",
  // u"REGISTRY\\User\\S-1-5-21-0-0-0-1000", ...
  std::u16string branch;
  // The #arch line before the first key, when the file has one. Save writes
  // "#arch=win32" for kUnspecified, as wineserver does: a prefix whose
  // system.reg has no such line is a 32-bit one.
  Arch arch = Arch::kUnspecified;
  Key root;
  // Bytes of the file it was parsed from: what Save reserves.
  std::size_t size_hint = 0;
};

struct ParseError {
  int line = 0;         // 1-based line of the fault
  std::string message;  // "what was expected, what was found"
};

// Parses a whole file, keeping its text for the keys that stand on it. On
// failure returns nullopt and fills *error (when not null). Key times: a section's #time wins over its header's seconds; a key
// first created as a parent of a loaded key takes that key's time. The root
// takes its time from a "[]" section, else the time of the load.
std::optional<Hive> Parse(std::string bytes, ParseError* error);
// The same for text that `owner` keeps alive; the keys share its ownership
// while they stand on the text.
std::optional<Hive> Parse(std::shared_ptr<const void> owner, std::string_view bytes, ParseError* error);

// A saved file as a sequence of parts: views of text the hive keeps
// (valid while the hive is unchanged) and of text made for the save.
class SavedText {
 public:
  SavedText() = default;
  SavedText(const SavedText&) = delete;
  SavedText& operator=(const SavedText&) = delete;

  // Text that outlives this object; joined to the last part when it
  // follows it in memory.
  void Kept(std::string_view text);
  // Text copied here.
  void Append(std::string_view text);
  std::size_t size() const { return size_; }
  // Calls f(std::string_view) for each part in order.
  template <typename F>
  void ForEachPart(F&& f) const {
    for (const Part& part : parts_) {
      f(part.data != nullptr ? std::string_view(part.data, part.size)
                             : std::string_view(made_).substr(part.offset, part.size));
    }
  }

 private:
  struct Part {
    const char* data;  // nullptr: made_[offset, offset + size)
    std::size_t offset;
    std::size_t size;
  };
  std::vector<Part> parts_;
  std::string made_;
  std::size_t size_ = 0;
};

// The file's bytes, as wineserver would save this hive.
std::string Save(const Hive& hive);
void Save(const Hive& hive, SavedText* out);

// Drops the kept section text of every key (Key::DropSectionText).
void DropSectionTexts(Hive& hive);

}  // namespace plat::posix
