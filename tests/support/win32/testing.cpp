#include "tests/support/win32/testing.h"

#include "platform/win32/win32.h"

namespace plat::win32::testing {

std::string TempPath() {
  char temp[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathA(MAX_PATH, temp);
  return std::string(temp, length <= MAX_PATH ? length : 0);
}

bool MakeFolder(const std::string& path) { return ::CreateDirectoryA(path.c_str(), nullptr) != 0; }

bool RemoveFolder(const std::string& path) { return ::RemoveDirectoryA(path.c_str()) != 0; }

bool MakeFile(const std::string& path, DWORD attributes) {
  const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(file);
  return true;
}

bool RemoveFile(const std::string& path) {
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return ::DeleteFileA(path.c_str()) != 0;
}

DWORD ProcessId() { return ::GetCurrentProcessId(); }

}  // namespace plat::win32::testing
