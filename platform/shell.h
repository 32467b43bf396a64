// File-existence lookup and the start of another program.
//
// The facility has two Win32-shaped calls, in the ANSI code page:
//   FindFile     the name (last component, as stored) of a file that a path
//                names, like a FindFirstFileA whose match is a normal file;
//   StartProcess a command line started as a program of its own, like
//                CreateProcessA with a show-window state, not waited for.
// Dir and Shell, the part the core uses, add the wide-string conversions and
// turn a failed start into a run-time fault.
#pragma once

#include <string>

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/facility.h"
#include "platform/types.h"

namespace plat {

// File attributes a lookup accepts: 0 is "normal": files that are neither
// folders nor hidden or system files (read-only and archive files count).
inline constexpr DWORD ATTR_NORMAL = 0;
inline constexpr DWORD ATTR_READONLY = 0x1;
inline constexpr DWORD ATTR_HIDDEN = 0x2;

// Show-window states of a started program.
inline constexpr UINT SW_HIDE = 0;
inline constexpr UINT SW_SHOWNORMAL = 1;  // a normal window that takes the focus

class Shell {
 public:
  virtual ~Shell() = default;
  // ERROR_SUCCESS and the file's name in *lpFound when `lpFileName` names a
  // file of the accepted attributes; ERROR_FILE_NOT_FOUND (or
  // ERROR_PATH_NOT_FOUND for a missing folder) and an empty *lpFound otherwise.
  [[nodiscard]] virtual LONG FindFile(const char* lpFileName, DWORD dwAttributes, std::string* lpFound) = 0;
  // Starts the program of `lpCommandLine` (its first word, or the quoted
  // part, naming the program; the rest are its arguments) with the given
  // show-window state, and returns without waiting for it. ERROR_SUCCESS and
  // the new process's id, or a Win32 status and an id of 0 when nothing was
  // started.
  [[nodiscard]] virtual LONG StartProcess(const char* lpCommandLine, UINT nShowCmd, DWORD* lpProcessId) = 0;
};

template <>
Shell& Backend<Shell>();

// The name of the file that `path` names when it is a file of `attributes`,
// the empty string otherwise (never an error).
inline std::u16string Dir(const std::u16string& path, DWORD attributes = ATTR_NORMAL) {
  std::string found;
  const std::string ansi = ToAnsi(path);
  if (Use<Shell>().FindFile(ansi.c_str(), attributes, &found) != ERROR_SUCCESS) return {};
  return FromAnsi(found);
}

// Starts `command` and returns the new process's id. The empty command is
// fault 5; a program that is not found, fault 53; any other failure to
// start, fault 5.
inline DWORD StartProgram(const std::u16string& command, UINT windowStyle) {
  if (command.empty()) throw Fault(kInvalidArgument);
  const std::string ansi = ToAnsi(command);
  DWORD id = 0;
  const LONG status = Use<Shell>().StartProcess(ansi.c_str(), windowStyle, &id);
  if (status != ERROR_SUCCESS) throw Fault(StartFaultNumber(status));
  return id;
}

}  // namespace plat
