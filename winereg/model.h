// One Wine registry file ("WINE REGISTRY Version 2") in memory: keys, values
// and the branch and architecture of the file.
//
// Each key keeps the text of its own section, until its own data (values,
// time, class, link, volatility) changes: the text read by Parse when it is
// already what Save writes, else the text of its first save. The reader and
// the writer fill it and make the parts it stands for (internal::KeyState,
// which only they see). Such a key's
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

#include "winereg/names.h"
#include "winereg/types.h"

namespace winereg {

namespace internal {
struct KeyState;
}  // namespace internal

// FILETIME of the current time (100 ns units since 1601-01-01 UTC).
std::int64_t CurrentFileTime();

struct Value {
  std::u16string name;  // as first created; empty for the unnamed value
  DWORD type = 0;
  std::vector<BYTE> data;
};

class Key {
 public:
  Key();
  explicit Key(std::u16string name, std::int64_t modif = 0);
  // Frees the subtree without recursion: any depth is safe.
  ~Key();
  Key(Key&& other) noexcept;
  // Made from the move constructor: `other` may lie in this key's subtree.
  Key& operator=(Key&& other) noexcept;

  const std::u16string& name() const { return name_; }
  std::int64_t modif() const { return modif_; }
  void set_modif(std::int64_t modif);
  const std::optional<std::u16string>& class_name() const { return class_; }
  void set_class_name(std::optional<std::u16string> name);
  bool is_link() const { return link_; }
  void set_link(bool link);
  bool is_volatile() const { return volatile_; }
  void set_volatile(bool v);

  // Subkeys and values, kept sorted by CompareNames; index access is O(1).
  const std::vector<std::unique_ptr<Key>>& subkeys() const {
    Unfold();
    return subkeys_;
  }
  // Whether the key has subkeys, without making them.
  bool has_subkeys() const;
  const std::vector<Value>& values() const {
    LoadValues();
    return values_;
  }
  // Whether the key has values, without loading them.
  bool has_values() const;

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

  // Forgets the kept section text (SectionText in writer.h) and parses the
  // values it stood for, so that the next Save writes the section anew.
  void DropSectionText();

  // The text kept from the file and what is made from it on demand, for the
  // reader and the writer (made when first asked for).
  internal::KeyState& state() const;

 private:
  void LoadValues() const;
  void Unfold() const;
  void Changed();

  std::u16string name_;
  std::int64_t modif_ = 0;
  std::optional<std::u16string> class_;
  bool link_ = false;
  bool volatile_ = false;
  mutable std::vector<std::unique_ptr<Key>> subkeys_;
  mutable std::vector<Value> values_;
  mutable std::unique_ptr<internal::KeyState> state_;  // none: nothing kept
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

}  // namespace winereg
