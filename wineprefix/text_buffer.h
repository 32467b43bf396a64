// Memory for a registry file's text while it is read, then owned by the keys
// that keep stretches of it.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>

namespace wineprefix {

// `capacity` bytes at least. A large buffer is an anonymous mapping (no zero
// fill), on huge pages where the system gives them when a few megabytes: a
// few page faults rather than one per 4 KiB. A smaller one, or one the
// system will not map, is a string of zeros.
class TextBuffer {
 public:
  explicit TextBuffer(std::size_t capacity);

  char* data() const { return data_; }
  std::size_t capacity() const { return capacity_; }
  // The memory's owner, for the parsed hive to hold; data() stays valid for
  // as long as it does.
  std::shared_ptr<const void> Release() { return std::move(owner_); }

 private:
  std::shared_ptr<void> owner_;
  char* data_ = nullptr;
  std::size_t capacity_ = 0;
};

}  // namespace wineprefix
