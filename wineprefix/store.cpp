// The store's calls: each one transaction over the prefix's files.
#include "wineprefix/store.h"

#include <utility>

#include "wineprefix/internal/names.h"
#include "wineprefix/internal/transaction.h"
#include "wineprefix/prefix.h"

namespace wineprefix {

using vocab::BYTE;
using vocab::DWORD;
using vocab::ERROR_ACCESS_DENIED;
using vocab::ERROR_BAD_PATHNAME;
using vocab::ERROR_FILE_NOT_FOUND;
using vocab::ERROR_INVALID_HANDLE;
using vocab::ERROR_INVALID_PARAMETER;
using vocab::ERROR_KEY_DELETED;
using vocab::ERROR_NO_MORE_ITEMS;
using vocab::ERROR_PATH_NOT_FOUND;
using vocab::kMaxValueNameLength;
using vocab::REG_LINK;

using internal::kLinkValue;
using internal::kMachineBranch;
using internal::kUserBranch;
using winereg::CurrentFileTime;
using winereg::Hive;
using winereg::Key;
using winereg::SameName;
using winereg::Value;

namespace {

int Index(Root root) { return static_cast<int>(root); }

// Keeps the first failure's status; every failure's message is told.
void Combine(Status& into, const Status& status) {
  if (status.ok()) return;
  if (!status.message.empty()) {
    into.message += (into.message.empty() ? "" : "\n") + status.message;
  }
  if (into.ok()) into.code = status.code;
}

}  // namespace

Status Store::Transaction::LoadUser() {
  if (user_ != nullptr) return Success();
  ++store_.set_ups_.loads;
  if (Status status = store_.files_[Index(Root::kUser)].Load(&user_, machine_->arch); !status.ok()) {
    user_ = nullptr;
    return status;
  }
  // A file without #arch is saved with the prefix's, as wineserver saves it.
  if (user_->arch == Arch::kUnspecified) user_->arch = machine_->arch;
  return Success();
}

Status Store::Transaction::Begin(const KeyRef& from, bool writing) {
  const std::filesystem::path& prefix = store_.prefix_;
  root = from.root;
  if (prefix.empty()) {
    // Made where Wine would refuse the environment's prefix: say why.
    std::filesystem::path found;
    Status status = FindPrefix(&found);
    return status.ok() ? Failure(ERROR_PATH_NOT_FOUND) : Failure(ERROR_BAD_PATHNAME, std::move(status.message));
  }
  if (writing) {
    bool created = false;
    if (Status status = EnsurePrefixDirectory(prefix, &created); !status.ok()) return status;
    if (created) store_.created_prefix_ = true;  // told once, by TakeCreatedPrefix
  }
  if (!store_.lock_.held()) {
    if (Status status = PrefixLock::Acquire(prefix, &store_.lock_, &store_.running_server_); !status.ok()) {
      return status;
    }
    if (store_.lock_.held()) ++store_.set_ups_.locks;
  }
  Arch fresh = Arch::kWin32;
  if (Status status = PrefixArch(prefix, &fresh); !status.ok()) return status;
  ++store_.set_ups_.loads;
  if (Status status = store_.files_[Index(Root::kMachine)].Load(&machine_, fresh); !status.ok()) return status;
  if (Status status = CheckWineArch(prefix, machine_->arch); !status.ok()) return status;
  if (root == Root::kUser) {
    if (Status status = LoadUser(); !status.ok()) return status;
  }
  // Either root, as a 32-bit program sees it.
  wow = machine_->arch == Arch::kWin64;
  chain = {&(root == Root::kMachine ? machine_ : user_)->root};
  chain.reserve(from.names.size() + 1);
  for (const std::u16string& name : from.names) {
    Key* next = chain.back()->FindSubkey(name);
    if (next == nullptr) return Failure(ERROR_KEY_DELETED);
    chain.push_back(next);
  }
  return Success();
}

Status Store::Transaction::Commit() {
  if (!dirty) return Success();
  // The save takes any deferred change of the file with it (or, failing,
  // drops it with the cached hive).
  Status status = store_.files_[Index(root)].Save(&store_.lock_);
  store_.deferred_[Index(root)] = false;
  return status;
}

KeyRef Store::Transaction::Reached() const {
  KeyRef key{root, {}};
  key.names.reserve(chain.size() - 1);
  for (std::size_t i = 1; i < chain.size(); ++i) key.names.push_back(chain[i]->name());
  return key;
}

Store::Store(std::filesystem::path prefix, FileSystem& files)
    : prefix_(std::move(prefix)),
      files_{HiveFile(prefix_ / "system.reg", kMachineBranch, files),
             HiveFile(prefix_ / "user.reg", kUserBranch, files)} {}

Store::~Store() { (void)Flush(); }

void Store::Settle() {
  if (open_keys_ == 0 && !deferred_[0] && !deferred_[1]) lock_ = PrefixLock();
}

Status Store::Open(const KeyRef* from, std::u16string_view path, const OpenMode& mode, KeyRef* reached, bool* created) {
  if (from == nullptr) return Failure(ERROR_INVALID_HANDLE);
  Elements elements;
  if (Status status = SplitPath(path, &elements); !status.ok()) return status;
  Transaction call(*this);
  if (Status status = call.Begin(*from, mode.create); !status.ok()) return status;
  call.wow = call.wow && !mode.view64;
  *created = false;
  if (Status status = call.Walk(elements, mode.create, mode.make_volatile, created); !status.ok()) {
    // Keys created before the failure stay, as they do under Windows.
    Status saved = call.Commit();
    if (!saved.message.empty()) status.message += (status.message.empty() ? "" : "\n") + saved.message;
    return status;
  }
  if (mode.create && !mode.class_name.empty()) {
    call.chain.back()->set_class_name(mode.class_name);
    call.dirty = true;
  }
  // New keys reach the file with the next change, or when a key closes.
  if (call.dirty) call.Defer();
  *reached = call.Reached();
  ++open_keys_;
  return Success();
}

Status Store::SetValue(const KeyRef* key, std::u16string_view name, DWORD type, std::vector<BYTE> data) {
  if (name.size() > kMaxValueNameLength) return Failure(ERROR_INVALID_PARAMETER);
  if (key == nullptr) return Failure(ERROR_INVALID_HANDLE);
  Transaction call(*this);
  if (Status status = call.Begin(*key, true); !status.ok()) return status;
  Key& target = *call.chain.back();
  if (target.is_link() && !(type == REG_LINK && SameName(name, kLinkValue))) return Failure(ERROR_ACCESS_DENIED);
  const Value* existing = target.FindValue(name);
  // Setting a value to what it holds changes nothing, as in wineserver.
  if (existing != nullptr && existing->type == type && existing->data == data && !data.empty()) return Success();
  target.SetValue(name, type, std::move(data));
  target.set_modif(CurrentFileTime());
  call.dirty = !target.is_volatile();
  return call.Commit();
}

Status Store::QueryValue(const KeyRef* key, std::u16string_view name, Value* out) {
  if (key == nullptr) return Failure(ERROR_INVALID_HANDLE);
  Transaction call(*this);
  if (Status status = call.Begin(*key, false); !status.ok()) return status;
  const Value* value = call.chain.back()->FindValue(name);
  if (value == nullptr) return Failure(ERROR_FILE_NOT_FOUND);
  *out = *value;
  return Success();
}

Status Store::EnumValue(const KeyRef* key, DWORD index, Value* out) {
  if (key == nullptr) return Failure(ERROR_INVALID_HANDLE);
  Transaction call(*this);
  if (Status status = call.Begin(*key, false); !status.ok()) return status;
  const std::vector<Value>& values = call.chain.back()->values();
  if (index >= values.size()) return Failure(ERROR_NO_MORE_ITEMS);
  *out = values[index];
  return Success();
}

Status Store::EnumKey(const KeyRef* key, DWORD index, std::u16string* name) {
  if (key == nullptr) return Failure(ERROR_INVALID_HANDLE);
  Transaction call(*this);
  if (Status status = call.Begin(*key, false); !status.ok()) return status;
  const auto& subkeys = call.chain.back()->subkeys();
  if (index >= subkeys.size()) return Failure(ERROR_NO_MORE_ITEMS);
  *name = subkeys[index]->name();
  return Success();
}

Status Store::DeleteKey(const KeyRef* from, std::u16string_view path) {
  if (from == nullptr) return Failure(ERROR_INVALID_HANDLE);
  Elements elements;
  if (Status status = SplitPath(path, &elements); !status.ok()) return status;
  Transaction call(*this);
  if (Status status = call.Begin(*from, false); !status.ok()) return status;
  bool created = false;
  if (Status status = call.Walk(elements, false, false, &created); !status.ok()) return status;
  // Only a key without subkeys can go; a root never can.
  if (call.chain.size() < 2 || !call.chain.back()->subkeys().empty()) return Failure(ERROR_ACCESS_DENIED);
  Key& parent = *call.chain[call.chain.size() - 2];
  const bool persistent = !call.chain.back()->is_volatile();
  parent.RemoveSubkey(call.chain.back()->name());
  parent.set_modif(CurrentFileTime());
  call.dirty = persistent;
  return call.Commit();
}

Status Store::Close() {
  if (open_keys_ > 0) --open_keys_;
  Status result;
  for (const Root root : {Root::kMachine, Root::kUser}) {
    if (!deferred_[Index(root)]) continue;
    deferred_[Index(root)] = false;
    Combine(result, files_[Index(root)].Save(&lock_));
  }
  Settle();
  return result;
}

Status Store::Flush() {
  const int open = std::exchange(open_keys_, 0);
  Status result = Close();
  open_keys_ = open;
  return result;
}

}  // namespace wineprefix
