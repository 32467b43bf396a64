// The locks that guard a prefix while the store works on it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "wineprefix/errors.h"

namespace wineprefix {

namespace internal {
class Fd;
}  // namespace internal

// Guards a prefix for its lifetime:
// - a flock on the prefix directory (and on the directory of a registry file
//   that is a link out of it), the lock every native run takes whatever its
//   environment, so no two runs change the prefix at once;
// - the wineserver lock of the server directory this environment designates
//   and of upstream Wine's (/tmp/.wine-<uid>): an open-file-description lock
//   on byte 0 of each `lock`, so no wineserver of either layout can start
//   meanwhile.
// A wineserver already running for the prefix is found wherever its server
// directory is: a process whose working directory is the prefix's
// server-<dev>-<ino> directory, or a holder of one of the lock files.
class PrefixLock {
 public:
  PrefixLock();
  PrefixLock(PrefixLock&& other) noexcept;
  PrefixLock& operator=(PrefixLock&& other) noexcept;
  ~PrefixLock();  // gives the locks up

  // Takes the locks, waiting up to 60 s for other native runs. Refuses when a
  // wineserver runs for the prefix (ERROR_BUSY), when the prefix is not the
  // user's (ERROR_ACCESS_DENIED), when /proc cannot tell whether a wineserver
  // runs (ERROR_LOCK_FAILED), or when the locks cannot be had in time
  // (ERROR_LOCK_VIOLATION). A prefix directory that does not exist yet gives
  // success without a lock: nothing can run for it. `*server`, when given, is
  // the pid of a wineserver running for the prefix itself when that is why
  // the lock is refused, else 0 (a server of another prefix that a registry
  // file links into is not the prefix's own).
  [[nodiscard]] static Status Acquire(const std::filesystem::path& prefix, PrefixLock* out, pid_t* server = nullptr);
  // ERROR_BUSY (with the message) when a wineserver has started for the
  // guarded directories since Acquire.
  [[nodiscard]] Status Recheck() const;
  bool held() const;
  // How often this process has looked for running wineservers (Acquire's
  // and Recheck's scans), for tests of the store's set-up rule.
  static std::uint64_t Scans();

 private:
  std::vector<internal::Fd> fds_;            // directory locks, then the server locks
  std::vector<std::filesystem::path> dirs_;  // the guarded directories
  std::vector<std::string> server_dirs_;     // server-<dev>-<ino> of each
  std::filesystem::path prefix_;
};

}  // namespace wineprefix
