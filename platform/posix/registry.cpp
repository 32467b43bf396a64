#include "platform/posix/registry.h"

#include <cstdlib>

#include <cstring>
#include <optional>
#include <string_view>

#include "platform/codepage.h"

namespace plat::posix {
namespace {

constexpr std::size_t kMaxAnsiPath = 260;      // the "A" functions' path buffer
constexpr std::size_t kMaxKeyElement = 255;    // characters in one key name
constexpr std::size_t kMaxValueName = 16383;   // characters in a value name
constexpr char16_t kWowNode[] = u"Wow6432Node";
constexpr char16_t kLinkValue[] = u"SymbolicLinkValue";
constexpr char16_t kMachineBranch[] = u"REGISTRY\\Machine";
constexpr char16_t kUserBranch[] = u"REGISTRY\\User\\S-1-5-21-0-0-0-1000";

using Chain = std::vector<Key*>;

bool IsString(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

bool IsWowNode(std::u16string_view name) { return SameName(name, kWowNode); }

// HKLM\Software\Classes\Wow6432Node: the shared 32-bit view of the classes,
// whose missing keys are looked up in its 64-bit parent.
bool IsShared(const Chain& chain) {
  return chain.size() == 4 && SameName(chain[1]->name(), u"Software") && SameName(chain[2]->name(), u"Classes") &&
         IsWowNode(chain[3]->name());
}

std::u16string Widen(const char* ansi) { return ansi != nullptr ? FromAnsi(ansi) : std::u16string(); }

// Splits a relative key path into its elements; doubled and trailing
// backslashes are ignored, a leading one is refused.
LONG SplitPath(const char* ansi, std::vector<std::u16string>* elements) {
  if (ansi == nullptr) return ERROR_SUCCESS;
  if (std::strlen(ansi) > kMaxAnsiPath) return ERROR_MORE_DATA;
  const std::u16string path = FromAnsi(ansi);
  if (!path.empty() && path[0] == u'\\') return ERROR_BAD_PATHNAME;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string::npos) end = path.size();
    if (end > start) {
      if (end - start > kMaxKeyElement) return ERROR_INVALID_PARAMETER;
      elements->push_back(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

// The chain of keys a link key points to, when its target lies in `machine`.
std::optional<Chain> LinkTarget(Hive& machine, const Key& link) {
  const Value* value = link.FindValue(kLinkValue);
  if (value == nullptr || value->type != REG_LINK || value->data.size() < 2) return std::nullopt;
  std::u16string target(value->data.size() / 2, u'\0');
  std::memcpy(target.data(), value->data.data(), target.size() * 2);
  const std::u16string prefix = std::u16string(u"\\") + kMachineBranch;
  if (target.size() < prefix.size() || !SameName(std::u16string_view(target).substr(0, prefix.size()), prefix)) {
    return std::nullopt;
  }
  Chain chain{&machine.root};
  std::size_t start = prefix.size();
  while (start < target.size()) {
    std::size_t end = target.find(u'\\', start);
    if (end == std::u16string::npos) end = target.size();
    if (end > start) {
      Key* next = chain.back()->FindSubkey(std::u16string_view(target).substr(start, end - start));
      if (next == nullptr) return std::nullopt;
      chain.push_back(next);
    }
    start = end + 1;
  }
  return chain;
}

// Moves a 32-bit client from a key to its Wow6432Node child, unless that
// child is the shared one.
void EnterWowNode(Chain& chain) {
  if (Key* node = chain.back()->FindSubkey(kWowNode)) {
    chain.push_back(node);
    if (IsShared(chain)) chain.pop_back();
  }
}

struct WalkResult {
  LONG status = ERROR_SUCCESS;
  bool created = false;  // the last element was created
  bool changed = false;  // any key was created
};

// Follows `elements` from the end of `chain`, as wineserver does for a client
// of the given view, creating missing keys when `create` is set.
WalkResult Walk(Hive& machine, bool wow, Chain& chain, const std::vector<std::u16string>& elements, bool create,
                bool make_volatile) {
  WalkResult result;
  if (wow && !(elements.size() == 1 && IsWowNode(elements[0]))) {
    if (Key* node = chain.back()->FindSubkey(kWowNode)) {
      chain.push_back(node);
      if (!IsShared(chain)) chain.pop_back();
    }
  }
  for (std::size_t i = 0; i < elements.size(); ++i) {
    if (chain.back()->is_link()) {
      std::optional<Chain> target = LinkTarget(machine, *chain.back());
      if (!target) return {ERROR_FILE_NOT_FOUND, false, result.changed};
      chain = *target;
    }
    Key* found = chain.back()->FindSubkey(elements[i]);
    if (found == nullptr && wow && IsShared(chain)) {
      chain.pop_back();
      found = chain.back()->FindSubkey(elements[i]);
    }
    if (found == nullptr) {
      if (!create) return {ERROR_FILE_NOT_FOUND, false, result.changed};
      Key* parent = chain.back();
      if (parent->is_volatile() && !make_volatile) return {ERROR_CHILD_MUST_BE_VOLATILE, false, result.changed};
      const std::int64_t now = CurrentFileTime();
      found = &parent->AddSubkey(elements[i], now);
      found->set_volatile(make_volatile);
      parent->set_modif(now);
      result.changed = true;
      result.created = i + 1 == elements.size();
      chain.push_back(found);
      continue;
    }
    chain.push_back(found);
    const bool rest_is_wow_node = i + 2 == elements.size() && IsWowNode(elements[i + 1]);
    if (wow && i + 1 < elements.size() && !rest_is_wow_node) {
      if (Key* node = found->FindSubkey(kWowNode)) chain.push_back(node);
    }
  }
  if (chain.back()->is_link() && !result.created) {
    std::optional<Chain> target = LinkTarget(machine, *chain.back());
    if (!target) return {ERROR_FILE_NOT_FOUND, false, result.changed};
    chain = *target;
    if (wow && IsShared(chain)) chain.pop_back();
  }
  if (wow && !result.created) EnterWowNode(chain);
  return result;
}

// A value's data as the "A" functions hand it out: strings in the ANSI code
// page (one byte per UTF-16 unit), anything else as stored.
std::vector<BYTE> AnsiData(const Value& value) {
  if (!IsString(value.type)) return value.data;
  std::u16string wide(value.data.size() / 2, u'\0');
  std::memcpy(wide.data(), value.data.data(), wide.size() * 2);
  const std::string ansi = ToAnsi(wide);
  return std::vector<BYTE>(ansi.begin(), ansi.end());
}

// Copies string data as RegQueryValueExA/RegEnumValueA do: ERROR_MORE_DATA
// when it does not fit, and a NUL after unterminated text when there is room.
LONG CopyData(const Value& value, const std::vector<BYTE>& data, BYTE* out, DWORD room) {
  if (out == nullptr) return ERROR_SUCCESS;
  if (IsString(value.type)) {
    if (data.empty()) return ERROR_SUCCESS;
    if (data.size() > room) return ERROR_MORE_DATA;
    std::memcpy(out, data.data(), data.size());
    if (data.size() < room && data.back() != 0) out[data.size()] = 0;
    return ERROR_SUCCESS;
  }
  if (data.size() > room) return ERROR_MORE_DATA;
  if (!data.empty()) std::memcpy(out, data.data(), data.size());
  return ERROR_SUCCESS;
}

}  // namespace

struct PrefixRegistry::Session {
  PrefixLock lock;
  HiveId hive_id = kMachine;
  Hive* hive = nullptr;
  Hive* machine = nullptr;
  Chain chain;  // from the hive's root to the handle's key
  bool wow = false;
  bool dirty = false;
};

PrefixRegistry::PrefixRegistry(std::filesystem::path prefix)
    : prefix_(std::move(prefix)),
      files_{HiveFile(prefix_ / "system.reg", kMachineBranch), HiveFile(prefix_ / "user.reg", kUserBranch)} {}

HKEY PrefixRegistry::NewHandle(OpenKey key) {
  while (handles_.count(next_handle_) != 0 || next_handle_ == 0 || (next_handle_ & 0x80000000U) != 0) {
    next_handle_ = (next_handle_ + 4) & 0x7FFFFFFCU;
  }
  const HKEY handle = next_handle_;
  next_handle_ += 4;
  handles_.emplace(handle, std::move(key));
  return handle;
}

LONG PrefixRegistry::Begin(HKEY hKey, bool writing, Session& session) {
  std::vector<std::u16string> path;
  if (hKey == HKEY_LOCAL_MACHINE) {
    session.hive_id = kMachine;
  } else if (hKey == HKEY_CURRENT_USER) {
    session.hive_id = kUser;
  } else if (auto it = handles_.find(hKey); it != handles_.end()) {
    session.hive_id = it->second.hive;
    path = it->second.path;
  } else {
    return ERROR_INVALID_HANDLE;
  }
  if (writing) {
    if (const LONG status = EnsurePrefixDirectory(prefix_); status != ERROR_SUCCESS) return status;
  }
  if (!held_.held()) {
    if (const LONG status = PrefixLock::Acquire(prefix_, &session.lock); status != ERROR_SUCCESS) return status;
  }
  if (const LONG status = files_[kMachine].Load(&session.machine, NewPrefixArch()); status != ERROR_SUCCESS) {
    return status;
  }
  session.hive = session.machine;
  if (session.hive_id == kUser) {
    if (const LONG status = files_[kUser].Load(&session.hive, session.machine->arch); status != ERROR_SUCCESS) {
      return status;
    }
  }
  session.wow = session.hive_id == kMachine && session.machine->arch == Arch::kWin64;
  session.chain = {&session.hive->root};
  for (const std::u16string& name : path) {
    Key* next = session.chain.back()->FindSubkey(name);
    if (next == nullptr) return ERROR_KEY_DELETED;
    session.chain.push_back(next);
  }
  return ERROR_SUCCESS;
}

LONG PrefixRegistry::Commit(Session& session) {
  if (!session.dirty) return ERROR_SUCCESS;
  // The save takes any deferred change of the file with it (or, failing,
  // drops it with the cached hive).
  const LONG status = files_[session.hive_id].Save();
  deferred_[session.hive_id] = false;
  if (!deferred_[kMachine] && !deferred_[kUser]) held_ = PrefixLock();
  return status;
}

void PrefixRegistry::Defer(Session& session) {
  deferred_[session.hive_id] = true;
  if (session.lock.held()) held_ = std::move(session.lock);
}

LONG PrefixRegistry::Flush() {
  LONG result = ERROR_SUCCESS;
  for (const HiveId id : {kMachine, kUser}) {
    if (!deferred_[id]) continue;
    deferred_[id] = false;
    if (const LONG status = files_[id].Save(); status != ERROR_SUCCESS && result == ERROR_SUCCESS) result = status;
  }
  held_ = PrefixLock();
  return result;
}

PrefixRegistry::~PrefixRegistry() { Flush(); }

LONG PrefixRegistry::Open(HKEY hKey, const char* lpSubKey, REGSAM samDesired, bool create, DWORD options,
                          const char* lpClass, HKEY* phkResult, DWORD* lpdwDisposition) {
  std::vector<std::u16string> elements;
  if (const LONG status = SplitPath(lpSubKey, &elements); status != ERROR_SUCCESS) return status;
  Session session;
  if (const LONG status = Begin(hKey, create, session); status != ERROR_SUCCESS) return status;
  const bool wow = session.wow && (samDesired & KEY_WOW64_64KEY) == 0;
  const WalkResult walk = Walk(*session.machine, wow, session.chain, elements, create,
                               (options & REG_OPTION_VOLATILE) != 0);
  if (walk.status != ERROR_SUCCESS) {
    // Keys created before the failure stay, as they do under Windows.
    if (walk.changed) {
      session.dirty = true;
      Commit(session);
    }
    return walk.status;
  }
  session.dirty = walk.changed;
  if (create && lpClass != nullptr && *lpClass != '\0') {
    session.chain.back()->set_class_name(Widen(lpClass));
    session.dirty = true;
  }
  // New keys reach the file with the next change, or when a handle closes.
  if (session.dirty) Defer(session);
  OpenKey key{session.hive_id, {}};
  for (std::size_t i = 1; i < session.chain.size(); ++i) key.path.push_back(session.chain[i]->name());
  *phkResult = NewHandle(std::move(key));
  if (lpdwDisposition != nullptr) *lpdwDisposition = walk.created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG PrefixRegistry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                                   HKEY* phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  if ((lpSubKey == nullptr || *lpSubKey == '\0') && (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER)) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  if (hKey != HKEY_LOCAL_MACHINE && hKey != HKEY_CURRENT_USER && handles_.count(hKey) == 0) {
    return ERROR_INVALID_HANDLE;
  }
  const LONG status = Open(hKey, lpSubKey, samDesired, false, 0, nullptr, phkResult, nullptr);
  if (status != ERROR_SUCCESS) *phkResult = 0;
  return status;
}

LONG PrefixRegistry::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, char* lpClass,
                                     DWORD dwOptions, REGSAM samDesired,
                                     const SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/, HKEY* phkResult,
                                     DWORD* lpdwDisposition) {
  if (Reserved != 0 || phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = 0;
  if (hKey != HKEY_LOCAL_MACHINE && hKey != HKEY_CURRENT_USER && handles_.count(hKey) == 0) {
    return ERROR_INVALID_HANDLE;
  }
  return Open(hKey, lpSubKey, samDesired, true, dwOptions, lpClass, phkResult, lpdwDisposition);
}

LONG PrefixRegistry::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD /*Reserved*/, DWORD dwType,
                                    const BYTE* lpData, DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_NOACCESS;
  const std::u16string name = Widen(lpValueName);
  if (name.size() > kMaxValueName) return ERROR_INVALID_PARAMETER;
  std::vector<BYTE> data;
  if (IsString(dwType)) {
    // Stored as UTF-16: each byte of the ANSI text becomes one unit.
    const std::u16string wide =
        cbData != 0 ? FromAnsi(std::string_view(reinterpret_cast<const char*>(lpData), cbData)) : std::u16string();
    data.resize(wide.size() * 2);
    if (!wide.empty()) std::memcpy(data.data(), wide.data(), data.size());
  } else if (cbData != 0) {
    data.assign(lpData, lpData + cbData);
  }
  Session session;
  if (const LONG status = Begin(hKey, true, session); status != ERROR_SUCCESS) return status;
  Key& key = *session.chain.back();
  if (key.is_link() && !(dwType == REG_LINK && SameName(name, kLinkValue))) return ERROR_ACCESS_DENIED;
  const Value* existing = key.FindValue(name);
  // Setting a value to what it holds changes nothing, as in wineserver.
  if (existing != nullptr && existing->type == dwType && existing->data == data && !data.empty()) {
    return ERROR_SUCCESS;
  }
  key.SetValue(name, dwType, std::move(data));
  key.set_modif(CurrentFileTime());
  session.dirty = !key.is_volatile();
  return Commit(session);
}

LONG PrefixRegistry::RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                                      BYTE* lpData, DWORD* lpcbData) {
  if ((lpData != nullptr && lpcbData == nullptr) || lpReserved != nullptr) return ERROR_INVALID_PARAMETER;
  if (hKey != HKEY_LOCAL_MACHINE && hKey != HKEY_CURRENT_USER && handles_.count(hKey) == 0) {
    return ERROR_INVALID_HANDLE;
  }
  const DWORD room = lpcbData != nullptr ? *lpcbData : 0;
  if (lpData == nullptr && lpcbData != nullptr) *lpcbData = 0;
  if (lpType != nullptr) *lpType = REG_NONE;
  Session session;
  if (const LONG status = Begin(hKey, false, session); status != ERROR_SUCCESS) return status;
  const Value* value = session.chain.back()->FindValue(Widen(lpValueName));
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  const std::vector<BYTE> data = AnsiData(*value);
  const LONG status = CopyData(*value, data, lpData, room);
  if (lpType != nullptr) *lpType = value->type;
  if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(data.size());
  return status;
}

LONG PrefixRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                   DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  if ((lpData != nullptr && lpcbData == nullptr) || lpReserved != nullptr || lpValueName == nullptr ||
      lpcchValueName == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  Session session;
  if (const LONG status = Begin(hKey, false, session); status != ERROR_SUCCESS) return status;
  const std::vector<Value>& values = session.chain.back()->values();
  if (dwIndex >= values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& value = values[dwIndex];
  const std::vector<BYTE> data = AnsiData(value);
  LONG status = CopyData(value, data, lpData, lpcbData != nullptr ? *lpcbData : 0);
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
  Session session;
  if (const LONG status = Begin(hKey, false, session); status != ERROR_SUCCESS) return status;
  const auto& subkeys = session.chain.back()->subkeys();
  if (dwIndex >= subkeys.size()) return ERROR_NO_MORE_ITEMS;
  const std::string name = ToAnsi(subkeys[dwIndex]->name());
  if (name.size() >= cchName) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.data(), name.size());
  lpName[name.size()] = '\0';
  return ERROR_SUCCESS;
}

LONG PrefixRegistry::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  if (hKey != HKEY_LOCAL_MACHINE && hKey != HKEY_CURRENT_USER && handles_.count(hKey) == 0) {
    return ERROR_INVALID_HANDLE;
  }
  std::vector<std::u16string> elements;
  if (const LONG status = SplitPath(lpSubKey, &elements); status != ERROR_SUCCESS) return status;
  Session session;
  if (const LONG status = Begin(hKey, false, session); status != ERROR_SUCCESS) return status;
  const WalkResult walk = Walk(*session.machine, session.wow, session.chain, elements, false, false);
  if (walk.status != ERROR_SUCCESS) return walk.status;
  // Only a key without subkeys can go; a root never can.
  if (session.chain.size() < 2 || !session.chain.back()->subkeys().empty()) return ERROR_ACCESS_DENIED;
  Key& parent = *session.chain[session.chain.size() - 2];
  const bool persistent = !session.chain.back()->is_volatile();
  parent.RemoveSubkey(session.chain.back()->name());
  parent.set_modif(CurrentFileTime());
  session.dirty = persistent;
  return Commit(session);
}

LONG PrefixRegistry::RegCloseKey(HKEY hKey) {
  if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER) return ERROR_SUCCESS;
  if (handles_.erase(hKey) == 0) return ERROR_INVALID_HANDLE;
  return Flush();
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
    process_registry = new posix::PrefixRegistry(posix::DefaultPrefix());
    std::atexit([] { process_registry->Flush(); });
    return process_registry;
  }();
  return *registry;
}

}  // namespace plat
