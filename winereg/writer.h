// Saving a hive exactly as wineserver saves the same tree (server/registry.c
// save_subkeys): saving a parsed wineserver file with no change gives back
// its bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "winereg/model.h"

namespace winereg {

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

// The key's own section as Save writes it, from the "] " after its path up
// to its subkeys' sections: time stamps, #class, #link and values. Whether
// the section is written at all is Save's decision. The key keeps it (valid
// while the key is unchanged) until its own data changes.
std::string_view SectionText(const Key& key);

// The file's bytes, as wineserver would save this hive.
std::string Save(const Hive& hive);
void Save(const Hive& hive, SavedText* out);

}  // namespace winereg
