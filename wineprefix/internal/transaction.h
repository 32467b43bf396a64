// One call's work on a Store: the lock, the files loaded and the wineserver
// check held for its duration, and the walk from the key it starts from.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "wineprefix/store.h"
#include "winereg/model.h"

namespace wineprefix {

using Chain = std::vector<winereg::Key*>;
using Elements = std::vector<std::u16string>;

// Splits a relative key path into its elements; doubled and trailing
// backslashes are ignored, a leading one is refused, as are an element or a
// path longer than the registry calls take.
[[nodiscard]] Status SplitPath(std::u16string_view path, Elements* elements);

class Store::Transaction {
 public:
  explicit Transaction(Store& store) : store_(store) { store_.running_server_ = 0; }
  // The lock goes with the call unless a key left open or a deferred save
  // needs it.
  ~Transaction() { store_.Settle(); }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Makes sure of the prefix directory when `writing`, takes the lock unless
  // held, loads system.reg (and user.reg for a key in it) and walks to `from`.
  [[nodiscard]] Status Begin(const KeyRef& from, bool writing);
  // A path as RegOpenKeyEx and RegCreateKeyEx look it up from the key
  // reached (key_path.cpp).
  [[nodiscard]] Status Walk(const Elements& elements, bool create, bool make_volatile, bool* created);
  // Saves the file of the key reached when it changed.
  [[nodiscard]] Status Commit();
  // The keys created are saved later: the lock stays meanwhile.
  void Defer() { store_.deferred_[static_cast<int>(root)] = true; }
  KeyRef Reached() const;

  Root root = Root::kMachine;  // the file `chain` lies in
  Chain chain;                 // from the file's root to the key reached
  bool wow = false;            // a 32-bit program's view of a 64-bit prefix
  bool dirty = false;          // the file of `chain` changed

 private:
  // What a lookup met on its way, for Walk's second walk.
  struct Trace {
    bool bent = false;                      // a link followed, or the 32-bit view turned it
    std::size_t missing = std::size_t(-1);  // the element not found on the way, if one was
  };

  [[nodiscard]] Status LoadUser();
  [[nodiscard]] Status Follow(const winereg::Key& link, int depth, std::u16string* missing, Root* hive, Chain* keys);
  [[nodiscard]] Status Add(std::u16string_view name, bool make_volatile);
  [[nodiscard]] Status Lookup(const Elements& elements, bool create, bool make_volatile, bool* created, Trace* trace);
  winereg::Key* WowChild(const winereg::Key& key, Trace* trace) const;
  bool Shared() const;

  Store& store_;
  winereg::Hive* machine_ = nullptr;
  winereg::Hive* user_ = nullptr;  // loaded when the call or a link reaches it
};

}  // namespace wineprefix
