// RegistryEnv over the real registry (Windows, or Wine's): a unique key under
// HKEY_CURRENT_USER, removed with everything below it when the test ends.
#include <process.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/facility.h"
#include "platform/registry.h"
#include "tests/support/registry_env.h"

namespace testenv {

namespace {

constexpr char kTestsKey[] = "Software\\SkelvinPatchTests";

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

}  // namespace

struct RegistryEnv::Impl {};

RegistryEnv::RegistryEnv() : impl_(std::make_unique<Impl>()), root_(plat::HKEY_CURRENT_USER) {
  static unsigned counter = 0;
  base_ = Ascii(std::string(kTestsKey) + "\\" + std::to_string(_getpid()) + "-" + std::to_string(counter++));
  // A key left behind by an earlier process with the same id goes first.
  DeleteTree(api(), root_, plat::ToAnsi(base_));
}

RegistryEnv::~RegistryEnv() {
  DeleteTree(api(), root_, plat::ToAnsi(base_));
  // The common parent goes when this was the last test key under it.
  api().RegDeleteKeyA(root_, kTestsKey);
}

void RegistryEnv::FillValues(const std::string& path, int count) {
  plat::Registry& registry = api();
  plat::HKEY key = 0;
  if (registry.RegCreateKeyExA(root_, path.c_str(), 0, nullptr, plat::REG_OPTION_NON_VOLATILE, plat::KEY_SET_VALUE,
                               nullptr, &key, nullptr) != plat::ERROR_SUCCESS) {
    return;
  }
  for (int i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "V%05d", i);
    const auto size = static_cast<plat::DWORD>(std::strlen(name) + 1);
    registry.RegSetValueExA(key, name, 0, plat::REG_SZ, reinterpret_cast<const plat::BYTE*>(name), size);
  }
  registry.RegCloseKey(key);
}

// The backend is what plat::Use gives when nothing else is installed.
plat::Registry& RegistryEnv::api() { return plat::Backend<plat::Registry>(); }

}  // namespace testenv
