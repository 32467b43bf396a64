// The save's file-system calls: the real ones.
#include "wineprefix/filesystem.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <unistd.h>

namespace wineprefix {
namespace {

class Posix final : public FileSystem {
 public:
  int Open(const char* path, int flags, mode_t mode) override { return ::open(path, flags, mode); }
  int Stat(const char* path, struct stat* out) override { return ::stat(path, out); }
  int Fstat(int fd, struct stat* out) override { return ::fstat(fd, out); }
  int Fchmod(int fd, mode_t mode) override { return ::fchmod(fd, mode); }
  int Fchown(int fd, uid_t uid, gid_t gid) override { return ::fchown(fd, uid, gid); }
  int Link(const char* from, const char* to) override { return ::link(from, to); }
  int Unlink(const char* path) override { return ::unlink(path); }
  ssize_t Write(int fd, const void* data, std::size_t size) override { return ::write(fd, data, size); }
  int Fsync(int fd) override { return ::fsync(fd); }
  int Rename(const char* from, const char* to) override { return ::rename(from, to); }
  int Close(int fd) override { return ::close(fd); }
  ssize_t GetRandom(void* buffer, std::size_t size, unsigned int flags) override {
    return ::getrandom(buffer, size, flags);
  }
};

}  // namespace

FileSystem& PosixFileSystem() {
  static Posix posix;
  return posix;
}

}  // namespace wineprefix
