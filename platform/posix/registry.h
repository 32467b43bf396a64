// The registry functions over a Wine prefix's registry files, or through the
// prefix's running Wine while a wineserver runs for it.
//
// HKEY_LOCAL_MACHINE is the prefix's system.reg, HKEY_CURRENT_USER its
// user.reg; any other root is an invalid handle. What a call does to them,
// and when the prefix lock is held, is the store's (wineprefix/store.h):
// every change is saved durably before the call returns, but for keys that
// RegCreateKeyExA creates, saved with the next change, or when a handle
// closes (RegCloseKey then returns the save's status), or at the latest when
// the object goes. Here are the Win32 argument rules, the handles, strings
// in Windows-1252 and the buffer rules of the "A" calls; a failure's
// message goes to plat::Diagnostics once.
//
// A call the store refuses because a wineserver runs for the prefix itself
// (nothing has been written then) starts a LiveSession instead, and is made
// through it; so is every later call that starts from a root, and every call
// on a key opened there, as long as the session lasts. Those calls are Wine's
// own, and their answers Wine's. When the session cannot start, the call
// fails with the refusal, its cause and a way out. When the session breaks
// (the server or the helper went away) a call on it fails with
// ERROR_BROKEN_PIPE, and calls from a root work on the files again once the
// server is gone, under the lock.
#pragma once

#include <filesystem>
#include <map>
#include <memory>

#include "platform/posix/live.h"
#include "platform/registry.h"
#include "wineprefix/store.h"

namespace plat::posix {

class PrefixRegistry final : public Registry {
 public:
  // An empty `prefix` (Wine would refuse the environment's): every call that
  // reaches the files fails with ERROR_BAD_PATHNAME, saying why. Saves make
  // their file-system calls through `files`.
  explicit PrefixRegistry(std::filesystem::path prefix, wineprefix::FileSystem& files = wineprefix::PosixFileSystem());
  ~PrefixRegistry() override;
  PrefixRegistry(const PrefixRegistry&) = delete;
  PrefixRegistry& operator=(const PrefixRegistry&) = delete;

  [[nodiscard]] LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                   HKEY* phkResult) override;
  [[nodiscard]] LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, char* lpClass, DWORD dwOptions,
                                     REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                                     HKEY* phkResult, DWORD* lpdwDisposition) override;
  [[nodiscard]] LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                                    const BYTE* lpData, DWORD cbData) override;
  [[nodiscard]] LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                                      BYTE* lpData, DWORD* lpcbData) override;
  [[nodiscard]] LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                   DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override;
  [[nodiscard]] LONG RegEnumKeyA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD cchName) override;
  [[nodiscard]] LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) override;
  [[nodiscard]] LONG RegCloseKey(HKEY hKey) override;

  const std::filesystem::path& prefix() const { return store_.prefix(); }
  // Saves the keys created since the last save, and lets the lock go.
  [[nodiscard]] LONG Flush();

  // The restart request made in the prefix's running Wine, when the calls
  // go through it, or when no call has reached the prefix yet and a
  // wineserver runs for it: true, with Wine's answer in `*accepted` (FALSE,
  // the refusal told through Diagnostics, when its Wine cannot be reached).
  // False when the calls worked on the files (no server ran when they took
  // the lock) or none runs: nothing was asked.
  [[nodiscard]] bool LiveExitWindows(UINT uFlags, DWORD dwReserved, BOOL* accepted);
  // Whether the calls go through a running Wine now.
  bool live() const { return live_ != nullptr && live_->registry().connected(); }

 private:
  [[nodiscard]] LONG Deliver(const wineprefix::Status& status);
  // The key a handle names; nullptr for none.
  const wineprefix::KeyRef* Find(HKEY hKey) const;
  // An open or create in the store; `retry` makes the call again through the
  // running Wine when the store refuses it for that.
  template <class Retry>
  LONG Open(HKEY hKey, const char* lpSubKey, const wineprefix::OpenMode& mode, HKEY* phkResult, DWORD* lpdwDisposition,
            Retry retry);

  // Whether a call on `hKey` goes through the session: a root while it is
  // connected, or a key opened there; `*remote` is the helper's handle.
  bool Routed(HKEY hKey, HKEY* remote) const;
  // An offline call's answer; when the store refused it for the prefix's own
  // running wineserver, the session starts and the call is made again
  // through it (`retry`; `*retried` says so).
  template <class Retry>
  LONG Offline(const wineprefix::Status& status, Retry retry, bool* retried = nullptr);
  // Starts the session for `server`: ERROR_SUCCESS, or the refusal's code
  // with the refusal told.
  LONG GoLive(pid_t server);
  // A call's status through the session; a broken connection is told once.
  LONG FromLive(LONG status);
  // An open or create through the session: its key gets a handle here.
  LONG LiveOpened(LONG status, HKEY remote, HKEY* phkResult);
  HKEY NewHandle();

  wineprefix::Store store_;
  std::map<HKEY, wineprefix::KeyRef> handles_;
  std::unique_ptr<LiveSession> live_;
  std::map<HKEY, HKEY> live_handles_;  // this side's handle, the helper's
  bool told_broken_ = false;
  HKEY next_handle_ = 0x20;
};

// The backend's registry (Backend<Registry>), over the environment's prefix.
PrefixRegistry& ProcessRegistry();

}  // namespace plat::posix
