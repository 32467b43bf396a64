// The vocabulary the file format speaks: Win32's scalar types, status codes
// and registry value types (vocab/), seen here as the library's own names.
#pragma once

#include "vocab/registry.h"
#include "vocab/status.h"

namespace winereg {

using namespace vocab;  // NOLINT: the format speaks the vocabulary

}  // namespace winereg
