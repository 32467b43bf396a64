// Sequential file input over a Wine prefix's drives.
#include "platform/posix/textfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/utf8.h"
#include "wineprefix/errors.h"
#include "wineprefix/prefix.h"

namespace plat::posix {
namespace fs = std::filesystem;

namespace {

// Upper case of the letters that a Windows-1252 name can hold; anything else
// is compared as it is.
char16_t FoldCase(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  switch (c) {
    case 0xFF:
      return 0x178;
    case 0x161:
      return 0x160;
    case 0x153:
      return 0x152;
    case 0x17E:
      return 0x17D;
    default:
      return c;
  }
}

bool SameNameIgnoringCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// Characters that no Windows file name holds.
bool IsValidName(const std::u16string& name) {
  for (const char16_t c : name) {
    if (c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || c == u'?' || c == u'*') {
      return false;
    }
  }
  return true;
}

bool IsDirectory(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// The entry of `dir` that `name` names: the name itself when it exists, else
// the first entry equal to it without regard to case. ERROR_SUCCESS with an
// empty result when there is none.
LONG FindInDirectory(const fs::path& dir, const std::u16string& name, fs::path* found) {
  const std::string exact = ToUtf8(name);
  struct stat st {};
  if (::stat((dir / exact).c_str(), &st) == 0) {
    *found = dir / exact;
    return ERROR_SUCCESS;
  }
  std::unique_ptr<DIR, DirCloser> stream(::opendir(dir.c_str()));
  if (!stream) return wineprefix::StatusFromErrno(errno, wineprefix::ErrnoUse::kListDirectory);
  while (const dirent* entry = ::readdir(stream.get())) {
    const std::string entry_name = entry->d_name;
    if (entry_name == "." || entry_name == "..") continue;
    if (SameNameIgnoringCase(FromUtf8(entry_name), name)) {
      *found = dir / entry_name;
      return ERROR_SUCCESS;
    }
  }
  found->clear();
  return ERROR_SUCCESS;
}

}  // namespace

LONG PrefixFileInput::Resolve(const char* lpFileName, fs::path* out) const {
  if (lpFileName == nullptr || out == nullptr) return ERROR_INVALID_PARAMETER;
  const std::u16string path = FromAnsi(lpFileName);
  // Only absolute paths on a drive: "X:\...".
  if (path.size() < 3 || path[1] != u':' || !IsSeparator(path[2])) return ERROR_BAD_PATHNAME;
  char16_t letter = path[0];
  if (letter >= u'A' && letter <= u'Z') letter = static_cast<char16_t>(letter + 0x20);
  if (letter < u'a' || letter > u'z') return ERROR_INVALID_DRIVE;

  // The components, with "." dropped and ".." applied, as Windows normalises
  // a full path before it looks at the disk.
  std::vector<std::u16string> parts;
  std::size_t start = 3;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    std::u16string part = path.substr(start, end - start);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      if (!IsValidName(part)) return ERROR_INVALID_NAME;
      parts.push_back(std::move(part));
    }
    start = end + 1;
  }

  const fs::path prefix = prefix_ ? *prefix_ : wineprefix::DefaultPrefix();
  if (prefix.empty()) return ERROR_PATH_NOT_FOUND;  // no prefix Wine would use
  fs::path current = prefix / "dosdevices" / (std::string(1, static_cast<char>(letter)) + ":");
  if (!IsDirectory(current)) return ERROR_PATH_NOT_FOUND;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    fs::path found;
    if (const LONG status = FindInDirectory(current, parts[i], &found); status != ERROR_SUCCESS) return status;
    if (found.empty()) return last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    if (!last && !IsDirectory(found)) return ERROR_PATH_NOT_FOUND;
    current = std::move(found);
  }
  *out = std::move(current);
  return ERROR_SUCCESS;
}

LONG PrefixFileInput::OpenForReading(const char* lpFileName, FileHandle* phFile) {
  if (phFile == nullptr) return ERROR_INVALID_PARAMETER;
  *phFile = 0;
  fs::path file;
  if (const LONG status = Resolve(lpFileName, &file); status != ERROR_SUCCESS) return status;
  // Non-blocking, so that a FIFO or device at the path cannot hold the open.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return wineprefix::StatusFromErrno(errno, wineprefix::ErrnoUse::kOpenFile);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return ERROR_ACCESS_DENIED;
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
