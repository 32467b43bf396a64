// Where the backends tell the user why a call failed: one line each, as the
// failure's Status message says it.
#pragma once

#include <string_view>

#include "platform/facility.h"

namespace plat {

class Diagnostics {
 public:
  virtual ~Diagnostics() = default;
  // One line, without its newline.
  virtual void Diagnose(std::string_view line) = 0;
};

template <>
Diagnostics& Backend<Diagnostics>();

}  // namespace plat
