// RegistryEnv natively, in one of three ways that SKELVIN_TEST_REGISTRY picks:
//  - unset: each test gets a new temporary prefix, worked on offline;
//  - "remote": the same, with every call carried through the wire format of
//    the live path (platform/remote.h) to the prefix's registry, served on a
//    thread of this process;
//  - "live": the environment's prefix, whose wineserver runs (the test's
//    script starts it): the calls go through the prefix's running Wine, and
//    each test works under a unique key of HKEY_CURRENT_USER, as the Windows
//    build's tests do.
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/codepage.h"
#include "platform/exitwindows.h"
#include "platform/posix/registry.h"
#include "platform/remote.h"
#include "platform/utf8.h"
#include "tests/support/posix/temp_prefix.h"
#include "tests/support/registry_env.h"
#include "wineprefix/prefix.h"
#include "winereg/reader.h"
#include "winereg/writer.h"

namespace testenv {
namespace {

std::string_view Mode() {
  const char* mode = std::getenv("SKELVIN_TEST_REGISTRY");
  return mode != nullptr ? mode : "";
}

// One end of a socket pair as the stream.
class SocketStream final : public plat::remote::Channel {
 public:
  explicit SocketStream(int fd) : fd_(fd) {}
  ~SocketStream() override { ::close(fd_); }
  SocketStream(const SocketStream&) = delete;
  SocketStream& operator=(const SocketStream&) = delete;
  bool Read(void* data, std::size_t size) override {
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
      const ssize_t got = ::read(fd_, bytes, size);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      bytes += got;
      size -= static_cast<std::size_t>(got);
    }
    return true;
  }
  bool Write(const void* data, std::size_t size) override {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t put = ::send(fd_, bytes, size, MSG_NOSIGNAL);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      bytes += put;
      size -= static_cast<std::size_t>(put);
    }
    return true;
  }
  void Shut() { ::shutdown(fd_, SHUT_RDWR); }

 private:
  int fd_;
};

// Restart requests are no part of the registry suites.
class NoShutdown final : public plat::Shutdown {
 public:
  plat::BOOL ExitWindowsEx(plat::UINT, plat::DWORD) override { return 0; }
};

// A connected socket pair: [0] for the server, [1] for the client.
std::array<int, 2> SocketPair() {
  std::array<int, 2> fds{-1, -1};
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds.data()) != 0) std::abort();
  return fds;
}

// `served` reached through the wire format, served on a thread.
class Loopback {
 public:
  explicit Loopback(plat::Registry& served, std::array<int, 2> fds = SocketPair())
      : server_side_(fds[0]), client_side_(fds[1]) {
    thread_ = std::thread([this, &served] { (void)plat::remote::Serve(server_side_, served, no_shutdown_); });
    if (!plat::remote::ReadGreeting(client_side_)) std::abort();
  }
  ~Loopback() {
    client_side_.Shut();
    thread_.join();
  }
  Loopback(const Loopback&) = delete;
  Loopback& operator=(const Loopback&) = delete;
  plat::Registry& api() { return client_; }

 private:
  NoShutdown no_shutdown_;
  SocketStream server_side_;
  SocketStream client_side_;
  plat::remote::RemoteRegistry client_{client_side_};
  std::thread thread_;
};

}  // namespace

struct RegistryEnv::Impl {
  std::optional<TempPrefix> prefix;
  std::unique_ptr<plat::posix::PrefixRegistry> registry;
  std::unique_ptr<Loopback> loopback;
  std::optional<plat::ScopedUse<plat::Registry>> installed;
  plat::Registry& api() { return loopback ? loopback->api() : *registry; }
};

RegistryEnv::RegistryEnv() : impl_(std::make_unique<Impl>()) {
  if (Mode() == "live") {
    static unsigned counter = 0;
    root_ = plat::HKEY_CURRENT_USER;
    base_ =
        plat::FromAnsi("Software\\SkelvinPatchTests\\" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    impl_->registry = std::make_unique<plat::posix::PrefixRegistry>(wineprefix::DefaultPrefix());
  } else {
    root_ = plat::HKEY_LOCAL_MACHINE;
    base_ = u"Software\\SkelvinTest";
    impl_->prefix.emplace();
    impl_->registry = std::make_unique<plat::posix::PrefixRegistry>(impl_->prefix->path());
    if (Mode() == "remote") impl_->loopback = std::make_unique<Loopback>(*impl_->registry);
  }
  impl_->installed.emplace(impl_->api());
  if (Mode() == "live") DeleteTree(api(), root_, plat::ToAnsi(base_));
}

RegistryEnv::~RegistryEnv() {
  if (Mode() == "live") {
    DeleteTree(api(), root_, plat::ToAnsi(base_));
    (void)api().RegDeleteKeyA(root_, "Software\\SkelvinPatchTests");
  }
}

plat::Registry& RegistryEnv::api() { return impl_->api(); }

void RegistryEnv::FillValues(const std::string& path, int count) {
  plat::HKEY key = 0;
  (void)api().RegCreateKeyExA(root_, path.c_str(), 0, nullptr, 0, 0x3F, nullptr, &key, nullptr);
  if (!impl_->prefix) {
    // Through the running Wine, one call per value.
    for (int i = 0; i < count; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "V%05d", i);
      (void)api().RegSetValueExA(key, name, 0, plat::REG_SZ, reinterpret_cast<const plat::BYTE*>(name),
                                 static_cast<plat::DWORD>(std::strlen(name) + 1));
    }
    (void)api().RegCloseKey(key);
    return;
  }
  (void)api().RegCloseKey(key);
  // Written straight into the prefix's file: one save instead of `count`.
  winereg::ParseError error;
  std::optional<winereg::Hive> hive =
      winereg::Parse(winereg::ParseInput::FromString(impl_->prefix->Read("system.reg")), &error);
  winereg::Key* target = &hive->root;
  std::size_t start = 0;
  const std::u16string wide = plat::FromAnsi(path);
  while (start <= wide.size()) {
    std::size_t end = wide.find(u'\\', start);
    if (end == std::u16string::npos) end = wide.size();
    target = target->FindSubkey(std::u16string_view(wide).substr(start, end - start));
    start = end + 1;
  }
  for (int i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "V%05d", i);
    const std::u16string text = plat::FromAnsi(name);
    std::vector<plat::BYTE> data((text.size() + 1) * 2, 0);
    for (std::size_t k = 0; k < text.size(); ++k) data[2 * k] = static_cast<plat::BYTE>(text[k]);
    target->SetValue(text, plat::REG_SZ, std::move(data));
  }
  impl_->prefix->Write("system.reg", winereg::Save(*hive));
}

}  // namespace testenv
