// Process start and the report of an error that nobody handled.
#pragma once

namespace plat {

// Defined by the program: its start procedure.
void ProgramMain();

// Runs `main` and returns the process exit status: 0 when it returns, 1 after
// the platform has reported an uncaught Error (number and description) or
// any other escaped exception.
int RunProgram(void (*main)());

}  // namespace plat
