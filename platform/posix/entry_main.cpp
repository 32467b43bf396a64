// Process entry of the native programs.
//
// The program takes no arguments. `--help` alone prints the usage and
// `--version` alone the title and version, both on standard output with
// status 0; any other argument is refused with the usage on standard error
// and status 2. Either way the program does nothing else. The usage and the
// help text are the program's own (ProgramUsage, ProgramHelp).
//
// Whatever the program wrote to standard output must have reached it: when a
// write failed (a closed output, a full disk) the program says so on standard
// error and exits with kOutputStatus, unless it already fails otherwise.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/app.h"
#include "platform/entry.h"
#include "platform/facility.h"
#include "platform/posix/output.h"
#include "platform/utf8.h"

namespace {

constexpr int kUsageStatus = 2;
constexpr int kOutputStatus = 3;

std::string ExeName() { return plat::ToUtf8(plat::App().EXEName); }

int Finish(int status) {
  const int error = plat::posix::OutputError();
  if (error == 0) return status;
  std::fprintf(stderr, "%s: cannot write to standard output: %s\n", ExeName().c_str(), std::strerror(error));
  return status == 0 ? kOutputStatus : status;
}

}  // namespace

int main(int argc, char** argv) {
  plat::posix::GuardStandardStreams();
  plat::FixedAppInfo app(plat::AppInfoOf(plat::ProgramInfo()));
  const plat::ScopedUse<plat::AppMetadata> use_app(app);
  if (argc == 2 && std::string_view(argv[1]) == "--help") {
    plat::posix::WriteOutput(plat::ProgramUsage(ExeName()));
    plat::posix::WriteOutput(plat::ProgramHelp());
    return Finish(0);
  }
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    plat::posix::WriteOutput(plat::ToUtf8(plat::App().Title) + " " + std::string(plat::ProgramInfo().VersionText) +
                             "\n");
    return Finish(0);
  }
  if (argc > 1) {
    // The first argument that has no place: a second one after --help or
    // --version, else the first.
    const std::string_view first = argv[1];
    const char* unexpected = argc > 2 && (first == "--help" || first == "--version") ? argv[2] : argv[1];
    std::fprintf(stderr, "%s: unexpected argument '%s'\n", ExeName().c_str(), unexpected);
    std::fputs(plat::ProgramUsage(ExeName()).c_str(), stderr);
    return kUsageStatus;
  }
  return Finish(plat::RunProgram(&plat::ProgramMain));
}
