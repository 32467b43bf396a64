#include "patch/Skelvin_Patch_Main.h"

#include "profile/cHalden.h"
#include "registry/cRegistry.h"

namespace skelvin {

void Skelvin_Patch_Main::Main() { RunPatch<cRegistry, cHalden>(); }

}  // namespace skelvin
