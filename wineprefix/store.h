// A prefix's registry as Wine keeps it: HKEY_LOCAL_MACHINE in system.reg,
// HKEY_CURRENT_USER in user.reg, with wineserver's rules for key names,
// symbolic-link keys, volatile keys and the 32-bit view. Every operation is
// one call's worth of work and gives a Status; the store never prints.
//
// THE SET-UP RULE. A call takes the prefix lock at most once, looks for
// running wineservers at most once before it loads anything, and loads each
// file at most once (a file unchanged since it was last seen is not read
// again, also not after this store's own save); a save looks for wineservers
// once more, just before its rename. Within a call nothing is walked or
// converted twice: the key a call starts from is resolved once, and a path
// is walked once (a create that misses after links or the 32-bit view's
// redirection on the way walks it a second time, element by element from
// the start, as Wine's own create does).
//
// The lock, once taken, is kept while a key is open (Open gave one that
// Close has not ended yet) or a created key waits to be saved, so that a
// handle's calls take it once; it is let go when neither is left, and by
// Flush. Keys that a create makes are saved with the next change, when a
// key closes, or by Flush.
//
// Symbolic-link keys are followed as wineserver follows them: the
// SymbolicLinkValue, of any type, read as UTF-16, names a key from
// \REGISTRY; links on the way are followed in turn, kMaxLinkDepth deep at
// most, and a deeper chain or a loop fails with ERROR_INVALID_PARAMETER.
// Creating through a link whose target lacks only its last key creates that
// key; DeleteKey deletes a link's target. A target in neither file fails with
// ERROR_NOT_SUPPORTED. A link key takes no value but a REG_LINK
// SymbolicLinkValue (else ERROR_ACCESS_DENIED) and never a subkey.
//
// On a 64-bit prefix both roots are seen as a 32-bit program sees them under
// Wine, unless a call asks for the 64-bit view: a key with a Wow6432Node
// child leads into that child (HKLM\Software\Classes\Wow6432Node, the shared
// one, falls back on its parent for the keys it lacks).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <utility>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "wineprefix/errors.h"
#include "wineprefix/filesystem.h"
#include "wineprefix/hive_file.h"
#include "wineprefix/lock.h"

namespace wineprefix {

enum class Root { kMachine = 0, kUser = 1 };

// A key between calls: its file, and the stored names of the keys from the
// file's root down to it.
struct KeyRef {
  Root root = Root::kMachine;
  std::vector<std::u16string> names;
};

// How Open goes from a key to a path below it.
struct OpenMode {
  bool create = false;
  bool view64 = false;         // the 64-bit view (no Wow6432Node redirection)
  bool make_volatile = false;  // keys created are volatile
  std::u16string class_name;   // when not empty, given to the key a create reaches
};

class Store {
 public:
  // An empty `prefix` (Wine would refuse the environment's): every call that
  // reaches the files fails with ERROR_BAD_PATHNAME, saying why. Saves make
  // their file-system calls through `files`.
  explicit Store(std::filesystem::path prefix, FileSystem& files = PosixFileSystem());
  // Saves what is left; a failure has no one to go to (Flush first for it).
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // A `key` of nullptr is a handle that names no key: ERROR_INVALID_HANDLE,
  // where the call checks it. Paths are relative, elements separated by
  // backslashes (doubled and trailing ones ignored, a leading one refused).

  // Opens, or with `mode.create` creates, `path` below `*from`: the key
  // reached in `reached`, `created` whether a key was made. Keys created
  // before a failure stay, saved at once.
  [[nodiscard]] Status Open(const KeyRef* from, std::u16string_view path, const OpenMode& mode, KeyRef* reached,
                            bool* created);
  // Sets a value (text types as UTF-16 data) and saves it; a value set to
  // what it holds changes nothing.
  [[nodiscard]] Status SetValue(const KeyRef* key, std::u16string_view name, vocab::DWORD type,
                                std::vector<vocab::BYTE> data);
  [[nodiscard]] Status QueryValue(const KeyRef* key, std::u16string_view name, winereg::Value* out);
  // The value or subkey at `index`: ERROR_NO_MORE_ITEMS past the last.
  [[nodiscard]] Status EnumValue(const KeyRef* key, vocab::DWORD index, winereg::Value* out);
  [[nodiscard]] Status EnumKey(const KeyRef* key, vocab::DWORD index, std::u16string* name);
  // Deletes the key at `path` below `*from` (opened as Open opens it), which
  // must have no subkeys; a root never goes.
  [[nodiscard]] Status DeleteKey(const KeyRef* from, std::u16string_view path);
  // One key Open gave is no longer used: saves the keys created since the
  // last save; the lock goes when no key is left open.
  [[nodiscard]] Status Close();
  // Saves the keys created since the last save, and lets the lock go.
  [[nodiscard]] Status Flush();

  const std::filesystem::path& prefix() const { return prefix_; }
  // True once after a call made the prefix directory itself (the caller
  // tells the user, as Wine does when it makes one).
  [[nodiscard]] bool TakeCreatedPrefix() { return std::exchange(created_prefix_, false); }

  // The pid of the wineserver running for the prefix itself that refused the
  // last call's set-up (ERROR_BUSY); 0 when that call was not refused for it.
  pid_t running_server() const { return running_server_; }

  // What the calls so far have set up, for tests of the set-up rule.
  struct SetUps {
    int locks = 0;  // prefix locks taken
    int loads = 0;  // file loads asked for (a file unchanged is not read again)
  };
  const SetUps& set_ups() const { return set_ups_; }

 private:
  class Transaction;
  friend class Transaction;

  // Lets the lock go when nothing needs it any more.
  void Settle();

  std::filesystem::path prefix_;
  HiveFile files_[2];
  bool deferred_[2] = {false, false};  // per file: created keys not saved yet
  int open_keys_ = 0;
  PrefixLock lock_;  // while deferred_ or open_keys_ need it, and during a call
  SetUps set_ups_;
  bool created_prefix_ = false;
  pid_t running_server_ = 0;
};

}  // namespace wineprefix
