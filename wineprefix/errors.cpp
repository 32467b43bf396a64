// errno to Win32 statuses, for every caller of the store.
#include "wineprefix/errors.h"

#include <cerrno>
#include <cstring>

namespace wineprefix {

using vocab::ERROR_ACCESS_DENIED;
using vocab::ERROR_CANTREAD;
using vocab::ERROR_DISK_FULL;
using vocab::ERROR_FILE_NOT_FOUND;
using vocab::ERROR_GEN_FAILURE;
using vocab::ERROR_NOT_ENOUGH_MEMORY;
using vocab::ERROR_PATH_NOT_FOUND;
using vocab::ERROR_SHARING_VIOLATION;
using vocab::ERROR_TOO_MANY_OPEN_FILES;
using vocab::ERROR_WRITE_FAULT;
using vocab::ERROR_WRITE_PROTECT;

LONG StatusFromErrno(int error, ErrnoUse use) {
  switch (use) {
    case ErrnoUse::kOpenFile:
      switch (error) {
        case ENOENT:
          return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
          return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
          return ERROR_ACCESS_DENIED;
        case ETXTBSY:
        case EBUSY:
          return ERROR_SHARING_VIOLATION;
        case EMFILE:
        case ENFILE:
          return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM:
          return ERROR_NOT_ENOUGH_MEMORY;
        default:
          return ERROR_GEN_FAILURE;
      }
    case ErrnoUse::kListDirectory:
      return error == EACCES || error == EPERM ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND;
    case ErrnoUse::kOpenRegistry:
      return error == EACCES ? ERROR_ACCESS_DENIED : ERROR_CANTREAD;
    case ErrnoUse::kUsePrefix:
      return error == EACCES ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND;
    case ErrnoUse::kSave:
    case ErrnoUse::kLock:
    case ErrnoUse::kMakePrefix:
      break;
  }
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_WRITE_FAULT;
  }
}

Status ErrnoFailure(int error, ErrnoUse use, const std::string& what) {
  const LONG code = StatusFromErrno(error, use);
  if (error == ENOENT || error == ENOTDIR) return Failure(code);
  return Failure(code, what + ": " + std::strerror(error));
}

}  // namespace wineprefix
