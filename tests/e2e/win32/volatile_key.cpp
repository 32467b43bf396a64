// e2e helper: makes HKEY_LOCAL_MACHINE\<path> a volatile key in the running
// wineserver, so that creating any non-volatile key below it fails (1021).
// Exit status 0 when the key is volatile and refuses a non-volatile child.
#include <cstdio>
#include <string>

#include "platform/registry.h"

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "Software\\Mediamatics";
  plat::Registry& api = plat::Backend<plat::Registry>();
  plat::HKEY key = 0;
  plat::DWORD disposition = 0;
  plat::LONG status = api.RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, plat::REG_OPTION_VOLATILE,
                                          plat::KEY_ALL_ACCESS, nullptr, &key, &disposition);
  if (status != plat::ERROR_SUCCESS || disposition != plat::REG_CREATED_NEW_KEY) {
    std::fprintf(stderr, "volatile_key: creating %s gave %ld (disposition %lu)\n", path.c_str(),
                 static_cast<long>(status), static_cast<unsigned long>(disposition));
    return 1;
  }
  api.RegCloseKey(key);
  const std::string child = path + "\\SkelvinProbe";
  status = api.RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, child.c_str(), 0, nullptr, plat::REG_OPTION_NON_VOLATILE,
                               plat::KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status != plat::ERROR_CHILD_MUST_BE_VOLATILE) {
    std::fprintf(stderr, "volatile_key: a non-volatile child gave %ld, expected 1021\n", static_cast<long>(status));
    if (status == plat::ERROR_SUCCESS) {
      api.RegCloseKey(key);
      api.RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE, child.c_str());
    }
    return 1;
  }
  std::printf("volatile_key: HKLM\\%s is volatile\n", path.c_str());
  return 0;
}
