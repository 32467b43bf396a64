#include "tests/support/scripted.h"

#include "platform/utf8.h"
#include "tests/support/registry_env.h"

namespace testenv {

int RecordingMsgBox::MessageBoxW(plat::HWND, const char16_t* text, const char16_t* caption, plat::UINT type) {
  calls.push_back({text != nullptr ? text : u"", caption != nullptr ? caption : u"", type});
  if (log_ != nullptr) {
    log_->push_back("MessageBox(" + plat::ToUtf8(calls.back().text) + "|" + plat::ToUtf8(calls.back().caption) + "|" +
                    std::to_string(type) + ")");
  }
  return plat::IDOK;
}

plat::BOOL RecordingShutdown::ExitWindowsEx(plat::UINT flags, plat::DWORD reserved) {
  calls.push_back({flags, reserved});
  if (log_ != nullptr) {
    log_->push_back("ExitWindowsEx(" + std::to_string(flags) + "," + std::to_string(static_cast<int>(reserved)) + ")");
  }
  return result_;
}

void ScriptedRegistry::FailSetValue(const std::string& name, plat::LONG status) {
  SetRule([name, status](const std::string& call, const std::string& value) -> std::optional<plat::LONG> {
    if (call == "RegSetValueExA" && value == name) return status;
    return std::nullopt;
  });
}

std::optional<plat::LONG> ScriptedRegistry::Apply(const std::string& call, const char* name) {
  const std::string text = name != nullptr ? name : "";
  if (log_ != nullptr && call != "RegCloseKey" && call != "RegQueryValueExA" && call != "RegEnumValueA" &&
      call != "RegEnumKeyA") {
    log_->push_back(call + "(" + text + ")");
  }
  return rule_ ? rule_(call, text) : std::nullopt;
}

plat::LONG ScriptedRegistry::RegOpenKeyExA(plat::HKEY key, const char* path, plat::DWORD options, plat::REGSAM sam,
                                           plat::HKEY* out) {
  if (auto status = Apply("RegOpenKeyExA", path)) return *status;
  return inner_.RegOpenKeyExA(key, path, options, sam, out);
}

plat::LONG ScriptedRegistry::RegCreateKeyExA(plat::HKEY key, const char* path, plat::DWORD reserved, char* cls,
                                             plat::DWORD options, plat::REGSAM sam, const plat::SECURITY_ATTRIBUTES* sa,
                                             plat::HKEY* out, plat::DWORD* disposition) {
  if (auto status = Apply("RegCreateKeyExA", path)) {
    *out = 0;
    return *status;
  }
  return inner_.RegCreateKeyExA(key, path, reserved, cls, options, sam, sa, out, disposition);
}

plat::LONG ScriptedRegistry::RegSetValueExA(plat::HKEY key, const char* name, plat::DWORD reserved, plat::DWORD type,
                                            const plat::BYTE* data, plat::DWORD size) {
  if (auto status = Apply("RegSetValueExA", name)) return *status;
  return inner_.RegSetValueExA(key, name, reserved, type, data, size);
}

plat::LONG ScriptedRegistry::RegQueryValueExA(plat::HKEY key, const char* name, plat::DWORD* reserved,
                                              plat::DWORD* type, plat::BYTE* data, plat::DWORD* size) {
  if (auto status = Apply("RegQueryValueExA", name)) return *status;
  return inner_.RegQueryValueExA(key, name, reserved, type, data, size);
}

plat::LONG ScriptedRegistry::RegEnumValueA(plat::HKEY key, plat::DWORD index, char* name, plat::DWORD* name_size,
                                           plat::DWORD* reserved, plat::DWORD* type, plat::BYTE* data,
                                           plat::DWORD* size) {
  if (auto status = Apply("RegEnumValueA", nullptr)) return *status;
  return inner_.RegEnumValueA(key, index, name, name_size, reserved, type, data, size);
}

plat::LONG ScriptedRegistry::RegEnumKeyA(plat::HKEY key, plat::DWORD index, char* name, plat::DWORD size) {
  if (auto status = Apply("RegEnumKeyA", nullptr)) return *status;
  return inner_.RegEnumKeyA(key, index, name, size);
}

plat::LONG ScriptedRegistry::RegDeleteKeyA(plat::HKEY key, const char* path) {
  if (auto status = Apply("RegDeleteKeyA", path)) return *status;
  return inner_.RegDeleteKeyA(key, path);
}

plat::LONG ScriptedRegistry::RegCloseKey(plat::HKEY key) {
  if (auto status = Apply("RegCloseKey", nullptr)) return *status;
  return inner_.RegCloseKey(key);
}

std::optional<RawValue> ReadRaw(plat::Registry& api, plat::HKEY root, const std::string& path,
                                const std::string& name) {
  plat::HKEY key = 0;
  if (api.RegOpenKeyExA(root, path.c_str(), 0, plat::KEY_QUERY_VALUE, &key) != plat::ERROR_SUCCESS) {
    return std::nullopt;
  }
  RawValue raw{0, std::vector<plat::BYTE>(1 << 16)};
  plat::DWORD size = static_cast<plat::DWORD>(raw.data.size());
  const plat::LONG status = api.RegQueryValueExA(key, name.c_str(), nullptr, &raw.type, raw.data.data(), &size);
  if (key != root) (void)api.RegCloseKey(key);  // a read-only look: the close changes nothing
  if (status != plat::ERROR_SUCCESS) return std::nullopt;
  raw.data.resize(size);
  return raw;
}

bool KeyPresent(plat::Registry& api, plat::HKEY root, const std::string& path) {
  plat::HKEY key = 0;
  if (api.RegOpenKeyExA(root, path.c_str(), 0, plat::KEY_QUERY_VALUE, &key) != plat::ERROR_SUCCESS) return false;
  if (key != root) (void)api.RegCloseKey(key);  // a read-only look: the close changes nothing
  return true;
}

namespace {

// Deletes parent\name with everything below it, working relative to open
// handles so that deep paths never exceed what the "A" functions take.
bool DeleteBelow(plat::Registry& api, plat::HKEY parent, const std::string& name) {
  plat::HKEY key = 0;
  if (api.RegOpenKeyExA(parent, name.c_str(), 0, plat::KEY_QUERY_VALUE | plat::KEY_ENUMERATE_SUB_KEYS, &key) !=
      plat::ERROR_SUCCESS) {
    return false;
  }
  char child[256];
  while (api.RegEnumKeyA(key, 0, child, sizeof child) == plat::ERROR_SUCCESS) {
    if (!DeleteBelow(api, key, child)) break;  // could not delete it: stop rather than loop
  }
  if (key != parent) (void)api.RegCloseKey(key);  // the delete's status is the answer
  return api.RegDeleteKeyA(parent, name.c_str()) == plat::ERROR_SUCCESS;
}

}  // namespace

void RegistryEnv::DeleteTree(plat::Registry& api, plat::HKEY root, const std::string& path) {
  DeleteBelow(api, root, path);
}

}  // namespace testenv
