// The POSIX backend's facilities over a prefix of a test's own: the core's
// tests reach the backend only through here.
#pragma once

#include <filesystem>
#include <memory>

#include "platform/registry.h"
#include "platform/textfile.h"
#include "wineprefix/filesystem.h"

namespace testenv {

// The registry of `prefix`, whose saves go through `files` (which must
// outlive it).
std::unique_ptr<plat::Registry> PrefixRegistryOn(const std::filesystem::path& prefix,
                                                 wineprefix::FileSystem& files = wineprefix::PosixFileSystem());
// The files of `prefix`'s drives.
std::unique_ptr<plat::FileInput> PrefixFilesOn(const std::filesystem::path& prefix);

}  // namespace testenv
