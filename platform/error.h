// The program's one error type: a number, a source and a description.
//
// Component errors (such as the registry accessor's 26001) and run-time
// faults (5 invalid argument, 6 overflow, 9 subscript out of range, 53 file
// not found, 62 input past end of file, ...) travel as this exception from
// the operation that failed to whoever handles it; an error nobody handles
// ends the program through RunProgram (entry.h).
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "platform/types.h"

namespace plat {

// what() is the description in UTF-8.
class Error : public std::exception {
 public:
  Error(std::int32_t number, std::u16string source, std::u16string description);

  const char* what() const noexcept override { return what_.c_str(); }
  std::int32_t Number() const { return number_; }
  const std::u16string& Source() const { return source_; }
  const std::u16string& Description() const { return description_; }

 private:
  std::string what_;
  std::int32_t number_;
  std::u16string source_;
  std::u16string description_;
};

// Standard run-time fault numbers.
inline constexpr std::int32_t kInvalidArgument = 5;
inline constexpr std::int32_t kOverflow = 6;
inline constexpr std::int32_t kOutOfMemory = 7;
inline constexpr std::int32_t kSubscriptOutOfRange = 9;
inline constexpr std::int32_t kBadFileNameOrNumber = 52;
inline constexpr std::int32_t kFileNotFound = 53;
inline constexpr std::int32_t kDeviceIOError = 57;
inline constexpr std::int32_t kInputPastEndOfFile = 62;
inline constexpr std::int32_t kPermissionDenied = 70;
inline constexpr std::int32_t kPathFileAccessError = 75;
inline constexpr std::int32_t kPathNotFound = 76;
// An exception that is not an Error (a fault of the program itself).
inline constexpr std::int32_t kInternalError = 51;

// The text that belongs to a run-time fault number ("Overflow", ...);
// "Application-defined or object-defined error" for numbers it does not know.
std::u16string FaultText(std::int32_t number);

// A run-time fault: the given number, its text, and the program as source.
Error Fault(std::int32_t number);

// The run-time fault of a failed facility call, by what the call was for.
// Every place that turns a Win32 status into a fault goes through one of
// these; none is given ERROR_SUCCESS.
//
// A file opened for input (FileInput::OpenForReading):
//   ERROR_FILE_NOT_FOUND                                    53 File not found
//   ERROR_PATH_NOT_FOUND, ERROR_INVALID_DRIVE, ERROR_BAD_PATHNAME,
//   ERROR_INVALID_NAME                                      76 Path not found
//   ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION            70 Permission denied
//   ERROR_NOT_ENOUGH_MEMORY, ERROR_OUTOFMEMORY               7 Out of memory
//   ERROR_ACCESS_DENIED and anything else                   75 Path/File access error
std::int32_t OpenFaultNumber(LONG status);
// A read of an open file (FileInput::ReadFile): 57 Device I/O error, whatever
// the status.
std::int32_t ReadFaultNumber(LONG status);
// A program started (Shell::StartProcess): ERROR_FILE_NOT_FOUND and
// ERROR_PATH_NOT_FOUND are 53 File not found, anything else 5 Invalid
// procedure call or argument.
std::int32_t StartFaultNumber(LONG status);

// Signed decimal, a minus sign and no leading blank: -2147483646.
std::u16string Decimal(std::int64_t value);

}  // namespace plat
