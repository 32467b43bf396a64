#include "platform/posix/registry.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/codepage.h"
#include "wineprefix/prefix.h"

namespace plat::posix {

using wineprefix::HiveFile;
using wineprefix::PrefixLock;
using wineprefix::Report;
using winereg::Arch;
using winereg::CurrentFileTime;
using winereg::Hive;
using winereg::Key;
using winereg::SameName;
using winereg::Value;

namespace {

constexpr std::size_t kMaxAnsiPath = 260;     // the "A" functions' path buffer
constexpr std::size_t kMaxKeyElement = 255;   // characters in one key name
constexpr std::size_t kMaxValueName = 16383;  // characters in a value name
constexpr char16_t kWowNode[] = u"Wow6432Node";
constexpr char16_t kLinkValue[] = u"SymbolicLinkValue";
constexpr char16_t kMachineBranch[] = u"REGISTRY\\Machine";
constexpr char16_t kUserBranch[] = u"REGISTRY\\User\\S-1-5-21-0-0-0-1000";
constexpr char16_t kUserSid[] = u"S-1-5-21-0-0-0-1000";
constexpr int kMaxLinkDepth = 32;            // links wineserver follows one inside another
constexpr std::size_t kMaxNameLength = 256;  // wineserver's limit for one key name

using Chain = std::vector<Key*>;

bool IsString(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

bool IsWowNode(std::u16string_view name) { return SameName(name, kWowNode); }

// HKLM\Software\Classes\Wow6432Node: the shared 32-bit view of the classes,
// whose missing keys are looked up in its 64-bit parent.
bool IsShared(bool machine, const Chain& chain) {
  return machine && chain.size() == 4 && SameName(chain[1]->name(), u"Software") &&
         SameName(chain[2]->name(), u"Classes") && IsWowNode(chain[3]->name());
}

// The child that leads a 32-bit program on from `key`: its Wow6432Node,
// unless the key is one itself.
Key* WowChild(const Key& key) { return IsWowNode(key.name()) ? nullptr : key.FindSubkey(kWowNode); }

// The names of a path between runs of backslashes, as wineserver reads a
// link's target; a leading backslash gives an empty first name.
std::vector<std::u16string_view> SplitTarget(std::u16string_view path) {
  std::vector<std::u16string_view> names;
  std::size_t start = 0;
  while (start < path.size()) {
    const std::size_t end = std::min(path.find(u'\\', start), path.size());
    names.push_back(path.substr(start, end - start));
    start = std::min(path.find_first_not_of(u'\\', end), path.size());
  }
  return names;
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
  using Elements = std::vector<std::u16string>;

  PrefixLock lock;
  HiveFile* files = nullptr;
  HiveId hive_id = kMachine;  // the hive `chain` lies in
  Hive* machine = nullptr;
  Hive* user = nullptr;  // loaded when a call or a link reaches it
  Chain chain;           // from the hive's root to the handle's key, after a walk to the key reached
  bool wow = false;      // a 32-bit program's view of a 64-bit prefix
  bool dirty = false;    // the hive of `chain` changed

  LONG LoadUser();
  bool Shared() const { return IsShared(hive_id == kMachine, chain); }
  LONG Follow(const Key& link, int depth, std::u16string* missing, HiveId* hive, Chain* keys);
  LONG Add(std::u16string_view name, bool make_volatile);
  LONG Lookup(const Elements& elements, bool create, bool make_volatile, bool* created);
  LONG Walk(const Elements& elements, bool create, bool make_volatile, bool* created);
};

LONG PrefixRegistry::Session::LoadUser() {
  if (user != nullptr) return ERROR_SUCCESS;
  if (const LONG status = Report(files[kUser].Load(&user, machine->arch)); status != ERROR_SUCCESS) {
    user = nullptr;
    return status;
  }
  // A file without #arch is saved with the prefix's, as wineserver saves it.
  if (user->arch == Arch::kUnspecified) user->arch = machine->arch;
  return ERROR_SUCCESS;
}

// Where a link key leads, as wineserver follows it: its SymbolicLinkValue,
// of any type, read as UTF-16 and looked up from the registry's root, the
// links on the way followed in turn, 32 deep at most. With `missing`, a
// target whose last key does not exist leads to its parent and gives the
// name to create there.
LONG PrefixRegistry::Session::Follow(const Key& link, int depth, std::u16string* missing, HiveId* hive, Chain* keys) {
  if (depth > kMaxLinkDepth) return ERROR_INVALID_PARAMETER;
  const Value* value = link.FindValue(kLinkValue);
  if (value == nullptr || value->data.size() < 2 || value->data[0] != '\\' || value->data[1] != 0) {
    return ERROR_FILE_NOT_FOUND;
  }
  std::u16string target(value->data.size() / 2, u'\0');
  std::memcpy(target.data(), value->data.data(), target.size() * 2);
  const std::vector<std::u16string_view> names = SplitTarget(std::u16string_view(target).substr(1));
  // \REGISTRY holds Machine and User, and User holds .Default and the user's
  // SID. Only system.reg and user.reg are here; a name missing on the way
  // is not found, as in wineserver, or could not be created.
  const auto absent = [&](std::size_t i) {
    return i + 1 == names.size() && missing != nullptr ? ERROR_NOT_SUPPORTED : ERROR_FILE_NOT_FOUND;
  };
  if (names.size() < 2 || !SameName(names[0], u"REGISTRY")) return ERROR_NOT_SUPPORTED;
  HiveId id = kMachine;
  std::size_t first = 2;
  if (!SameName(names[1], u"Machine")) {
    if (!SameName(names[1], u"User")) return absent(1);
    if (names.size() == 2 || SameName(names[2], u".Default")) return ERROR_NOT_SUPPORTED;
    if (!SameName(names[2], kUserSid)) return absent(2);
    id = kUser;
    first = 3;
  }
  if (id == kUser) {
    if (const LONG status = LoadUser(); status != ERROR_SUCCESS) return status;
  }
  Chain found{&(id == kMachine ? machine : user)->root};
  for (std::size_t i = first; i < names.size(); ++i) {
    if (found.back()->is_link()) {
      if (const LONG status = Follow(*found.back(), depth + 1, nullptr, &id, &found); status != ERROR_SUCCESS) {
        return status;
      }
    }
    if (names[i].size() > kMaxNameLength) return ERROR_INVALID_PARAMETER;
    Key* next = found.back()->FindSubkey(names[i]);
    if (next == nullptr) {
      if (missing == nullptr || i + 1 < names.size()) return ERROR_FILE_NOT_FOUND;
      *missing = names[i];
      break;
    }
    found.push_back(next);
  }
  if (found.back()->is_link()) {
    if (const LONG status = Follow(*found.back(), depth + 1, missing, &id, &found); status != ERROR_SUCCESS) {
      return status;
    }
  }
  *hive = id;
  *keys = std::move(found);
  return ERROR_SUCCESS;
}

// Creates a subkey of the key reached and moves to it.
LONG PrefixRegistry::Session::Add(std::u16string_view name, bool make_volatile) {
  Key* parent = chain.back();
  if (parent->is_volatile() && !make_volatile) return ERROR_CHILD_MUST_BE_VOLATILE;
  const std::int64_t now = CurrentFileTime();
  Key& key = parent->AddSubkey(name, now);
  key.set_volatile(make_volatile);
  parent->set_modif(now);
  chain.push_back(&key);
  dirty = true;
  return ERROR_SUCCESS;
}

// One lookup of `elements` from the key reached, as wineserver's open_key
// and create_key make it: links followed, a 32-bit program led into
// Wow6432Node children; with `create`, a missing last key (or the missing
// last key of a link's target) is created.
LONG PrefixRegistry::Session::Lookup(const Elements& elements, bool create, bool make_volatile, bool* created) {
  *created = false;
  if (wow && !(elements.size() == 1 && IsWowNode(elements[0]))) {
    // A key whose Wow6432Node child is the shared one is looked in there.
    if (Key* node = WowChild(*chain.back())) {
      chain.push_back(node);
      if (!Shared()) chain.pop_back();
    }
  }
  for (std::size_t i = 0; i < elements.size(); ++i) {
    if (chain.back()->is_link()) {
      if (const LONG status = Follow(*chain.back(), 1, nullptr, &hive_id, &chain); status != ERROR_SUCCESS) {
        return status;
      }
    }
    Key* found = chain.back()->FindSubkey(elements[i]);
    if (found == nullptr && wow && Shared()) {
      chain.pop_back();  // what the shared keys lack, their 64-bit parent may have
      found = chain.back()->FindSubkey(elements[i]);
    }
    if (found == nullptr) {
      if (!create || i + 1 < elements.size()) return ERROR_FILE_NOT_FOUND;
      *created = true;
      return Add(elements[i], make_volatile);
    }
    chain.push_back(found);
    const bool rest_is_wow_node = i + 2 == elements.size() && IsWowNode(elements[i + 1]);
    if (wow && i + 1 < elements.size() && !rest_is_wow_node) {
      if (Key* node = WowChild(*found)) chain.push_back(node);
    }
  }
  if (!elements.empty() && chain.back()->is_link()) {
    std::u16string missing;
    if (const LONG status = Follow(*chain.back(), 1, create ? &missing : nullptr, &hive_id, &chain);
        status != ERROR_SUCCESS) {
      return status;
    }
    if (!missing.empty()) {
      *created = true;
      return Add(missing, make_volatile);
    }
    if (wow && Shared()) chain.pop_back();  // a link to the shared keys leads to their parent
  }
  // A key with a Wow6432Node child is that child, unless it is the shared one.
  if (wow) {
    if (Key* node = WowChild(*chain.back())) {
      chain.push_back(node);
      if (Shared()) chain.pop_back();
    }
  }
  return ERROR_SUCCESS;
}

// A path as RegOpenKeyEx and RegCreateKeyEx look it up: in one lookup; when
// a create finds a key on the way missing, one lookup (or create) for each
// element in turn.
LONG PrefixRegistry::Session::Walk(const Elements& elements, bool create, bool make_volatile, bool* created) {
  const HiveId start_hive = hive_id;
  const Chain start = chain;
  LONG status = Lookup(elements, create, make_volatile, created);
  if (!create || status != ERROR_FILE_NOT_FOUND || elements.size() < 2) return status;
  hive_id = start_hive;
  chain = start;
  for (const std::u16string& element : elements) {
    status = Lookup({element}, true, make_volatile, created);
    if (status != ERROR_SUCCESS) break;
  }
  return status;
}

PrefixRegistry::PrefixRegistry(std::filesystem::path prefix, wineprefix::FileSystem& files)
    : prefix_(std::move(prefix)),
      files_{HiveFile(prefix_ / "system.reg", kMachineBranch, files),
             HiveFile(prefix_ / "user.reg", kUserBranch, files)} {}

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
  session.files = files_;
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
  if (prefix_.empty()) {
    // Made where Wine would refuse the environment's prefix: say why.
    std::filesystem::path found;
    return Report(wineprefix::FindPrefix(&found)) != ERROR_SUCCESS ? ERROR_BAD_PATHNAME : ERROR_PATH_NOT_FOUND;
  }
  if (writing) {
    if (const LONG status = Report(wineprefix::EnsurePrefixDirectory(prefix_)); status != ERROR_SUCCESS) return status;
  }
  if (!held_.held()) {
    if (const LONG status = Report(PrefixLock::Acquire(prefix_, &session.lock)); status != ERROR_SUCCESS) return status;
  }
  Arch fresh = Arch::kWin32;
  if (const LONG status = Report(wineprefix::PrefixArch(prefix_, &fresh)); status != ERROR_SUCCESS) return status;
  if (const LONG status = Report(files_[kMachine].Load(&session.machine, fresh)); status != ERROR_SUCCESS)
    return status;
  if (const LONG status = Report(wineprefix::CheckWineArch(prefix_, session.machine->arch)); status != ERROR_SUCCESS)
    return status;
  if (session.hive_id == kUser) {
    if (const LONG status = session.LoadUser(); status != ERROR_SUCCESS) return status;
  }
  // Either root, as a 32-bit program sees it.
  session.wow = session.machine->arch == Arch::kWin64;
  session.chain = {&(session.hive_id == kMachine ? session.machine : session.user)->root};
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
  const LONG status = Report(files_[session.hive_id].Save(held_.held() ? &held_ : &session.lock));
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
    if (const LONG status = Report(files_[id].Save(&held_)); status != ERROR_SUCCESS && result == ERROR_SUCCESS) {
      result = status;
    }
  }
  held_ = PrefixLock();
  return result;
}

// A failing save was told on standard error; a destructor has no one to return it to.
PrefixRegistry::~PrefixRegistry() { (void)Flush(); }

LONG PrefixRegistry::Open(HKEY hKey, const char* lpSubKey, REGSAM samDesired, bool create, DWORD options,
                          const char* lpClass, HKEY* phkResult, DWORD* lpdwDisposition) {
  std::vector<std::u16string> elements;
  if (const LONG status = SplitPath(lpSubKey, &elements); status != ERROR_SUCCESS) return status;
  Session session;
  if (const LONG status = Begin(hKey, create, session); status != ERROR_SUCCESS) return status;
  session.wow = session.wow && (samDesired & KEY_WOW64_64KEY) == 0;
  bool created = false;
  if (const LONG status = session.Walk(elements, create, (options & REG_OPTION_VOLATILE) != 0, &created);
      status != ERROR_SUCCESS) {
    // Keys created before the failure stay, as they do under Windows.
    Commit(session);
    return status;
  }
  if (create && lpClass != nullptr && *lpClass != '\0') {
    session.chain.back()->set_class_name(Widen(lpClass));
    session.dirty = true;
  }
  // New keys reach the file with the next change, or when a handle closes.
  if (session.dirty) Defer(session);
  OpenKey key{session.hive_id, {}};
  for (std::size_t i = 1; i < session.chain.size(); ++i) key.path.push_back(session.chain[i]->name());
  *phkResult = NewHandle(std::move(key));
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
  if (hKey != HKEY_LOCAL_MACHINE && hKey != HKEY_CURRENT_USER && handles_.count(hKey) == 0) {
    return ERROR_INVALID_HANDLE;
  }
  const LONG status = Open(hKey, lpSubKey, samDesired, false, 0, nullptr, phkResult, nullptr);
  if (status != ERROR_SUCCESS) *phkResult = 0;
  return status;
}

LONG PrefixRegistry::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, char* lpClass, DWORD dwOptions,
                                     REGSAM samDesired, const SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/,
                                     HKEY* phkResult, DWORD* lpdwDisposition) {
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
  bool created = false;
  if (const LONG status = session.Walk(elements, false, false, &created); status != ERROR_SUCCESS) return status;
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
    process_registry = new posix::PrefixRegistry(wineprefix::DefaultPrefix());
    // At exit nobody is left to take the status; a failure was told on standard error.
    std::atexit([] { (void)process_registry->Flush(); });
    return process_registry;
  }();
  return *registry;
}

}  // namespace plat
