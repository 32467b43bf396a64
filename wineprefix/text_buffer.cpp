// A registry file's text buffer: a huge-page aligned anonymous mapping when
// large, a string otherwise.
#include "wineprefix/text_buffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <string>
#include <utility>

namespace wineprefix {

TextBuffer::TextBuffer(std::size_t capacity) {
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  constexpr std::size_t kHugeAdviceLimit = std::size_t{32} << 20;
  if (capacity >= kHuge / 2) {
    const std::size_t length = (capacity + kHuge - 1) / kHuge * kHuge + kHuge;  // room to align
    void* const base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base != MAP_FAILED) {
      owner_ = std::shared_ptr<void>(base, [length](void* p) { ::munmap(p, length); });
      const auto start = reinterpret_cast<std::uintptr_t>(base);
      data_ = static_cast<char*>(base) + (((start + kHuge - 1) & ~(kHuge - 1)) - start);
      capacity_ = length - static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(data_) - start);
      // Advice only; and not for a much larger file, where finding that
      // many huge pages (compaction) costs more than the faults saved.
      if (capacity_ <= kHugeAdviceLimit) ::madvise(data_, capacity_, MADV_HUGEPAGE);
      return;
    }
  }
  auto text = std::make_shared<std::string>(capacity, '\0');
  data_ = text->data();
  capacity_ = text->size();
  owner_ = std::move(text);
}

}  // namespace wineprefix
