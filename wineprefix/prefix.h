// Where the prefix Wine would use is, and what architecture it has.
#pragma once

#include <filesystem>

#include "wineprefix/errors.h"
#include "winereg/model.h"

namespace wineprefix {

using winereg::Arch;
using winereg::Hive;

// The prefix Wine uses in this environment: $WINEPREFIX (trailing slashes
// dropped), which must be an absolute path (set but empty counts as
// relative), else <home>/.wine, the home from $HOME or, when HOME is unset,
// from the user's passwd entry. ERROR_BAD_PATHNAME where Wine would refuse.
[[nodiscard]] Status FindPrefix(std::filesystem::path* out);
// FindPrefix's answer without a diagnostic; an empty path where it fails.
std::filesystem::path DefaultPrefix();

// The architecture Wine gives the prefix before its system.reg exists: the
// `#arch` of user.reg or userdef.reg, else win64 when drive_c/windows/syswow64
// exists, win32 when drive_c/windows/system32 does, else (a new prefix)
// WINEARCH, win32 when unset. When system.reg exists its own `#arch` decides
// and this gives the WINEARCH answer. ERROR_BAD_ENVIRONMENT for a WINEARCH
// other than win32 or win64, or one that contradicts what the prefix holds,
// or user.reg and userdef.reg that disagree.
[[nodiscard]] Status PrefixArch(const std::filesystem::path& prefix, Arch* out);
// The architecture of a prefix Wine has set up: the `#arch` of its
// system.reg (none: win32), else PrefixArch's answer.
[[nodiscard]] Status HeldArch(const std::filesystem::path& prefix, Arch* out);
// ERROR_BAD_ENVIRONMENT when WINEARCH names another architecture than that
// of the loaded system.reg (no #arch: win32), as Wine refuses such a run.
[[nodiscard]] Status CheckWineArch(const std::filesystem::path& prefix, Arch system_arch);

// Creates the prefix directory (0777 less the umask) when it is missing;
// `*created` says whether this call made it.
[[nodiscard]] Status EnsurePrefixDirectory(const std::filesystem::path& prefix, bool* created);

}  // namespace wineprefix
