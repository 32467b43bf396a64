// The program's start: the process runs Main once.
#include "patch/Skelvin_Patch_Main.h"
#include "platform/entry.h"

void plat::ProgramMain() { skelvin::Skelvin_Patch_Main::Main(); }
