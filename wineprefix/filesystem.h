// The file-system calls a save makes, handed to the HiveFile that saves:
// PosixFileSystem() is the real one; tests hand in one that fails some calls
// and passes the rest on. Each call has its POSIX namesake's contract (the
// same arguments; -1 and errno on failure).
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

namespace wineprefix {

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // open(2): the temporary file (O_CREAT | O_EXCL) and the directory
  // (O_DIRECTORY) a save flushes.
  [[nodiscard]] virtual int Open(const char* path, int flags, mode_t mode) = 0;
  [[nodiscard]] virtual int Stat(const char* path, struct stat* out) = 0;
  // lstat(2): a leftover of a killed save, examined before it is opened.
  [[nodiscard]] virtual int Lstat(const char* path, struct stat* out) = 0;
  [[nodiscard]] virtual int Fstat(int fd, struct stat* out) = 0;
  [[nodiscard]] virtual int Fchmod(int fd, mode_t mode) = 0;
  [[nodiscard]] virtual int Fchown(int fd, uid_t uid, gid_t gid) = 0;
  [[nodiscard]] virtual int Link(const char* from, const char* to) = 0;
  [[nodiscard]] virtual int Unlink(const char* path) = 0;
  [[nodiscard]] virtual ssize_t Write(int fd, const void* data, std::size_t size) = 0;
  [[nodiscard]] virtual int Fsync(int fd) = 0;
  [[nodiscard]] virtual int Rename(const char* from, const char* to) = 0;
  [[nodiscard]] virtual int Close(int fd) = 0;
  // fcntl(2) with F_OFD_SETLK (the mark of a temporary file as this run's)
  // or F_OFD_GETLK (the probe of a leftover for a live mark).
  [[nodiscard]] virtual int FcntlLock(int fd, int command, struct flock* lock) = 0;
  // opendir(3), readdir(3) (nullptr at the end, or nullptr and errno set on
  // failure) and closedir(3): the sweep of a save's leftovers.
  [[nodiscard]] virtual DIR* OpenDir(const char* path) = 0;
  [[nodiscard]] virtual dirent* ReadDir(DIR* dir) = 0;
  [[nodiscard]] virtual int CloseDir(DIR* dir) = 0;
  // realpath(3) (nullptr and errno on failure) and readlink(2): where a
  // target that is a symbolic link points.
  [[nodiscard]] virtual char* RealPath(const char* path, char* resolved) = 0;
  [[nodiscard]] virtual ssize_t ReadLink(const char* path, char* buffer, std::size_t size) = 0;
  // umask(2): the mode a new registry file gets.
  virtual mode_t Umask(mode_t mask) = 0;
  // getrandom(2): the random part of a temporary or backup name.
  [[nodiscard]] virtual ssize_t GetRandom(void* buffer, std::size_t size, unsigned int flags) = 0;
};

// The real calls; also what decorators that fail some calls pass the rest to.
FileSystem& PosixFileSystem();

}  // namespace wineprefix
