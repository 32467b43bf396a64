// RegistryEnv over the real registry (Windows, or Wine's): a unique key under
// HKEY_CURRENT_USER, removed with everything below it when the test ends.
#include <process.h>

#include <string>
#include <vector>

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

plat::Registry& RegistryEnv::api() { return plat::Backend<plat::Registry>(); }

void RegistryEnv::DeleteTree(plat::Registry& api, plat::HKEY root, const std::string& path) {
  plat::HKEY key = 0;
  if (api.RegOpenKeyExA(root, path.c_str(), 0, plat::KEY_ENUMERATE_SUB_KEYS | plat::KEY_QUERY_VALUE, &key) !=
      plat::ERROR_SUCCESS) {
    return;
  }
  std::vector<std::string> children;
  for (plat::DWORD index = 0;; ++index) {
    char name[512];
    if (api.RegEnumKeyA(key, index, name, sizeof name) != plat::ERROR_SUCCESS) break;
    children.emplace_back(name);
  }
  api.RegCloseKey(key);
  for (const std::string& child : children) DeleteTree(api, root, path + "\\" + child);
  api.RegDeleteKeyA(root, path.c_str());
}

}  // namespace testenv
