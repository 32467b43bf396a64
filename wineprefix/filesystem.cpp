// The save's file-system calls: the real ones.
#include "wineprefix/filesystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wineprefix {
namespace {

class Posix final : public FileSystem {
 public:
  int Open(const char* path, int flags, mode_t mode) override { return ::open(path, flags, mode); }
  int Stat(const char* path, struct stat* out) override { return ::stat(path, out); }
  int Lstat(const char* path, struct stat* out) override { return ::lstat(path, out); }
  int Fstat(int fd, struct stat* out) override { return ::fstat(fd, out); }
  int Fchmod(int fd, mode_t mode) override { return ::fchmod(fd, mode); }
  int Fchown(int fd, uid_t uid, gid_t gid) override { return ::fchown(fd, uid, gid); }
  int Link(const char* from, const char* to) override { return ::link(from, to); }
  int Unlink(const char* path) override { return ::unlink(path); }
  ssize_t Write(int fd, const void* data, std::size_t size) override { return ::write(fd, data, size); }
  int Fsync(int fd) override { return ::fsync(fd); }
  int Rename(const char* from, const char* to) override { return ::rename(from, to); }
  int Close(int fd) override { return ::close(fd); }
  int FcntlLock(int fd, int command, struct flock* lock) override { return ::fcntl(fd, command, lock); }
  DIR* OpenDir(const char* path) override { return ::opendir(path); }
  dirent* ReadDir(DIR* dir) override { return ::readdir(dir); }
  int CloseDir(DIR* dir) override { return ::closedir(dir); }
  char* RealPath(const char* path, char* resolved) override { return ::realpath(path, resolved); }
  ssize_t ReadLink(const char* path, char* buffer, std::size_t size) override { return ::readlink(path, buffer, size); }
  mode_t Umask(mode_t mask) override { return ::umask(mask); }
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
