// FILETIME units: 100 ns ticks since 1601-01-01 UTC.
#pragma once

#include <cstdint>

namespace winereg::internal {

inline constexpr std::int64_t kTicksPerSecond = 10000000;
inline constexpr std::int64_t kTicks1601To1970 = std::int64_t{86400} * (369 * 365 + 89) * kTicksPerSecond;

}  // namespace winereg::internal
