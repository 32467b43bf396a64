// Sequential file input over the system's own files (kernel32).
#include "platform/textfile.h"

#include "platform/types.h"
#include "platform/win32/win32.h"

namespace plat {
namespace {

::HANDLE ToNative(FileHandle file) { return reinterpret_cast<::HANDLE>(file); }

class Win32FileInput final : public FileInput {
 public:
  [[nodiscard]] LONG OpenForReading(const char* lpFileName, FileHandle* phFile) override {
    if (phFile == nullptr) return ERROR_INVALID_PARAMETER;
    *phFile = 0;
    const ::HANDLE file = ::CreateFileA(lpFileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return win32::LastStatus(ERROR_GEN_FAILURE);
    // Only files on a disk are text files here: not a console, pipe or device.
    if (::GetFileType(file) != FILE_TYPE_DISK) {
      ::CloseHandle(file);
      return ERROR_ACCESS_DENIED;
    }
    *phFile = reinterpret_cast<FileHandle>(file);
    return ERROR_SUCCESS;
  }

  [[nodiscard]] LONG ReadFile(FileHandle hFile, void* lpBuffer, DWORD nNumberOfBytesToRead,
                              DWORD* lpNumberOfBytesRead) override {
    if (lpNumberOfBytesRead == nullptr) return ERROR_INVALID_PARAMETER;
    *lpNumberOfBytesRead = 0;
    if (hFile == 0) return ERROR_INVALID_HANDLE;
    ::DWORD got = 0;
    if (::ReadFile(ToNative(hFile), lpBuffer, nNumberOfBytesToRead, &got, nullptr) == 0)
      return win32::LastStatus(ERROR_GEN_FAILURE);
    *lpNumberOfBytesRead = static_cast<DWORD>(got);
    return ERROR_SUCCESS;
  }

  [[nodiscard]] LONG CloseHandle(FileHandle hFile) override {
    if (hFile == 0) return ERROR_INVALID_HANDLE;
    return ::CloseHandle(ToNative(hFile)) != 0 ? ERROR_SUCCESS : win32::LastStatus(ERROR_GEN_FAILURE);
  }
};

}  // namespace

template <>
FileInput& Backend<FileInput>() {
  static Win32FileInput files;
  return files;
}

}  // namespace plat
