// Process entry of the native programs.
#include "platform/entry.h"

int main() { return plat::RunProgram(&plat::ProgramMain); }
