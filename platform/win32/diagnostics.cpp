// Diagnostics for a debugger: the Windows program has no console to write to.
#include "platform/diagnostics.h"

#include <string>

#include "platform/win32/win32.h"

namespace plat {
namespace {

class DebugOutput final : public Diagnostics {
 public:
  void Diagnose(std::string_view line) override {
    const std::string text = std::string(line) + "\n";
    ::OutputDebugStringA(text.c_str());
  }
};

}  // namespace

template <>
Diagnostics& Backend<Diagnostics>() {
  static DebugOutput diagnostics;
  return diagnostics;
}

}  // namespace plat
