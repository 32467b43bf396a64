// File lookup (FindFirstFileA) and program start (CreateProcessA).
#include <string>
#include <vector>

#include "platform/shell.h"
#include "platform/types.h"
#include "platform/win32/win32.h"

namespace plat {
namespace {

// Attributes that a "normal" lookup leaves out.
constexpr ::DWORD kExcluded = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

class Win32Shell final : public Shell {
 public:
  [[nodiscard]] LONG FindFile(const char* lpFileName, DWORD dwAttributes, std::string* lpFound) override {
    if (lpFound == nullptr || lpFileName == nullptr) return ERROR_INVALID_PARAMETER;
    lpFound->clear();
    // Attributes asked for are accepted besides the normal ones.
    const ::DWORD excluded = kExcluded & ~static_cast<::DWORD>(dwAttributes);
    ::WIN32_FIND_DATAA data{};
    const ::HANDLE find = ::FindFirstFileA(lpFileName, &data);
    if (find == INVALID_HANDLE_VALUE) {
      const LONG error = win32::LastStatus(ERROR_FILE_NOT_FOUND);
      return error == ERROR_PATH_NOT_FOUND ? error : ERROR_FILE_NOT_FOUND;
    }
    bool found = false;
    do {
      if ((data.dwFileAttributes & excluded) == 0) {
        *lpFound = data.cFileName;
        found = true;
      }
    } while (!found && ::FindNextFileA(find, &data) != 0);
    ::FindClose(find);
    return found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }

  [[nodiscard]] LONG StartProcess(const char* lpCommandLine, UINT nShowCmd, DWORD* lpProcessId) override {
    if (lpProcessId != nullptr) *lpProcessId = 0;
    if (lpCommandLine == nullptr) return ERROR_INVALID_PARAMETER;
    // CreateProcessA may write into the command line: a copy of its own.
    std::vector<char> command(lpCommandLine, lpCommandLine + std::char_traits<char>::length(lpCommandLine) + 1);
    ::STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<::WORD>(nShowCmd);
    ::PROCESS_INFORMATION process{};
    if (::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) ==
        0) {
      return win32::LastStatus(ERROR_FILE_NOT_FOUND);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    if (lpProcessId != nullptr) *lpProcessId = static_cast<DWORD>(process.dwProcessId);
    return ERROR_SUCCESS;
  }
};

}  // namespace

template <>
Shell& Backend<Shell>() {
  static Win32Shell shell;
  return shell;
}

}  // namespace plat
