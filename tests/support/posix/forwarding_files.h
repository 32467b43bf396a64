// A FileSystem that passes every call on to another (the real calls by
// default): the base of test doubles that change or watch only a few.
#pragma once

#include "wineprefix/filesystem.h"

namespace testenv {

class ForwardingFileSystem : public wineprefix::FileSystem {
 public:
  explicit ForwardingFileSystem(wineprefix::FileSystem& to = wineprefix::PosixFileSystem()) : to_(to) {}

  int Open(const char* path, int flags, mode_t mode) override { return to_.Open(path, flags, mode); }
  int Stat(const char* path, struct stat* out) override { return to_.Stat(path, out); }
  int Lstat(const char* path, struct stat* out) override { return to_.Lstat(path, out); }
  int Fstat(int fd, struct stat* out) override { return to_.Fstat(fd, out); }
  int Fchmod(int fd, mode_t mode) override { return to_.Fchmod(fd, mode); }
  int Fchown(int fd, uid_t uid, gid_t gid) override { return to_.Fchown(fd, uid, gid); }
  int Link(const char* from, const char* to) override { return to_.Link(from, to); }
  int Unlink(const char* path) override { return to_.Unlink(path); }
  ssize_t Write(int fd, const void* data, std::size_t size) override { return to_.Write(fd, data, size); }
  int Fsync(int fd) override { return to_.Fsync(fd); }
  int Rename(const char* from, const char* to) override { return to_.Rename(from, to); }
  int Close(int fd) override { return to_.Close(fd); }
  int FcntlLock(int fd, int command, struct flock* lock) override { return to_.FcntlLock(fd, command, lock); }
  DIR* OpenDir(const char* path) override { return to_.OpenDir(path); }
  dirent* ReadDir(DIR* dir) override { return to_.ReadDir(dir); }
  int CloseDir(DIR* dir) override { return to_.CloseDir(dir); }
  char* RealPath(const char* path, char* resolved) override { return to_.RealPath(path, resolved); }
  ssize_t ReadLink(const char* path, char* buffer, std::size_t size) override {
    return to_.ReadLink(path, buffer, size);
  }
  mode_t Umask(mode_t mask) override { return to_.Umask(mask); }
  ssize_t GetRandom(void* buffer, std::size_t size, unsigned int flags) override {
    return to_.GetRandom(buffer, size, flags);
  }

 private:
  wineprefix::FileSystem& to_;
};

}  // namespace testenv
