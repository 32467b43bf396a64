// The registry and restart calls carried to another process over a byte
// stream, and served there: how the native program works through a prefix's
// running Wine (a small Windows program of this project serves them there).
//
// Each call travels whole, as the caller made it: which pointers are null,
// every in/out count, and the bytes of every buffer the callee may write.
// The server makes the same call on its own facility and sends back its
// status and everything the callee may have written; the client copies that
// back into the caller's arguments. So a remote call answers exactly as the
// served facility does, by construction.
//
// A frame is a 32-bit little-endian length and that many bytes. The server
// first sends kGreeting; then each request frame gets one reply frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/exitwindows.h"
#include "platform/registry.h"
#include "platform/types.h"

namespace plat::remote {

// The first frame the server sends: names the protocol and its version.
inline constexpr std::string_view kGreeting = "skelvin-live 1";
// A frame larger than this is a broken stream (values are at most 1 MB).
inline constexpr std::uint32_t kMaxFrame = 64U << 20;

// A byte stream to the other side. Each call moves exactly `size` bytes, or
// returns false: the stream is broken (the other side went away, or it
// cannot be read or written), and stays so.
class Channel {
 public:
  virtual ~Channel() = default;
  [[nodiscard]] virtual bool Read(void* data, std::size_t size) = 0;
  [[nodiscard]] virtual bool Write(const void* data, std::size_t size) = 0;
};

// Sends the greeting, then serves requests on `registry` and `shutdown`
// until the stream ends. False when it ended otherwise than between frames,
// or a request was malformed.
bool Serve(Channel& channel, Registry& registry, Shutdown& shutdown);

// Reads the server's greeting: false when the stream ends or carries
// anything else first.
[[nodiscard]] bool ReadGreeting(Channel& channel);

// The client. A call whose request cannot be sent, or whose reply does not
// arrive whole and well-formed, returns ERROR_BROKEN_PIPE (the open and
// create calls then set the handle to 0, as on any failure); the stream is
// then given up, and every later call fails the same way at once. Whether
// such a call took effect is unknown: the server may have made it.
class RemoteRegistry final : public Registry {
 public:
  explicit RemoteRegistry(Channel& channel) : channel_(channel) {}

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

  // False once the stream has broken.
  bool connected() const { return !broken_; }

 private:
  friend class RemoteShutdown;
  class Call;
  Channel& channel_;
  bool broken_ = false;
};

// ExitWindowsEx through the same stream: FALSE when the stream is broken.
class RemoteShutdown final : public Shutdown {
 public:
  explicit RemoteShutdown(RemoteRegistry& stream) : stream_(stream) {}
  [[nodiscard]] BOOL ExitWindowsEx(UINT uFlags, DWORD dwReserved) override;

 private:
  RemoteRegistry& stream_;
};

}  // namespace plat::remote
