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

// Declared here, so that they hide the Win32 headers' global names of the
// same spelling inside plat.
using vocab::BOOL;
using vocab::BYTE;
using vocab::DWORD;
using vocab::ERROR_ACCESS_DENIED;
using vocab::ERROR_BAD_ENVIRONMENT;
using vocab::ERROR_BAD_EXE_FORMAT;
using vocab::ERROR_BAD_PATHNAME;
using vocab::ERROR_BADDB;
using vocab::ERROR_BROKEN_PIPE;
using vocab::ERROR_BUSY;
using vocab::ERROR_CANTOPEN;
using vocab::ERROR_CANTREAD;
using vocab::ERROR_CANTWRITE;
using vocab::ERROR_CHILD_MUST_BE_VOLATILE;
using vocab::ERROR_DISK_FULL;
using vocab::ERROR_FILE_NOT_FOUND;
using vocab::ERROR_GEN_FAILURE;
using vocab::ERROR_INVALID_DRIVE;
using vocab::ERROR_INVALID_HANDLE;
using vocab::ERROR_INVALID_NAME;
using vocab::ERROR_INVALID_PARAMETER;
using vocab::ERROR_KEY_DELETED;
using vocab::ERROR_LOCK_FAILED;
using vocab::ERROR_LOCK_VIOLATION;
using vocab::ERROR_MORE_DATA;
using vocab::ERROR_NO_MORE_ITEMS;
using vocab::ERROR_NO_UNICODE_TRANSLATION;
using vocab::ERROR_NOACCESS;
using vocab::ERROR_NOT_ENOUGH_MEMORY;
using vocab::ERROR_NOT_SUPPORTED;
using vocab::ERROR_OUTOFMEMORY;
using vocab::ERROR_PATH_NOT_FOUND;
using vocab::ERROR_READ_FAULT;
using vocab::ERROR_SHARING_VIOLATION;
using vocab::ERROR_SUCCESS;
using vocab::ERROR_TOO_MANY_OPEN_FILES;
using vocab::ERROR_WRITE_FAULT;
using vocab::ERROR_WRITE_PROTECT;
using vocab::FALSE;
using vocab::HKEY;
using vocab::HWND;
using vocab::LONG;
using vocab::REGSAM;
using vocab::TRUE;
using vocab::UINT;
using vocab::WORD;

}  // namespace plat
