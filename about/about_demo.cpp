// Opens the About dialog (see CMakeLists.txt for the arguments). Prints one
// line per closing: "closed <n>" once the n-th opening has been unloaded.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "about/frmAbout.h"
#include "platform/app.h"
#include "platform/dialog.h"
#include "platform/entry.h"
#include "platform/error.h"
#include "platform/utf8.h"

namespace {

// The identity the dialog shows: the product's title and the project's
// version (from the build), as the program shows them.
constexpr plat::ProgramIdentity kDemoIdentity{u"Skelvin Patch", SKELVIN_DEMO_VERSION_MAJOR, SKELVIN_DEMO_VERSION_MINOR,
                                              SKELVIN_DEMO_VERSION_PATCH, SKELVIN_DEMO_VERSION_TEXT};

}  // namespace

int main(int argc, char** argv) {
  plat::FixedAppInfo app(plat::AppInfoOf(kDemoIdentity));
  const plat::ScopedUse<plat::AppMetadata> use_app(app);
  int times = 1;
  bool modeless = false;
  bool sysinfo = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--times") == 0 && i + 1 < argc) {
      times = static_cast<int>(std::strtol(argv[++i], nullptr, 10));
    } else if (std::strcmp(argv[i], "--modeless") == 0) {
      modeless = true;
    } else if (std::strcmp(argv[i], "--sysinfo") == 0) {
      sysinfo = true;
    } else {
      std::fprintf(stderr, "usage: about_demo [--times N | --modeless | --sysinfo]\n");
      return 2;
    }
  }
  try {
    skelvin::frmAbout form;
    if (sysinfo) {
      form.StartSysInfo();
      std::printf("sysinfo done\n");
      return 0;
    }
    for (int n = 1; n <= times; ++n) {
      if (modeless) {
        form.Show(plat::ShowMode::Modeless);
        plat::Use<plat::DialogToolkit>().RunEvents();
      } else {
        form.Show(plat::ShowMode::Modal);
      }
      std::printf("closed %d%s\n", n, form.Loaded() ? " (still loaded)" : "");
      std::fflush(stdout);
    }
  } catch (const plat::Error& error) {
    std::fprintf(stderr, "about_demo: error %d: %s\n", static_cast<int>(error.Number()),
                 plat::ToUtf8(error.Description()).c_str());
    return 1;
  }
  return 0;
}
