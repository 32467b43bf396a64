// A Wine prefix as the native build sees it: where it is, the wineserver lock
// that guards it, and durable loads and saves of its registry files.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/posix/hive.h"
#include "platform/types.h"

namespace plat::posix {

// $WINEPREFIX (trailing slashes dropped), else $HOME/.wine, as Wine decides.
std::filesystem::path DefaultPrefix();

// The file-system calls a save makes, replaceable by tests that inject
// failures. Each has the POSIX call's contract (-1 and errno on failure).
struct FsOps {
  ssize_t (*write)(int fd, const void* data, size_t size);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
  int (*close)(int fd);
};
FsOps& Fs();

// Holds the prefix's wineserver lock (an open-file-description lock on byte 0
// of the server directory's `lock` file) for its lifetime. While held, no
// wineserver can start for the prefix and no other native run can change it.
class PrefixLock {
 public:
  PrefixLock() = default;
  PrefixLock(PrefixLock&& other) noexcept;
  PrefixLock& operator=(PrefixLock&& other) noexcept;
  PrefixLock(const PrefixLock&) = delete;
  PrefixLock& operator=(const PrefixLock&) = delete;
  ~PrefixLock();

  // Takes the lock, waiting for other native runs. Refuses (with one line on
  // standard error) when a wineserver runs for the prefix (ERROR_BUSY), when
  // the prefix or the server directory is not the user's
  // (ERROR_ACCESS_DENIED), or when the lock cannot be had in time
  // (ERROR_LOCK_VIOLATION). A prefix directory that does not exist yet gives
  // ERROR_SUCCESS without a lock: nothing can run for it.
  static LONG Acquire(const std::filesystem::path& prefix, PrefixLock* out);
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// One registry file of the prefix, loaded on demand and saved durably.
class HiveFile {
 public:
  HiveFile(std::filesystem::path file, std::u16string branch);

  // The file's hive, reloaded when the file changed since it was last seen.
  // A missing file gives an empty hive (arch from `fresh_arch`). A file that
  // cannot be read or parsed gives an error status (ERROR_BADDB for a parse
  // failure) after one line on standard error: `path:line: message`.
  LONG Load(Hive** out, Arch fresh_arch);
  // Writes the hive to a temporary file beside it, flushes it, gives it the
  // old file's mode and owner and renames it over the old one, then flushes
  // the directory. On failure the old file is unchanged, the cached hive is
  // dropped (the next Load rereads the file) and a Win32 status is returned.
  LONG Save();
  // Forgets the cached hive.
  void Invalidate();

  const std::filesystem::path& path() const { return file_; }

 private:
  struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    std::int64_t mtime_ns = 0;
    bool operator==(const Identity&) const = default;
  };

  std::filesystem::path file_;
  std::u16string branch_;
  std::optional<Hive> hive_;
  std::optional<Identity> seen_;  // nullopt: the file did not exist
};

// Creates the prefix directory (0755) when it is missing.
LONG EnsurePrefixDirectory(const std::filesystem::path& prefix);

// The architecture a new prefix gets: win64 only when WINEARCH=win64.
Arch NewPrefixArch();

}  // namespace plat::posix
