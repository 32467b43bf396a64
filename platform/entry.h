// Process start, the program's identity, and the report of an error that
// nobody handled.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/app.h"

namespace plat {

// What a program says of itself: its title and version. The entry point
// installs them as App() (with the running executable's name) before
// anything else runs.
struct ProgramIdentity {
  std::u16string_view Title;
  std::int16_t Major = 0;
  std::int16_t Minor = 0;
  std::int16_t Revision = 0;
  std::string_view VersionText;  // the version as the program writes it: "1.00"
};

// Defined by the program: its start procedure and its identity.
void ProgramMain();
const ProgramIdentity& ProgramInfo();

// Defined by a program run from a command line (the native entry): its usage
// line for the executable named `exe_name`, and the text `--help` prints
// after it. Each ends with its line feed.
std::string ProgramUsage(std::string_view exe_name);
std::string_view ProgramHelp();

// App()'s record for a program of this identity: its title and version, and
// the running executable's name (ModuleBaseName()).
AppInfo AppInfoOf(const ProgramIdentity& identity);

// Runs `main` and returns the process exit status: 0 when it returns, 1 after
// the platform has reported an uncaught Error (number and description) or
// any other escaped exception.
int RunProgram(void (*main)());

}  // namespace plat
