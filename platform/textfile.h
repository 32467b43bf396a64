// Sequential text-file input: open a file for reading, read it a line at a
// time in the ANSI code page, close it.
//
// The facility is the file-system side, shaped after CreateFileA / ReadFile /
// CloseHandle: each call returns a Win32 status (ERROR_SUCCESS or a system
// error code). TextInput, the part the core uses, turns it into lines and
// run-time faults, and closes the file on every path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/facility.h"
#include "platform/types.h"

namespace plat {

// An open file of the facility; 0 is no file.
using FileHandle = std::uintptr_t;

class FileInput {
 public:
  virtual ~FileInput() = default;
  // Opens an existing file for reading (as CreateFileA with GENERIC_READ,
  // sharing read and write, OPEN_EXISTING). `lpFileName` is a Windows path in
  // the ANSI code page. On success *phFile is a non-zero handle; on failure
  // it is 0: ERROR_FILE_NOT_FOUND when the last component is missing,
  // ERROR_PATH_NOT_FOUND when a folder or the drive is, ERROR_ACCESS_DENIED
  // when the object is not a file that can be read, ...
  [[nodiscard]] virtual LONG OpenForReading(const char* lpFileName, FileHandle* phFile) = 0;
  // Reads up to `nNumberOfBytesToRead` bytes at the current position;
  // *lpNumberOfBytesRead is 0 at the end of the file and on failure.
  [[nodiscard]] virtual LONG ReadFile(FileHandle hFile, void* lpBuffer, DWORD nNumberOfBytesToRead,
                                      DWORD* lpNumberOfBytesRead) = 0;
  [[nodiscard]] virtual LONG CloseHandle(FileHandle hFile) = 0;
};

template <>
FileInput& Backend<FileInput>();

// One file opened for sequential text input, closed when this goes (through
// the facility that was installed when it was opened). Reads in fixed-size
// chunks: what it holds is one chunk and the line being read.
class TextInput {
 public:
  // Bytes asked of the facility per read.
  static constexpr DWORD kChunk = 4096;
  // The longest line, in bytes, that a string can take.
  static constexpr std::size_t kMaxLine = static_cast<std::size_t>(std::numeric_limits<int>::max());

  // Opens the file (a Windows path); throws the open's fault.
  explicit TextInput(const std::u16string& path) : api_(&Use<FileInput>()) {
    const std::string ansi = ToAnsi(path);
    FileHandle handle = 0;
    const LONG status = api_->OpenForReading(ansi.c_str(), &handle);
    if (status != ERROR_SUCCESS) throw Fault(OpenFaultNumber(status));
    if (handle == 0) throw Fault(kPathFileAccessError);
    handle_ = handle;
  }
  // Closes silently: a fault may already be on its way out. Close the file
  // explicitly to learn of a failing close.
  ~TextInput() {
    try {
      Close();
    } catch (...) {  // NOLINT(bugprone-empty-catch): dropped by design
    }
  }
  TextInput(const TextInput&) = delete;
  TextInput& operator=(const TextInput&) = delete;

  // The next line, without its end. A line ends at CR or at CR LF; a lone LF
  // is part of the line. Reading when nothing is left is fault 62; a failed
  // read is fault 57; a line too long for a string is fault 7.
  std::u16string LineInput() {
    std::string line;
    bool any = false;
    try {
      if (skip_lf_) {
        skip_lf_ = false;
        if (Fill() && buffer_[next_] == '\n') ++next_;
      }
      while (Fill()) {
        any = true;
        const char* begin = buffer_ + next_;
        const char* end = buffer_ + size_;
        const char* cr = begin;
        while (cr != end && *cr != '\r') ++cr;
        const auto taken = static_cast<std::size_t>(cr - begin);
        if (taken > kMaxLine - line.size()) throw Fault(kOutOfMemory);
        line.append(begin, taken);
        next_ += static_cast<DWORD>(taken);
        if (cr != end) {
          ++next_;
          // An LF right after the CR belongs to this line end; it is looked
          // for when the next line is read, so that a read never waits for
          // more than the line it returns.
          skip_lf_ = true;
          return FromAnsi(line);
        }
      }
      if (!any) throw Fault(kInputPastEndOfFile);
      return FromAnsi(line);
    } catch (const std::bad_alloc&) {
      throw Fault(kOutOfMemory);
    }
  }

  // Closes the file now; later reads are fault 52. A failed close is no
  // fault: the file is given up all the same, so its status is not looked at.
  void Close() {
    if (handle_ != 0) (void)api_->CloseHandle(std::exchange(handle_, 0));
  }

 private:
  // True when an unread byte is in the buffer, reading the next chunk when
  // the buffer is used up.
  bool Fill() {
    if (next_ < size_) return true;
    if (at_end_) return false;
    if (handle_ == 0) throw Fault(kBadFileNameOrNumber);
    DWORD got = 0;
    if (const LONG status = api_->ReadFile(handle_, buffer_, kChunk, &got); status != ERROR_SUCCESS) {
      throw Fault(ReadFaultNumber(status));
    }
    if (got > kChunk) throw Fault(kDeviceIOError);
    next_ = 0;
    size_ = got;
    if (got == 0) at_end_ = true;
    return got != 0;
  }

  FileInput* api_;
  FileHandle handle_ = 0;
  char buffer_[kChunk];
  DWORD next_ = 0;
  DWORD size_ = 0;
  bool at_end_ = false;
  bool skip_lf_ = false;
};

}  // namespace plat
