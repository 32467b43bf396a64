// The one failure currency below the seam: a Win32 status and the line that
// says what failed. Made where the failure is found, carried up unchanged,
// printed once by the program's edge.
#pragma once

#include <string>
#include <utility>

#include "vocab/win32.h"

namespace vocab {

struct [[nodiscard]] Status {
  LONG code = ERROR_SUCCESS;
  std::string message;  // the line for standard error; empty: nothing to say

  bool ok() const { return code == ERROR_SUCCESS; }
};

inline Status Success() { return {}; }
inline Status Failure(LONG code, std::string message = {}) { return Status{code, std::move(message)}; }

}  // namespace vocab
