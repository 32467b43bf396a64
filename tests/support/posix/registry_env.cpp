// RegistryEnv natively: each test gets a new temporary prefix.
#include <cstdio>
#include <memory>

#include "platform/codepage.h"

#include "platform/posix/registry.h"
#include "platform/utf8.h"
#include "tests/support/posix/temp_prefix.h"
#include "tests/support/registry_env.h"
#include "winereg/reader.h"
#include "winereg/writer.h"

namespace testenv {

struct RegistryEnv::Impl {
  TempPrefix prefix;
  plat::posix::PrefixRegistry registry{prefix.path()};
  plat::ScopedUse<plat::Registry> installed{registry};
};

RegistryEnv::RegistryEnv()
    : impl_(std::make_unique<Impl>()), root_(plat::HKEY_LOCAL_MACHINE), base_(u"Software\\SkelvinTest") {}

RegistryEnv::~RegistryEnv() = default;

plat::Registry& RegistryEnv::api() { return impl_->registry; }

void RegistryEnv::FillValues(const std::string& path, int count) {
  // Written straight into the prefix's file: one save instead of `count`.
  plat::HKEY key = 0;
  (void)impl_->registry.RegCreateKeyExA(root_, path.c_str(), 0, nullptr, 0, 0x3F, nullptr, &key, nullptr);
  (void)impl_->registry.RegCloseKey(key);
  winereg::ParseError error;
  std::optional<winereg::Hive> hive =
      winereg::Parse(winereg::ParseInput::FromString(impl_->prefix.Read("system.reg")), &error);
  winereg::Key* target = &hive->root;
  std::size_t start = 0;
  const std::u16string wide = plat::FromAnsi(path);
  while (start <= wide.size()) {
    std::size_t end = wide.find(u'\\', start);
    if (end == std::u16string::npos) end = wide.size();
    target = target->FindSubkey(std::u16string_view(wide).substr(start, end - start));
    start = end + 1;
  }
  for (int i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "V%05d", i);
    const std::u16string text = plat::FromAnsi(name);
    std::vector<plat::BYTE> data((text.size() + 1) * 2, 0);
    for (std::size_t k = 0; k < text.size(); ++k) data[2 * k] = static_cast<plat::BYTE>(text[k]);
    target->SetValue(text, plat::REG_SZ, std::move(data));
  }
  impl_->prefix.Write("system.reg", winereg::Save(*hive));
}

}  // namespace testenv
