// The vocabulary the file format speaks: the Win32 scalar types, registry
// value types and name limits of vocab/ that the library uses, seen here as
// its own names.
#pragma once

#include "vocab/registry.h"
#include "vocab/win32.h"

namespace winereg {

using vocab::BYTE;
using vocab::DWORD;
using vocab::kMaxKeyNameLength;
using vocab::kMaxValueNameLength;
using vocab::REG_BINARY;
using vocab::REG_DWORD;
using vocab::REG_EXPAND_SZ;
using vocab::REG_MULTI_SZ;
using vocab::REG_SZ;

}  // namespace winereg
