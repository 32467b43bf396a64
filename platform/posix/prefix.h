// A Wine prefix as the native build sees it: where it is, what architecture
// it has, the locks that guard it, and durable loads and saves of its
// registry files.
//
// Every function that returns a status writes one line on standard error
// naming the path and the cause before it returns a failure, and leaves its
// out-parameters unchanged then.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/hive.h"
#include "platform/types.h"

namespace plat::posix {

// The prefix Wine uses in this environment: $WINEPREFIX (trailing slashes
// dropped), which must be an absolute path (set but empty counts as
// relative), else <home>/.wine, the home from $HOME or, when HOME is unset,
// from the user's passwd entry. ERROR_BAD_PATHNAME where Wine would refuse.
[[nodiscard]] LONG FindPrefix(std::filesystem::path* out);
// FindPrefix's answer without a diagnostic; an empty path where it fails.
std::filesystem::path DefaultPrefix();

// The architecture Wine gives the prefix before its system.reg exists: the
// `#arch` of user.reg or userdef.reg, else win64 when drive_c/windows/syswow64
// exists, win32 when drive_c/windows/system32 does, else (a new prefix)
// WINEARCH, win32 when unset. When system.reg exists its own `#arch` decides
// and this gives the WINEARCH answer. ERROR_BAD_ENVIRONMENT for a WINEARCH
// other than win32 or win64, or one that contradicts what the prefix holds,
// or user.reg and userdef.reg that disagree.
[[nodiscard]] LONG PrefixArch(const std::filesystem::path& prefix, Arch* out);
// ERROR_BAD_ENVIRONMENT when WINEARCH names another architecture than that
// of the loaded system.reg (no #arch: win32), as Wine refuses such a run.
[[nodiscard]] LONG CheckWineArch(const std::filesystem::path& prefix, Arch system_arch);

// The file-system calls a save makes, replaceable by tests that inject
// failures. Each has the POSIX call's contract (-1 and errno on failure).
struct FsOps {
  ssize_t (*write)(int fd, const void* data, size_t size);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
  int (*close)(int fd);
};
FsOps& Fs();

// Guards a prefix for its lifetime:
// - a flock on the prefix directory (and on the directory of a registry file
//   that is a link out of it), the lock every native run takes whatever its
//   environment, so no two runs change the prefix at once;
// - the wineserver lock of the server directory this environment designates
//   (an open-file-description lock on byte 0 of its `lock`), so no wineserver
//   started in this environment can start meanwhile.
// A wineserver already running for the prefix is found wherever its server
// directory is: a process whose working directory is the prefix's
// server-<dev>-<ino> directory, or a holder of one of the lock files.
class PrefixLock {
 public:
  PrefixLock() = default;
  PrefixLock(PrefixLock&& other) noexcept;
  PrefixLock& operator=(PrefixLock&& other) noexcept;
  PrefixLock(const PrefixLock&) = delete;
  PrefixLock& operator=(const PrefixLock&) = delete;
  ~PrefixLock();

  // Takes the locks, waiting up to 60 s for other native runs. Refuses when a
  // wineserver runs for the prefix (ERROR_BUSY), when the prefix is not the
  // user's (ERROR_ACCESS_DENIED), when /proc cannot tell whether a wineserver
  // runs (ERROR_LOCK_FAILED), or when the locks cannot be had in time
  // (ERROR_LOCK_VIOLATION). A prefix directory that does not exist yet gives
  // ERROR_SUCCESS without a lock: nothing can run for it.
  [[nodiscard]] static LONG Acquire(const std::filesystem::path& prefix, PrefixLock* out);
  // ERROR_BUSY (with the message) when a wineserver has started for the
  // guarded directories since Acquire.
  [[nodiscard]] LONG Recheck() const;
  bool held() const { return !fds_.empty(); }

 private:
  std::vector<int> fds_;                     // directory locks, then the server lock
  std::vector<std::filesystem::path> dirs_;  // the guarded directories
  std::vector<std::string> server_dirs_;     // server-<dev>-<ino> of each
  std::filesystem::path prefix_;
};

// One registry file of the prefix, loaded on demand and saved durably.
class HiveFile {
 public:
  // Larger registry files are refused.
  static constexpr std::int64_t kMaxSize = std::int64_t{512} << 20;

  HiveFile(std::filesystem::path file, std::u16string branch);

  // The file's hive, reloaded when the file changed since it was last seen.
  // A missing file gives an empty hive (arch from `fresh_arch`). Anything
  // but a regular file of at most kMaxSize bytes is refused at once
  // (ERROR_BADDB), as is a file that cannot be read (ERROR_CANTREAD,
  // ERROR_ACCESS_DENIED) or parsed (ERROR_BADDB, `path:line: message`).
  [[nodiscard]] LONG Load(Hive** out, Arch fresh_arch);
  // Writes the hive to a temporary file of its own beside the target,
  // flushes it, gives it the old file's mode and owner and renames it over
  // the old one, then flushes the directory. A target that is a symbolic
  // link is saved where it points. On failure the old file is unchanged, the
  // cached hive is dropped (the next Load rereads the file) and a Win32
  // status is returned. `lock`, when held, is rechecked before the rename.
  [[nodiscard]] LONG Save(const PrefixLock* lock = nullptr);
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

// Creates the prefix directory (0777 less the umask) when it is missing.
[[nodiscard]] LONG EnsurePrefixDirectory(const std::filesystem::path& prefix);

}  // namespace plat::posix
