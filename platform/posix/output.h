// Standard output of the native programs. Every write to it goes through
// here, so that a run knows at its end whether what it said reached anyone.
#pragma once

#include <string_view>

namespace plat::posix {

// Puts /dev/null in place of a standard stream that is closed, so that no file
// the program opens takes its number (and output meant for the terminal never
// lands in a registry file); a closed standard output still counts as failing.
void GuardStandardStreams();

// Writes `text` to standard output and flushes it. The first failure is kept.
void WriteOutput(std::string_view text);

// Flushes standard output; 0 when everything written reached it, else the
// errno of the first failure (EBADF when it was closed).
[[nodiscard]] int OutputError();

}  // namespace plat::posix
