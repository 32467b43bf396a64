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

HKEY PrefixRegistry::NewHandle() {
  while (handles_.count(next_handle_) != 0 || live_handles_.count(next_handle_) != 0 || next_handle_ == 0 ||
         (next_handle_ & 0x80000000U) != 0) {
    next_handle_ = (next_handle_ + 4) & 0x7FFFFFFCU;
  }
  const HKEY handle = next_handle_;
  next_handle_ += 4;
  return handle;
}

bool PrefixRegistry::Routed(HKEY hKey, HKEY* remote) const {
  if (const auto it = live_handles_.find(hKey); it != live_handles_.end()) {
    *remote = it->second;
    return true;
  }
  if ((hKey & 0x80000000U) == 0 || !live()) return false;
  *remote = hKey;
  return true;
}

template <class Retry>
LONG PrefixRegistry::Offline(const wineprefix::Status& status, Retry retry, bool* retried) {
  if (status.code != ERROR_BUSY || store_.running_server() == 0) return Deliver(status);
  if (const LONG refused = GoLive(store_.running_server()); refused != ERROR_SUCCESS) return refused;
  if (retried != nullptr) *retried = true;
  return retry();
}

LONG PrefixRegistry::GoLive(pid_t server) {
  wineprefix::Status refusal;
  std::unique_ptr<LiveSession> session = LiveSession::Start(store_.prefix(), server, &refusal);
  if (session == nullptr) return Deliver(refusal);
  // Keys opened through a session that broke are gone with it.
  live_handles_.clear();
  live_ = std::move(session);
  told_broken_ = false;
  return ERROR_SUCCESS;
}

LONG PrefixRegistry::FromLive(LONG status) {
  if (status == ERROR_BROKEN_PIPE && !live_->registry().connected() && !std::exchange(told_broken_, true)) {
    Use<Diagnostics>().Diagnose(live_->BrokenLine(store_.prefix()));
  }
  return status;
}

LONG PrefixRegistry::LiveOpened(LONG status, HKEY remote, HKEY* phkResult) {
  status = FromLive(status);
  if (phkResult == nullptr) return status;
  if (status != ERROR_SUCCESS || remote == 0 || (remote & 0x80000000U) != 0) {
    *phkResult = status == ERROR_SUCCESS ? remote : 0;
    return status;
  }
  *phkResult = NewHandle();
  live_handles_.emplace(*phkResult, remote);
  return status;
}

bool PrefixRegistry::LiveExitWindows(UINT uFlags, DWORD dwReserved, BOOL* accepted) {
  *accepted = FALSE;
  if (!live()) {
    // A key open in the files holds the prefix lock: no server can run. A
    // run that worked on the files found none when it took the lock, and
    // looks no further.
    if (!handles_.empty() || store_.set_ups().locks > 0 || Flush() != ERROR_SUCCESS) return false;
    // No call reached the prefix yet: does a server run for it?
    wineprefix::PrefixLock probe;
    pid_t server = 0;
    if (wineprefix::PrefixLock::Acquire(store_.prefix(), &probe, &server).ok() || server == 0) return false;
    probe = wineprefix::PrefixLock();
    if (GoLive(server) != ERROR_SUCCESS) return true;
  }
  *accepted = live_->shutdown().ExitWindowsEx(uFlags, dwReserved);
  if (!live_->registry().connected()) (void)FromLive(ERROR_BROKEN_PIPE);
  return true;
}

template <class Retry>
LONG PrefixRegistry::Open(HKEY hKey, const char* lpSubKey, const OpenMode& mode, HKEY* phkResult,
                          DWORD* lpdwDisposition, Retry retry) {
  KeyRef reached;
  bool created = false;
  bool retried = false;
  if (const LONG status = Offline(store_.Open(Find(hKey), Widen(lpSubKey), mode, &reached, &created), retry, &retried);
      status != ERROR_SUCCESS || retried) {
    return status;
  }
  *phkResult = NewHandle();
  handles_.emplace(*phkResult, std::move(reached));
  if (lpdwDisposition != nullptr) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG PrefixRegistry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                   HKEY* phkResult) {
  if (HKEY remote = 0; Routed(hKey, &remote)) {
    HKEY opened = 0;
    const LONG status = live_->registry().RegOpenKeyExA(remote, lpSubKey, ulOptions, samDesired,
                                                        phkResult != nullptr ? &opened : nullptr);
    return LiveOpened(status, opened, phkResult);
  }
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  if ((lpSubKey == nullptr || *lpSubKey == '\0') && (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER)) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  if (Find(hKey) == nullptr) return ERROR_INVALID_HANDLE;
  OpenMode mode;
  mode.view64 = (samDesired & KEY_WOW64_64KEY) != 0;
  *phkResult = 0;
  const LONG status = Open(hKey, lpSubKey, mode, phkResult, nullptr,
                           [&] { return RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult); });
  if (status != ERROR_SUCCESS) *phkResult = 0;
  return status;
}

LONG PrefixRegistry::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, char* lpClass, DWORD dwOptions,
                                     REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                                     HKEY* phkResult, DWORD* lpdwDisposition) {
  if (HKEY remote = 0; Routed(hKey, &remote)) {
    HKEY created = 0;
    const LONG status = live_->registry().RegCreateKeyExA(remote, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                                          lpSecurityAttributes,
                                                          phkResult != nullptr ? &created : nullptr, lpdwDisposition);
    return LiveOpened(status, created, phkResult);
  }
  if (Reserved != 0 || phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = 0;
  if (Find(hKey) == nullptr) return ERROR_INVALID_HANDLE;
  OpenMode mode;
  mode.create = true;
  mode.view64 = (samDesired & KEY_WOW64_64KEY) != 0;
  mode.make_volatile = (dwOptions & REG_OPTION_VOLATILE) != 0;
  mode.class_name = Widen(lpClass);
  return Open(hKey, lpSubKey, mode, phkResult, lpdwDisposition, [&] {
    return RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes, phkResult,
                           lpdwDisposition);
  });
}

LONG PrefixRegistry::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                                    const BYTE* lpData, DWORD cbData) {
  if (HKEY remote = 0; Routed(hKey, &remote)) {
    return FromLive(live_->registry().RegSetValueExA(remote, lpValueName, Reserved, dwType, lpData, cbData));
  }
  if (lpData == nullptr && cbData != 0) return ERROR_NOACCESS;
  // As Windows does: a string counted without its terminating NUL, while the
  // byte after the count is one, is stored with it (that byte is read).
  DWORD count = cbData;
  if (IsStringType(dwType) && count != 0 && lpData[count - 1] != 0 && lpData[count] == 0) ++count;
  std::vector<BYTE> data;
  if (IsStringType(dwType)) {
    // Stored as UTF-16: each byte of the ANSI text becomes one unit.
    if (count != 0) data = winereg::Utf16Data(FromAnsi(std::string_view(reinterpret_cast<const char*>(lpData), count)));
  } else if (count != 0) {
    data.assign(lpData, lpData + count);
  }
  return Offline(store_.SetValue(Find(hKey), Widen(lpValueName), dwType, std::move(data)),
                 [&] { return RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData); });
}

LONG PrefixRegistry::RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                                      BYTE* lpData, DWORD* lpcbData) {
  if (HKEY remote = 0; Routed(hKey, &remote)) {
    return FromLive(live_->registry().RegQueryValueExA(remote, lpValueName, lpReserved, lpType, lpData, lpcbData));
  }
  if ((lpData != nullptr && lpcbData == nullptr) || lpReserved != nullptr) return ERROR_INVALID_PARAMETER;
  const KeyRef* key = Find(hKey);
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  const DWORD room = lpcbData != nullptr ? *lpcbData : 0;
  Value value;
  wineprefix::Status found = store_.QueryValue(key, Widen(lpValueName), &value);
  if (found.code == ERROR_BUSY && store_.running_server() != 0) {
    return Offline(found, [&] { return RegQueryValueExA(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData); });
  }
  if (lpData == nullptr && lpcbData != nullptr) *lpcbData = 0;
  if (lpType != nullptr) *lpType = REG_NONE;
  if (const LONG status = Deliver(found); status != ERROR_SUCCESS) return status;
  const std::vector<BYTE> data = AnsiData(value);
  const LONG status = CopyData(value.type, data, lpData, room);
  if (lpType != nullptr) *lpType = value.type;
  if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(data.size());
  return status;
}

LONG PrefixRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                   DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  if (HKEY remote = 0; Routed(hKey, &remote)) {
    return FromLive(live_->registry().RegEnumValueA(remote, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType,
                                                    lpData, lpcbData));
  }
  if ((lpData != nullptr && lpcbData == nullptr) || lpReserved != nullptr || lpValueName == nullptr ||
      lpcchValueName == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  Value value;
  bool retried = false;
  if (const LONG status = Offline(
          store_.EnumValue(Find(hKey), dwIndex, &value),
          [&] {
            return RegEnumValueA(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData);
          },
          &retried);
      status != ERROR_SUCCESS || retried) {
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
  if (HKEY remote = 0; Routed(hKey, &remote)) {
    return FromLive(live_->registry().RegEnumKeyA(remote, dwIndex, lpName, cchName));
  }
  if (lpName == nullptr) return ERROR_INVALID_PARAMETER;
  std::u16string wide;
  bool retried = false;
  if (const LONG status = Offline(
          store_.EnumKey(Find(hKey), dwIndex, &wide), [&] { return RegEnumKeyA(hKey, dwIndex, lpName, cchName); },
          &retried);
      status != ERROR_SUCCESS || retried) {
    return status;
  }
  const std::string name = ToAnsi(wide);
  if (name.size() >= cchName) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.data(), name.size());
  lpName[name.size()] = '\0';
  return ERROR_SUCCESS;
}

LONG PrefixRegistry::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  if (HKEY remote = 0; Routed(hKey, &remote)) return FromLive(live_->registry().RegDeleteKeyA(remote, lpSubKey));
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  return Offline(store_.DeleteKey(Find(hKey), Widen(lpSubKey)), [&] { return RegDeleteKeyA(hKey, lpSubKey); });
}

LONG PrefixRegistry::RegCloseKey(HKEY hKey) {
  if (const auto it = live_handles_.find(hKey); it != live_handles_.end()) {
    const HKEY remote = it->second;
    live_handles_.erase(it);
    return FromLive(live_->registry().RegCloseKey(remote));
  }
  if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER) return ERROR_SUCCESS;
  if (handles_.erase(hKey) == 0) return ERROR_INVALID_HANDLE;
  return Deliver(store_.Close());
}
}  // namespace plat::posix

namespace plat {

posix::PrefixRegistry& posix::ProcessRegistry() {
  // Never destroyed, so that a run does not spend its last moments freeing
  // the registry's trees; a change still deferred is saved at exit.
  static PrefixRegistry* const registry = [] {
    static PrefixRegistry* made = nullptr;
    made = new PrefixRegistry(wineprefix::DefaultPrefix());
    // At exit nobody is left to take the status; a failure was told through Diagnostics.
    std::atexit([] { (void)made->Flush(); });
    return made;
  }();
  return *registry;
}

template <>
Registry& Backend<Registry>() {
  return posix::ProcessRegistry();
}

}  // namespace plat
