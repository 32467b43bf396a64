// One registry file of a prefix, loaded on demand and saved durably.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "wineprefix/errors.h"
#include "wineprefix/filesystem.h"
#include "wineprefix/lock.h"
#include "winereg/model.h"

namespace wineprefix {

using winereg::Arch;
using winereg::Hive;

class HiveFile {
 public:
  // Larger registry files are refused.
  static constexpr std::int64_t kMaxSize = std::int64_t{512} << 20;

  // The file's saves make their file-system calls through `files`, which
  // must outlive this object.
  HiveFile(std::filesystem::path file, std::u16string branch, FileSystem& files = PosixFileSystem());

  // The file's hive, reloaded when the file changed since it was last seen.
  // A missing file gives an empty hive (arch from `fresh_arch`). Anything
  // but a regular file of at most kMaxSize bytes is refused at once
  // (ERROR_BADDB), as is a file that cannot be read (ERROR_CANTREAD,
  // ERROR_ACCESS_DENIED) or parsed (ERROR_BADDB, `path:line: message`).
  [[nodiscard]] Status Load(Hive** out, Arch fresh_arch);
  // Replaces the file durably with the cached hive: writes it to a temporary
  // file of its own beside the target (wineprefix/temp_file.h), flushes it,
  // gives it the old file's permission bits, owner and group, renames it over
  // the old file and flushes the directory. A target that is a symbolic link
  // is saved where it points (a dangling one gets its target made). `lock`,
  // when held, is rechecked right before the rename. Success: the file holds
  // the hive, durably; a second name of the old file that cannot be removed
  // is left for the next save's sweep.
  //
  // Every failure drops the cached hive (the next Load rereads the file) and
  // returns a Win32 status with its line. What the caller can rely on then:
  // - ERROR_INVALID_PARAMETER (nothing loaded), ERROR_BADDB (the target is
  //   not a regular file), the recheck's refusal (ERROR_BUSY,
  //   ERROR_LOCK_FAILED), or a status from errno with `cannot save the
  //   registry (<step>)`, the step one of resolve (whether the target is a
  //   link cannot be told), create, chmod, chown, write, flush, stat, close,
  //   rename: the rename did not happen. The target is unchanged, and the
  //   temporary file is removed (one whose removal fails is left under the
  //   temporary pattern for the next save's sweep).
  // - A status from errno with `cannot flush the directory after saving`:
  //   the rename happened and may or may not last. The old file is put back
  //   from its second name, or a target that was not there is removed, both
  //   best effort and unflushed. The target holds the old content or, when
  //   the old file got no second name (a file system without hard links) or
  //   could not be put back, the new one; either whole, but which is not
  //   known.
  // Conceded on success as well: a target whose status cannot be read is
  // replaced as a new file (mode 0666 less the umask, the user's owner and
  // group); what the old file had beyond permission bits, owner and group
  // (ACLs, extended attributes, further hard links) is not carried over.
  [[nodiscard]] Status Save(const PrefixLock* lock = nullptr);
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
  FileSystem* files_;
  std::optional<Hive> hive_;
  std::optional<Identity> seen_;  // nullopt: the file did not exist
};

}  // namespace wineprefix
