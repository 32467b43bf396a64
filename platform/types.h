// Win32-shaped scalar types and status codes shared by every platform facility.
//
// The core speaks to the platform only through the headers in platform/; their
// functions take the same arguments and return the same status codes as the
// Win32 calls they are named after. The names are the vocabulary's
// (vocab/win32.h), seen here as plat's. A backend that includes <windows.h>
// must include these headers first: the Win32 macros of the same names would
// otherwise rewrite the declarations.
#pragma once

#include "vocab/win32.h"

namespace plat {

using namespace vocab;  // NOLINT: the seam speaks the vocabulary

}  // namespace plat
