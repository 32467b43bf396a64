// The registry facility over the prefix's store: handles, the "A" calls'
// arguments, strings and buffers.
#include "platform/posix/registry.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/app.h"
#include "platform/codepage.h"
#include "platform/diagnostics.h"
#include "platform/posix/deliver.h"
#include "platform/utf8.h"
#include "wineprefix/prefix.h"

namespace plat::posix {

using wineprefix::KeyRef;
using wineprefix::OpenMode;
using wineprefix::Root;
using winereg::Value;

namespace {

const KeyRef kMachine{Root::kMachine, {}};
const KeyRef kUser{Root::kUser, {}};

std::u16string Widen(const char* ansi) { return ansi != nullptr ? FromAnsi(ansi) : std::u16string(); }

// A value's data as the "A" functions hand it out: strings in the ANSI code
// page (one byte per UTF-16 unit), anything else as stored.
std::vector<BYTE> AnsiData(Value& value) {
  if (!IsStringType(value.type)) return std::move(value.data);
  const std::string ansi = ToAnsi(winereg::Utf16Text(value.data));
  return std::vector<BYTE>(ansi.begin(), ansi.end());
}

// Copies data as RegQueryValueExA/RegEnumValueA do: ERROR_MORE_DATA when it
// does not fit, and a NUL after unterminated text when there is room.
LONG CopyData(DWORD type, const std::vector<BYTE>& data, BYTE* out, DWORD room) {
  const bool text = IsStringType(type);
  if (out == nullptr || (text && data.empty())) return ERROR_SUCCESS;
  if (data.size() > room) return ERROR_MORE_DATA;
  if (!data.empty()) std::memcpy(out, data.data(), data.size());
  if (text && data.size() < room && data.back() != 0) out[data.size()] = 0;
  return ERROR_SUCCESS;
}

}  // namespace

PrefixRegistry::PrefixRegistry(std::filesystem::path prefix, wineprefix::FileSystem& files)
    : store_(std::move(prefix), files) {}

// A failing save was told through Diagnostics; a destructor has no one to return it to.
PrefixRegistry::~PrefixRegistry() { (void)Flush(); }

// The one place a store's answer becomes the call's status: a failure's
// message is told once, and so is a prefix made by the call, as Wine tells it.
LONG PrefixRegistry::Deliver(const wineprefix::Status& status) {
  if (store_.TakeCreatedPrefix()) {
    Use<Diagnostics>().Diagnose(ToUtf8(App().EXEName) + ": created the configuration directory '" +
                                store_.prefix().string() + "'");
  }
  return plat::posix::Deliver(status);
}

LONG PrefixRegistry::Flush() { return Deliver(store_.Flush()); }

const KeyRef* PrefixRegistry::Find(HKEY hKey) const {
  if (hKey == HKEY_LOCAL_MACHINE) return &kMachine;
  if (hKey == HKEY_CURRENT_USER) return &kUser;
  const auto it = handles_.find(hKey);
  return it != handles_.end() ? &it->second : nullptr;
}

LONG PrefixRegistry::Open(HKEY hKey, const char* lpSubKey, const OpenMode& mode, HKEY* phkResult,
                          DWORD* lpdwDisposition) {
  KeyRef reached;
  bool created = false;
  if (const LONG status = Deliver(store_.Open(Find(hKey), Widen(lpSubKey), mode, &reached, &created));
      status != ERROR_SUCCESS) {
    return status;
  }
  while (handles_.count(next_handle_) != 0 || next_handle_ == 0 || (next_handle_ & 0x80000000U) != 0) {
    next_handle_ = (next_handle_ + 4) & 0x7FFFFFFCU;
  }
  *phkResult = next_handle_;
  next_handle_ += 4;
  handles_.emplace(*phkResult, std::move(reached));
  if (lpdwDisposition != nullptr) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG PrefixRegistry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                                   HKEY* phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  if ((lpSubKey == nullptr || *lpSubKey == '\0') && (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER)) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  if (Find(hKey) == nullptr) return ERROR_INVALID_HANDLE;
  OpenMode mode;
  mode.view64 = (samDesired & KEY_WOW64_64KEY) != 0;
  const LONG status = Open(hKey, lpSubKey, mode, phkResult, nullptr);
  if (status != ERROR_SUCCESS) *phkResult = 0;
  return status;
}

LONG PrefixRegistry::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, char* lpClass, DWORD dwOptions,
                                     REGSAM samDesired, const SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/,
                                     HKEY* phkResult, DWORD* lpdwDisposition) {
  if (Reserved != 0 || phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = 0;
  if (Find(hKey) == nullptr) return ERROR_INVALID_HANDLE;
  OpenMode mode;
  mode.create = true;
  mode.view64 = (samDesired & KEY_WOW64_64KEY) != 0;
  mode.make_volatile = (dwOptions & REG_OPTION_VOLATILE) != 0;
  mode.class_name = Widen(lpClass);
  return Open(hKey, lpSubKey, mode, phkResult, lpdwDisposition);
}

LONG PrefixRegistry::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD /*Reserved*/, DWORD dwType,
                                    const BYTE* lpData, DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_NOACCESS;
  // As Windows does: a string counted without its terminating NUL, while the
  // byte after the count is one, is stored with it (that byte is read).
  if (IsStringType(dwType) && cbData != 0 && lpData[cbData - 1] != 0 && lpData[cbData] == 0) ++cbData;
  std::vector<BYTE> data;
  if (IsStringType(dwType)) {
    // Stored as UTF-16: each byte of the ANSI text becomes one unit.
    if (cbData != 0)
      data = winereg::Utf16Data(FromAnsi(std::string_view(reinterpret_cast<const char*>(lpData), cbData)));
  } else if (cbData != 0) {
    data.assign(lpData, lpData + cbData);
  }
  return Deliver(store_.SetValue(Find(hKey), Widen(lpValueName), dwType, std::move(data)));
}

LONG PrefixRegistry::RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                                      BYTE* lpData, DWORD* lpcbData) {
  if ((lpData != nullptr && lpcbData == nullptr) || lpReserved != nullptr) return ERROR_INVALID_PARAMETER;
  const KeyRef* key = Find(hKey);
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  const DWORD room = lpcbData != nullptr ? *lpcbData : 0;
  if (lpData == nullptr && lpcbData != nullptr) *lpcbData = 0;
  if (lpType != nullptr) *lpType = REG_NONE;
  Value value;
  if (const LONG status = Deliver(store_.QueryValue(key, Widen(lpValueName), &value)); status != ERROR_SUCCESS) {
    return status;
  }
  const std::vector<BYTE> data = AnsiData(value);
  const LONG status = CopyData(value.type, data, lpData, room);
  if (lpType != nullptr) *lpType = value.type;
  if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(data.size());
  return status;
}

LONG PrefixRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                   DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  if ((lpData != nullptr && lpcbData == nullptr) || lpReserved != nullptr || lpValueName == nullptr ||
      lpcchValueName == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  Value value;
  if (const LONG status = Deliver(store_.EnumValue(Find(hKey), dwIndex, &value)); status != ERROR_SUCCESS) {
    return status;
  }
  const std::vector<BYTE> data = AnsiData(value);
  LONG status = CopyData(value.type, data, lpData, lpcbData != nullptr ? *lpcbData : 0);
  if (status == ERROR_SUCCESS) {
    const std::string name = ToAnsi(value.name);
    if (name.size() >= *lpcchValueName) {
      // Too small (it needs room for the NUL): the name is cut to fit.
      status = ERROR_MORE_DATA;
      if (*lpcchValueName != 0) {
        std::memcpy(lpValueName, name.data(), *lpcchValueName - 1);
        lpValueName[*lpcchValueName - 1] = '\0';
      }
    } else {
      std::memcpy(lpValueName, name.data(), name.size());
      lpValueName[name.size()] = '\0';
      *lpcchValueName = static_cast<DWORD>(name.size());
    }
  }
  if (lpType != nullptr) *lpType = value.type;
  if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(data.size());
  return status;
}

LONG PrefixRegistry::RegEnumKeyA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD cchName) {
  if (lpName == nullptr) return ERROR_INVALID_PARAMETER;
  std::u16string wide;
  if (const LONG status = Deliver(store_.EnumKey(Find(hKey), dwIndex, &wide)); status != ERROR_SUCCESS) return status;
  const std::string name = ToAnsi(wide);
  if (name.size() >= cchName) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.data(), name.size());
  lpName[name.size()] = '\0';
  return ERROR_SUCCESS;
}

LONG PrefixRegistry::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  return Deliver(store_.DeleteKey(Find(hKey), Widen(lpSubKey)));
}

LONG PrefixRegistry::RegCloseKey(HKEY hKey) {
  if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER) return ERROR_SUCCESS;
  if (handles_.erase(hKey) == 0) return ERROR_INVALID_HANDLE;
  return Deliver(store_.Close());
}

}  // namespace plat::posix

namespace plat {

namespace {
posix::PrefixRegistry* process_registry = nullptr;
}  // namespace

template <>
Registry& Backend<Registry>() {
  // Never destroyed, so that a run does not spend its last moments freeing
  // the registry's trees; a change still deferred is saved at exit.
  static posix::PrefixRegistry* const registry = [] {
    process_registry = new posix::PrefixRegistry(wineprefix::DefaultPrefix());
    // At exit nobody is left to take the status; a failure was told through Diagnostics.
    std::atexit([] { (void)process_registry->Flush(); });
    return process_registry;
  }();
  return *registry;
}

}  // namespace plat
