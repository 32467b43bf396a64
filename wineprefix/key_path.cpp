// Paths through a prefix's keys as wineserver walks them: symbolic-link
// keys, the 32-bit view and its shared Classes node, created keys.
#include <algorithm>
#include <utility>

#include "wineprefix/internal/names.h"
#include "wineprefix/internal/transaction.h"

namespace wineprefix {

using vocab::ERROR_BAD_PATHNAME;
using vocab::ERROR_CHILD_MUST_BE_VOLATILE;
using vocab::ERROR_FILE_NOT_FOUND;
using vocab::ERROR_INVALID_PARAMETER;
using vocab::ERROR_MORE_DATA;
using vocab::ERROR_NOT_SUPPORTED;
using vocab::kMaxAnsiPathLength;
using vocab::kMaxKeyElementLength;
using vocab::kMaxKeyNameLength;
using vocab::kMaxLinkDepth;

using internal::kLinkValue;
using internal::kUserSid;
using internal::kWowNode;
using winereg::CurrentFileTime;
using winereg::Key;
using winereg::SameName;
using winereg::Value;

namespace {

bool IsWowNode(std::u16string_view name) { return SameName(name, kWowNode); }

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

}  // namespace

Status SplitPath(std::u16string_view path, Elements* elements) {
  // The "A" calls take as many units as their path buffer holds.
  if (path.size() > kMaxAnsiPathLength) return Failure(ERROR_MORE_DATA);
  if (!path.empty() && path[0] == u'\\') return Failure(ERROR_BAD_PATHNAME);
  std::size_t start = 0;
  while (start < path.size()) {
    const std::size_t end = std::min(path.find(u'\\', start), path.size());
    if (end > start) {
      if (end - start > kMaxKeyElementLength) return Failure(ERROR_INVALID_PARAMETER);
      elements->emplace_back(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return Success();
}

// HKLM\Software\Classes\Wow6432Node: the shared 32-bit view of the classes,
// whose missing keys are looked up in its 64-bit parent.
bool Store::Transaction::Shared() const {
  return root == Root::kMachine && chain.size() == 4 && SameName(chain[1]->name(), u"Software") &&
         SameName(chain[2]->name(), u"Classes") && IsWowNode(chain[3]->name());
}

// The child that leads a 32-bit program on from `key`: its Wow6432Node,
// unless the key is one itself.
Key* Store::Transaction::WowChild(const Key& key, Trace* trace) const {
  Key* node = IsWowNode(key.name()) ? nullptr : key.FindSubkey(kWowNode);
  if (node != nullptr && trace != nullptr) trace->bent = true;
  return node;
}

// Where a link key leads, as wineserver follows it: its SymbolicLinkValue,
// of any type, read as UTF-16 and looked up from the registry's root, the
// links on the way followed in turn, kMaxLinkDepth deep at most. With
// `missing`, a target whose last key does not exist leads to its parent and
// gives the name to create there.
Status Store::Transaction::Follow(const Key& link, int depth, std::u16string* missing, Root* hive, Chain* keys) {
  if (depth > kMaxLinkDepth) return Failure(ERROR_INVALID_PARAMETER);
  const Value* value = link.FindValue(kLinkValue);
  if (value == nullptr || value->data.size() < 2 || value->data[0] != '\\' || value->data[1] != 0) {
    return Failure(ERROR_FILE_NOT_FOUND);
  }
  const std::u16string target = winereg::Utf16Text(value->data);
  const std::vector<std::u16string_view> names = SplitTarget(std::u16string_view(target).substr(1));
  // \REGISTRY holds Machine and User, and User holds .Default and the user's
  // SID. Only system.reg and user.reg are here; a name missing on the way
  // is not found, as in wineserver, or could not be created.
  const auto absent = [&](std::size_t i) {
    return Failure(i + 1 == names.size() && missing != nullptr ? ERROR_NOT_SUPPORTED : ERROR_FILE_NOT_FOUND);
  };
  if (names.size() < 2 || !SameName(names[0], u"REGISTRY")) return Failure(ERROR_NOT_SUPPORTED);
  Root id = Root::kMachine;
  std::size_t first = 2;
  if (!SameName(names[1], u"Machine")) {
    if (!SameName(names[1], u"User")) return absent(1);
    if (names.size() == 2 || SameName(names[2], u".Default")) return Failure(ERROR_NOT_SUPPORTED);
    if (!SameName(names[2], kUserSid)) return absent(2);
    id = Root::kUser;
    first = 3;
  }
  if (id == Root::kUser) {
    if (Status status = LoadUser(); !status.ok()) return status;
  }
  Chain found{&(id == Root::kMachine ? machine_ : user_)->root};
  for (std::size_t i = first; i < names.size(); ++i) {
    if (found.back()->is_link()) {
      if (Status status = Follow(*found.back(), depth + 1, nullptr, &id, &found); !status.ok()) return status;
    }
    if (names[i].size() > kMaxKeyNameLength) return Failure(ERROR_INVALID_PARAMETER);
    Key* next = found.back()->FindSubkey(names[i]);
    if (next == nullptr) {
      if (missing == nullptr || i + 1 < names.size()) return Failure(ERROR_FILE_NOT_FOUND);
      *missing = names[i];
      break;
    }
    found.push_back(next);
  }
  if (found.back()->is_link()) {
    if (Status status = Follow(*found.back(), depth + 1, missing, &id, &found); !status.ok()) return status;
  }
  *hive = id;
  *keys = std::move(found);
  return Success();
}

// Creates a subkey of the key reached and moves to it.
Status Store::Transaction::Add(std::u16string_view name, bool make_volatile) {
  Key* parent = chain.back();
  if (parent->is_volatile() && !make_volatile) return Failure(ERROR_CHILD_MUST_BE_VOLATILE);
  const std::int64_t now = CurrentFileTime();
  Key& key = parent->AddSubkey(name, now);
  key.set_volatile(make_volatile);
  parent->set_modif(now);
  chain.push_back(&key);
  dirty = true;
  return Success();
}

// One lookup of `elements` from the key reached, as wineserver's open_key
// and create_key make it: links followed, a 32-bit program led into
// Wow6432Node children; with `create`, a missing last key (or the missing
// last key of a link's target) is created.
Status Store::Transaction::Lookup(const Elements& elements, bool create, bool make_volatile, bool* created,
                                  Trace* trace) {
  *created = false;
  if (wow && !(elements.size() == 1 && IsWowNode(elements[0]))) {
    // A key whose Wow6432Node child is the shared one is looked in there.
    if (Key* node = WowChild(*chain.back(), trace)) {
      chain.push_back(node);
      if (!Shared()) chain.pop_back();
    }
  }
  for (std::size_t i = 0; i < elements.size(); ++i) {
    if (chain.back()->is_link()) {
      if (trace != nullptr) trace->bent = true;
      if (Status status = Follow(*chain.back(), 1, nullptr, &root, &chain); !status.ok()) return status;
    }
    Key* found = chain.back()->FindSubkey(elements[i]);
    if (found == nullptr && wow && Shared()) {
      if (trace != nullptr) trace->bent = true;
      chain.pop_back();  // what the shared keys lack, their 64-bit parent may have
      found = chain.back()->FindSubkey(elements[i]);
    }
    if (found == nullptr) {
      if (!create || i + 1 < elements.size()) {
        if (trace != nullptr) trace->missing = i;
        return Failure(ERROR_FILE_NOT_FOUND);
      }
      *created = true;
      return Add(elements[i], make_volatile);
    }
    chain.push_back(found);
    const bool rest_is_wow_node = i + 2 == elements.size() && IsWowNode(elements[i + 1]);
    if (wow && i + 1 < elements.size() && !rest_is_wow_node) {
      if (Key* node = WowChild(*found, trace)) chain.push_back(node);
    }
  }
  if (!elements.empty() && chain.back()->is_link()) {
    std::u16string missing;
    if (Status status = Follow(*chain.back(), 1, create ? &missing : nullptr, &root, &chain); !status.ok()) {
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
    if (Key* node = WowChild(*chain.back(), trace)) {
      chain.push_back(node);
      if (Shared()) chain.pop_back();
    }
  }
  return Success();
}

// In one lookup; when a create finds a key on the way missing, one lookup
// (or create) for each element in turn, as Wine's create retries. Those
// before the missing one are looked up again only when the first lookup
// followed a link or the 32-bit view on the way there: otherwise each of
// them would reach just what the first lookup reached.
Status Store::Transaction::Walk(const Elements& elements, bool create, bool make_volatile, bool* created) {
  const Root start_root = root;
  const std::size_t start_depth = chain.size();
  Chain start;
  Trace trace;
  if (create && elements.size() >= 2) start = chain;  // kept for a second walk
  Status status = Lookup(elements, create, make_volatile, created, &trace);
  if (!create || status.code != ERROR_FILE_NOT_FOUND || elements.size() < 2) return status;
  std::size_t first = 0;
  if (!trace.bent && trace.missing < elements.size() && root == start_root && chain.size() >= start_depth) {
    first = trace.missing;  // the chain is at the missing key's parent
  } else {
    root = start_root;
    chain = std::move(start);
  }
  for (std::size_t i = first; i < elements.size(); ++i) {
    status = Lookup({elements[i]}, true, make_volatile, created, nullptr);
    if (!status.ok()) break;
  }
  return status;
}

}  // namespace wineprefix
