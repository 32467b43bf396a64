// Process entry of the native programs.
//
// The program takes no arguments. `--help` alone prints the usage and
// `--version` alone the title and version, both on standard output with
// status 0; any other argument is refused with the usage on standard error
// and status 2. Either way the program does nothing else. The usage and the
// help text are the program's own (ProgramUsage, ProgramHelp).
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/app.h"
#include "platform/entry.h"
#include "platform/facility.h"
#include "platform/utf8.h"

namespace {

constexpr int kUsageStatus = 2;

void PrintUsage(std::FILE* to) { std::fputs(plat::ProgramUsage(plat::ToUtf8(plat::App().EXEName)).c_str(), to); }

}  // namespace

int main(int argc, char** argv) {
  plat::FixedAppInfo app(plat::AppInfoOf(plat::ProgramInfo()));
  const plat::ScopedUse<plat::AppMetadata> use_app(app);
  if (argc == 2 && std::string_view(argv[1]) == "--help") {
    PrintUsage(stdout);
    const std::string_view help = plat::ProgramHelp();
    std::fwrite(help.data(), 1, help.size(), stdout);
    return 0;
  }
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    const std::string_view version = plat::ProgramInfo().VersionText;
    std::printf("%s %.*s\n", plat::ToUtf8(plat::App().Title).c_str(), static_cast<int>(version.size()), version.data());
    return 0;
  }
  if (argc > 1) {
    // The first argument that has no place: a second one after --help or
    // --version, else the first.
    const std::string_view first = argv[1];
    const char* unexpected = argc > 2 && (first == "--help" || first == "--version") ? argv[2] : argv[1];
    std::fprintf(stderr, "%s: unexpected argument '%s'\n", plat::ToUtf8(plat::App().EXEName).c_str(), unexpected);
    PrintUsage(stderr);
    return kUsageStatus;
  }
  return plat::RunProgram(&plat::ProgramMain);
}
