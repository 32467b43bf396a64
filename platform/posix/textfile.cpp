// Sequential file input over a Wine prefix's drives.
#include "platform/posix/textfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/codepage.h"
#include "platform/posix/deliver.h"
#include "wineprefix/drive.h"
#include "wineprefix/errors.h"
#include "wineprefix/prefix.h"

namespace plat::posix {
namespace fs = std::filesystem;

LONG PrefixFileInput::Resolve(const char* lpFileName, fs::path* out) const {
  if (lpFileName == nullptr || out == nullptr) return ERROR_INVALID_PARAMETER;
  return Deliver(
      wineprefix::ResolveDrivePath(prefix_ ? *prefix_ : wineprefix::DefaultPrefix(), FromAnsi(lpFileName), out));
}

LONG PrefixFileInput::OpenForReading(const char* lpFileName, FileHandle* phFile) {
  if (phFile == nullptr) return ERROR_INVALID_PARAMETER;
  *phFile = 0;
  fs::path file;
  if (const LONG status = Resolve(lpFileName, &file); status != ERROR_SUCCESS) return status;
  // Non-blocking, so that a FIFO or device at the path cannot hold the open.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    return Deliver(
        wineprefix::ErrnoFailure(errno, wineprefix::ErrnoUse::kOpenFile, file.string() + ": cannot open the file"));
  }
  struct stat st = {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Deliver(vocab::Failure(ERROR_ACCESS_DENIED, file.string() + ": not a regular file"));
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  *phFile = static_cast<FileHandle>(fd) + 1;
  return ERROR_SUCCESS;
}

LONG PrefixFileInput::ReadFile(FileHandle hFile, void* lpBuffer, DWORD nNumberOfBytesToRead,
                               DWORD* lpNumberOfBytesRead) {
  if (lpNumberOfBytesRead == nullptr) return ERROR_INVALID_PARAMETER;
  *lpNumberOfBytesRead = 0;
  if (hFile == 0) return ERROR_INVALID_HANDLE;
  if (lpBuffer == nullptr && nNumberOfBytesToRead != 0) return ERROR_NOACCESS;
  const int fd = static_cast<int>(hFile - 1);
  for (;;) {
    const ssize_t n = ::read(fd, lpBuffer, nNumberOfBytesToRead);
    if (n >= 0) {
      *lpNumberOfBytesRead = static_cast<DWORD>(n);
      return ERROR_SUCCESS;
    }
    if (errno == EINTR) continue;
    return errno == EBADF ? ERROR_INVALID_HANDLE : ERROR_READ_FAULT;
  }
}

LONG PrefixFileInput::CloseHandle(FileHandle hFile) {
  if (hFile == 0) return ERROR_INVALID_HANDLE;
  return ::close(static_cast<int>(hFile - 1)) == 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace plat::posix

namespace plat {

template <>
FileInput& Backend<FileInput>() {
  static posix::PrefixFileInput files;
  return files;
}

}  // namespace plat
