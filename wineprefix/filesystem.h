// The file-system calls a save makes, as a facility: the real POSIX calls by
// default, replaced through plat::ScopedUse<wineprefix::FileSystem> by tests
// that inject failures. Each has the POSIX call's contract (-1 and errno on
// failure).
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "platform/facility.h"

namespace wineprefix {

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  [[nodiscard]] virtual ssize_t Write(int fd, const void* data, std::size_t size) = 0;
  [[nodiscard]] virtual int Fsync(int fd) = 0;
  [[nodiscard]] virtual int Rename(const char* from, const char* to) = 0;
  [[nodiscard]] virtual int Close(int fd) = 0;
};

// The real calls, for decorators that fail some and pass the rest on.
FileSystem& PosixFileSystem();

}  // namespace wineprefix

template <>
wineprefix::FileSystem& plat::Backend<wineprefix::FileSystem>();
