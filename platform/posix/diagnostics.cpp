// Diagnostics on standard error, standard output flushed first so that the
// two interleave as written.
#include "platform/diagnostics.h"

#include <cstdio>

#include "platform/posix/output.h"

namespace plat {
namespace {

class StandardError final : public Diagnostics {
 public:
  void Diagnose(std::string_view line) override {
    posix::WriteOutput({});  // what the run said so far comes first
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    std::fflush(stderr);
  }
};

}  // namespace

template <>
Diagnostics& Backend<Diagnostics>() {
  static StandardError diagnostics;
  return diagnostics;
}

}  // namespace plat
