// Diagnostics on standard error, standard output flushed first so that the
// two interleave as written.
#include "platform/diagnostics.h"

#include <cstdio>

#include "platform/posix/deliver.h"
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

namespace posix {

vocab::LONG Deliver(const vocab::Status& status) {
  if (!status.ok() && !status.message.empty()) Use<Diagnostics>().Diagnose(status.message);
  return status.code;
}

}  // namespace posix

template <>
Diagnostics& Backend<Diagnostics>() {
  static StandardError diagnostics;
  return diagnostics;
}

}  // namespace plat
