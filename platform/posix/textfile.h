// Files of a Wine prefix's drives, as a Windows program under Wine sees them.
//
// A path "X:\a\b" is the prefix's dosdevices/x: (for C: normally a link to
// ../drive_c) followed by the components a and b. Each component is looked
// up as Wine does: the name as given first, then a scan of the directory for
// a name equal to it without regard to case (ASCII and the letters of
// Windows-1252). "." components are dropped and ".." goes up one level;
// 8.3 short names are not recognised. Only regular files open.
#pragma once

#include <filesystem>
#include <optional>
#include <utility>

#include "platform/textfile.h"

namespace plat::posix {

class PrefixFileInput final : public FileInput {
 public:
  // The prefix of DefaultPrefix(), looked up at every open.
  PrefixFileInput() = default;
  explicit PrefixFileInput(std::filesystem::path prefix) : prefix_(std::move(prefix)) {}

  [[nodiscard]] LONG OpenForReading(const char* lpFileName, FileHandle* phFile) override;
  [[nodiscard]] LONG ReadFile(FileHandle hFile, void* lpBuffer, DWORD nNumberOfBytesToRead,
                              DWORD* lpNumberOfBytesRead) override;
  [[nodiscard]] LONG CloseHandle(FileHandle hFile) override;

  // The host path of an existing object that a Windows path (ANSI) names, or
  // the status of the lookup: ERROR_PATH_NOT_FOUND for a missing drive or
  // folder, ERROR_FILE_NOT_FOUND for a missing last component.
  [[nodiscard]] LONG Resolve(const char* lpFileName, std::filesystem::path* out) const;

 private:
  std::optional<std::filesystem::path> prefix_;
};

}  // namespace plat::posix
