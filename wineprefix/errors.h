// How the store reports a failure: a Win32 status and the one line that says
// what failed, for the caller to tell (the store never prints); and the one
// mapping of errno to Win32 statuses.
#pragma once

#include <string>

#include "vocab/status.h"

namespace wineprefix {

// The failure currency, as the library's own names.
using vocab::Failure;
using vocab::LONG;
using vocab::Status;
using vocab::Success;

// What the failed call was doing: the same errno means another status when
// opening a file than when saving one.
enum class ErrnoUse {
  kOpenFile,       // opening a file to read it (Win32 CreateFile's statuses)
  kListDirectory,  // opening a directory to list it
  kOpenRegistry,   // opening a registry file to load it
  kUsePrefix,      // reaching the prefix directory
  kSave,           // creating, writing, flushing and renaming a saved file
  kLock,           // opening a directory to lock it (kSave's statuses)
  kMakePrefix,     // creating the prefix directory (kSave's statuses)
};

[[nodiscard]] LONG StatusFromErrno(int error, ErrnoUse use);
// The failure of `use` with errno `error`: its status, with the line
// "<what>: <cause>" unless the object is merely missing (ENOENT, ENOTDIR),
// which the status says alone.
[[nodiscard]] Status ErrnoFailure(int error, ErrnoUse use, const std::string& what);

}  // namespace wineprefix
