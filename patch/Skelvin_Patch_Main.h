// The patch run: sets the decoder's format entries "YV12" and "NMMC" to the
// DWORD 0, tells the user that the computer will restart, and asks for the
// restart. An error from a write ends the run at once (no notice, no
// restart request) and leaves Main uncaught.
#pragma once

#include <memory>

#include "platform/msgbox.h"

namespace skelvin {

inline constexpr std::int32_t kHkeyLocalMachine = static_cast<std::int32_t>(0x80000002U);
inline constexpr char16_t kFormatsKey[] = u"Software\\Mediamatics\\DVD Express\\ActiveMovie Decoder\\Formats";
inline constexpr char16_t kRestartText[] = u"To complete the installation, your computer will restart.";
inline constexpr char16_t kRestartTitle[] = u"Restart";

// The sequence over any accessor and profile types with the members it uses
// (tests run it over spies). The objects are created on first use and
// released when it returns: the profile first, then the accessor.
template <class Registry, class Profile>
void RunPatch() {
  std::unique_ptr<Registry> registry;
  std::unique_ptr<Profile> profile;
  const auto reg = [&registry]() -> Registry& {
    if (!registry) registry = std::make_unique<Registry>();
    return *registry;
  };
  const auto halden = [&profile]() -> Profile& {
    if (!profile) profile = std::make_unique<Profile>();
    return *profile;
  };

  reg().Default(u"?WHERE?");
  reg().ClassKey(kHkeyLocalMachine);
  reg().SectionKey(kFormatsKey);
  reg().ValueKey(u"YV12");
  reg().DWordValue(0);
  reg().ValueKey(u"NMMC");
  reg().DWordValue(0);
  // Selected, never written: the patch changes nothing under this name.
  reg().ValueKey(u"Driver");

  // A box with OK alone: its answer tells nothing.
  (void)plat::Use<plat::MsgBox>().MessageBoxW(0, kRestartText, kRestartTitle, plat::MB_OK | plat::MB_ICONASTERISK);

  halden().ExitWin(u"Reboot");
}

// The startup module's one procedure.
struct Skelvin_Patch_Main {
  static void Main();
};

}  // namespace skelvin
