// The process entry of a Windows GUI program: runs the program's start
// procedure, its identity installed as App(), and nothing else (no window
// exists before it).
#include <cstdlib>
#include <exception>

#include "platform/app.h"
#include "platform/entry.h"
#include "platform/facility.h"
#include "platform/win32/win32.h"

int WINAPI WinMain(::HINSTANCE /*instance*/, ::HINSTANCE /*previous*/, ::LPSTR /*command_line*/, int /*show*/) {
  plat::FixedAppInfo app(plat::AppInfoOf(plat::ProgramInfo()));
  const plat::ScopedUse<plat::AppMetadata> use_app(app);
  return plat::RunProgram(&plat::ProgramMain);
}

// The runtime's default terminate handler prints the active exception's
// demangled type to standard error, which a GUI program does not have; it
// drags the demangler and a printf implementation (a third of the program's
// size) into the executable. RunProgram catches every exception the program
// throws, so termination can only come from a broken invariant: end quietly.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
