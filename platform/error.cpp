// The error type, the fault texts and the Win32 status -> fault mappings.
#include "platform/error.h"

#include <utility>

#include "platform/app.h"
#include "platform/utf8.h"

namespace plat {

Error::Error(std::int32_t number, std::u16string source, std::u16string description)
    : what_(ToUtf8(description)), number_(number), source_(std::move(source)), description_(std::move(description)) {}

std::u16string FaultText(std::int32_t number) {
  switch (number) {
    case 5:
      return u"Invalid procedure call or argument";
    case 6:
      return u"Overflow";
    case 7:
      return u"Out of memory";
    case 9:
      return u"Subscript out of range";
    case 11:
      return u"Division by zero";
    case 13:
      return u"Type mismatch";
    case 52:
      return u"Bad file name or number";
    case 51:
      return u"Internal error";
    case 53:
      return u"File not found";
    case 55:
      return u"File already open";
    case 57:
      return u"Device I/O error";
    case 62:
      return u"Input past end of file";
    case 70:
      return u"Permission denied";
    case 75:
      return u"Path/File access error";
    case 76:
      return u"Path not found";
    default:
      return u"Application-defined or object-defined error";
  }
}

Error Fault(std::int32_t number) { return Error(number, App().EXEName, FaultText(number)); }

std::int32_t OpenFaultNumber(LONG status) {
  switch (status) {
    case ERROR_FILE_NOT_FOUND:
      return kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
      return kPathNotFound;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return kPermissionDenied;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return kOutOfMemory;
    default:
      return kPathFileAccessError;
  }
}

std::int32_t ReadFaultNumber(LONG /*status*/) { return kDeviceIOError; }

std::int32_t StartFaultNumber(LONG status) {
  return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND ? kFileNotFound : kInvalidArgument;
}

std::u16string Decimal(std::int64_t value) {
  std::u16string out;
  const bool negative = value < 0;
  // Work in unsigned arithmetic so that the most negative value is safe.
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  do {
    out.insert(out.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) out.insert(out.begin(), u'-');
  return out;
}

}  // namespace plat
