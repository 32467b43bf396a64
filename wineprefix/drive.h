// A prefix's drives as a Windows program under Wine sees them.
//
// A path "X:\a\b" is the prefix's dosdevices/x: (for C: normally a link to
// ../drive_c) followed by the components a and b. Each component is looked
// up as Wine does: the name as given first, then a scan of the directory for
// a name equal to it without regard to case (ASCII and the letters of
// Windows-1252). "." components are dropped and ".." goes up one level;
// 8.3 short names are not recognised.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "wineprefix/errors.h"

namespace wineprefix {

// Whether two file names are the same without regard to case.
bool SameFileName(std::u16string_view a, std::u16string_view b);
// A name a Windows file can have: not empty, "." or "..", and without
// control characters or any of < > : " | ? * \ /.
bool IsValidFileName(std::u16string_view name);

// The entry of the host folder `dir` that the Windows name `name` names: the
// name itself when it exists, else the first entry equal to it without
// regard to case; `found` is empty when there is none. ERROR_INVALID_NAME
// for a name no Windows file has, and the status of a folder that cannot be
// listed (ErrnoUse::kListDirectory), with a line naming the folder and the
// cause unless the folder is merely missing.
[[nodiscard]] Status FindInFolder(const std::filesystem::path& dir, std::u16string_view name,
                                  std::filesystem::path* found);

// The host path of an existing object that an absolute drive path names in
// `prefix`: ERROR_BAD_PATHNAME for anything but "X:\...", ERROR_INVALID_DRIVE
// for a letter that names no drive, ERROR_INVALID_NAME for a component no
// file can have, ERROR_PATH_NOT_FOUND for a missing prefix, drive or folder
// (or one that is no directory), ERROR_FILE_NOT_FOUND for a missing last
// component; a folder on the way that cannot be listed as FindInFolder says.
// `out` is unchanged on failure.
[[nodiscard]] Status ResolveDrivePath(const std::filesystem::path& prefix, std::u16string_view path,
                                      std::filesystem::path* out);

}  // namespace wineprefix
