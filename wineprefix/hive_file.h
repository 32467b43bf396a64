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
  // Writes the hive to a temporary file of its own beside the target,
  // flushes it, gives it the old file's mode and owner and renames it over
  // the old one, then flushes the directory. A target that is a symbolic
  // link is saved where it points. On failure the old file is unchanged, the
  // cached hive is dropped (the next Load rereads the file) and a Win32
  // status is returned. `lock`, when held, is rechecked before the rename.
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
