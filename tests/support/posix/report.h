// A store status as the registry backend delivers it: its message told
// through plat::Diagnostics, its code returned.
#pragma once

#include "platform/diagnostics.h"
#include "vocab/status.h"

namespace testenv {

inline vocab::LONG Report(const vocab::Status& status) {
  if (!status.ok() && !status.message.empty()) plat::Use<plat::Diagnostics>().Diagnose(status.message);
  return status.code;
}

}  // namespace testenv
