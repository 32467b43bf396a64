// The one place below the seam where a Status becomes a call's Win32 status:
// a failure's line goes to the Diagnostics facility once, the code is
// returned.
#pragma once

#include "vocab/status.h"

namespace plat::posix {

[[nodiscard]] vocab::LONG Deliver(const vocab::Status& status);

}  // namespace plat::posix
