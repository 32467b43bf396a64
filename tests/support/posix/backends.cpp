#include "tests/support/posix/backends.h"

#include "platform/posix/registry.h"
#include "platform/posix/textfile.h"

namespace testenv {

std::unique_ptr<plat::Registry> PrefixRegistryOn(const std::filesystem::path& prefix, wineprefix::FileSystem& files) {
  return std::make_unique<plat::posix::PrefixRegistry>(prefix, files);
}

std::unique_ptr<plat::FileInput> PrefixFilesOn(const std::filesystem::path& prefix) {
  return std::make_unique<plat::posix::PrefixFileInput>(prefix);
}

}  // namespace testenv
