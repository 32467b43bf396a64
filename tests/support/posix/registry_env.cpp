// RegistryEnv natively: each test gets a new temporary prefix.
#include <memory>

#include "platform/posix/registry.h"
#include "platform/text.h"
#include "tests/support/posix/temp_prefix.h"
#include "tests/support/registry_env.h"

namespace testenv {

struct RegistryEnv::Impl {
  TempPrefix prefix;
  plat::posix::PrefixRegistry registry{prefix.path()};
  plat::ScopedUse<plat::Registry> installed{registry};
};

RegistryEnv::RegistryEnv() : impl_(std::make_unique<Impl>()), root_(plat::HKEY_LOCAL_MACHINE), base_(u"Software\\SkelvinTest") {}

RegistryEnv::~RegistryEnv() = default;

plat::Registry& RegistryEnv::api() { return impl_->registry; }

}  // namespace testenv
