// The seam's scalar types and status codes under the store's own names.
#pragma once

#include "platform/types.h"

namespace winereg {

using plat::BYTE;
using plat::DWORD;
using plat::LONG;

using plat::ERROR_ACCESS_DENIED;
using plat::ERROR_BAD_ENVIRONMENT;
using plat::ERROR_BAD_PATHNAME;
using plat::ERROR_BADDB;
using plat::ERROR_BUSY;
using plat::ERROR_CANTREAD;
using plat::ERROR_DISK_FULL;
using plat::ERROR_FILE_NOT_FOUND;
using plat::ERROR_GEN_FAILURE;
using plat::ERROR_INVALID_PARAMETER;
using plat::ERROR_LOCK_FAILED;
using plat::ERROR_LOCK_VIOLATION;
using plat::ERROR_NOT_ENOUGH_MEMORY;
using plat::ERROR_PATH_NOT_FOUND;
using plat::ERROR_SHARING_VIOLATION;
using plat::ERROR_SUCCESS;
using plat::ERROR_TOO_MANY_OPEN_FILES;
using plat::ERROR_WRITE_FAULT;
using plat::ERROR_WRITE_PROTECT;

// Registry value types the file format names.
inline constexpr DWORD kRegSz = 1;
inline constexpr DWORD kRegExpandSz = 2;
inline constexpr DWORD kRegBinary = 3;
inline constexpr DWORD kRegDword = 4;
inline constexpr DWORD kRegMultiSz = 7;

}  // namespace winereg
