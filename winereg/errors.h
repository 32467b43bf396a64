// How the store reports a failure: a Win32 status and the one line that says
// what failed, for the caller to print; and the one mapping of errno to
// Win32 statuses.
#pragma once

#include <string>

#include "winereg/types.h"

namespace winereg {

struct [[nodiscard]] Status {
  LONG code = ERROR_SUCCESS;
  std::string message;  // the line for standard error; empty: nothing to say

  bool ok() const { return code == ERROR_SUCCESS; }
};

inline Status Success() { return {}; }
inline Status Failure(LONG code, std::string message = {}) { return Status{code, std::move(message)}; }

// What the failed call was doing: the same errno means another status when
// opening a file than when saving one.
enum class ErrnoUse {
  kOpenFile,       // opening a file to read it (Win32 CreateFile's statuses)
  kListDirectory,  // opening a directory to list it
  kOpenRegistry,   // opening a registry file to load it
  kUsePrefix,      // reaching the prefix directory
  kSave,           // creating, writing, flushing and renaming a saved file
};

[[nodiscard]] LONG StatusFromErrno(int error, ErrnoUse use);

}  // namespace winereg

namespace winereg {

// For the caller at the edge, where diagnostics are printed: writes the
// failure's message as one line on standard error (standard output flushed
// first, so the two interleave as written) and gives its status.
[[nodiscard]] LONG Report(const Status& status);

}  // namespace winereg
