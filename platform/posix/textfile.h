// Files of a Wine prefix's drives, as a Windows program under Wine sees them:
// paths are looked up as wineprefix/drive.h says (dosdevices/<drive>:, names
// without regard to case). Only regular files open.
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
