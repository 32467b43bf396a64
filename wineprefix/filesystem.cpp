// The save's file-system calls: the real ones.
#include "wineprefix/filesystem.h"

#include <stdio.h>
#include <unistd.h>

namespace wineprefix {
namespace {

class Posix final : public FileSystem {
 public:
  ssize_t Write(int fd, const void* data, std::size_t size) override { return ::write(fd, data, size); }
  int Fsync(int fd) override { return ::fsync(fd); }
  int Rename(const char* from, const char* to) override { return ::rename(from, to); }
  int Close(int fd) override { return ::close(fd); }
};

}  // namespace

FileSystem& PosixFileSystem() {
  static Posix posix;
  return posix;
}

}  // namespace wineprefix

template <>
wineprefix::FileSystem& plat::Backend<wineprefix::FileSystem>() {
  return wineprefix::PosixFileSystem();
}
