// A file descriptor closed when it goes, and a path's resolved form.
#pragma once

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <utility>

namespace wineprefix::internal {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int value) : fd_(value) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    // Nothing to report to: a descriptor that fails to close is gone anyway.
    if (fd_ >= 0) (void)::close(fd_);
  }

  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

// The path with every link resolved, or nullopt when it cannot be.
inline std::optional<std::filesystem::path> Resolved(const std::filesystem::path& path) {
  char buffer[PATH_MAX];
  if (::realpath(path.c_str(), buffer) == nullptr) return std::nullopt;
  return std::filesystem::path(buffer);
}

}  // namespace wineprefix::internal
