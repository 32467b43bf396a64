// What tests look at and do beyond the store's interface: whether a key
// still stands on kept text, and dropping all of it.
#pragma once

#include <memory>
#include <vector>

#include "winereg/internal/key_state.h"
#include "winereg/model.h"

namespace winereg::internal {

// Whether the key's SectionText() is kept from an earlier call or from Parse.
inline bool HasSectionText(const Key& key) { return key.state().SectionKept(); }
// Whether the key's SectionText() is the text Parse read.
inline bool HasReadSectionText(const Key& key) {
  return key.state().marks->section_valid && key.state().marks->section_is_read;
}
// Whether the key's subkeys are still to be made from the file's text.
inline bool HasFoldedSubkeys(const Key& key) { return key.state().folded != nullptr; }

// Drops the kept section text of every key (Key::DropSectionText).
inline void DropSectionTexts(Hive& hive) {
  std::vector<Key*> pending{&hive.root};
  while (!pending.empty()) {
    Key* key = pending.back();
    pending.pop_back();
    key->DropSectionText();
    for (const std::unique_ptr<Key>& child : key->subkeys()) pending.push_back(child.get());
  }
}

}  // namespace winereg::internal
