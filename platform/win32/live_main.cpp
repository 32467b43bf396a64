// skelvin_live: the registry calls and the restart request of the native
// program, made in a prefix's running Wine. It serves the calls read from
// standard input (platform/remote.h) on this backend's own facilities and
// writes the replies to standard output, until its input ends; its exit
// status is 0 when the input ended between calls, else 1.
#include "platform/exitwindows.h"
#include "platform/registry.h"
#include "platform/remote.h"
#include "platform/types.h"
#include "platform/win32/win32.h"

namespace {

// The process's standard handles as the byte stream.
class StandardStream final : public plat::remote::Channel {
 public:
  StandardStream() : in_(::GetStdHandle(STD_INPUT_HANDLE)), out_(::GetStdHandle(STD_OUTPUT_HANDLE)) {}

  bool Read(void* data, std::size_t size) override {
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
      ::DWORD got = 0;
      if (::ReadFile(in_, bytes, static_cast<::DWORD>(size), &got, nullptr) == 0 || got == 0) return false;
      bytes += got;
      size -= got;
    }
    return true;
  }

  bool Write(const void* data, std::size_t size) override {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
      ::DWORD put = 0;
      if (::WriteFile(out_, bytes, static_cast<::DWORD>(size), &put, nullptr) == 0 || put == 0) return false;
      bytes += put;
      size -= put;
    }
    return true;
  }

 private:
  ::HANDLE in_;
  ::HANDLE out_;
};

}  // namespace

int main() {
  StandardStream stream;
  return plat::remote::Serve(stream, plat::Backend<plat::Registry>(), plat::Backend<plat::Shutdown>()) ? 0 : 1;
}
