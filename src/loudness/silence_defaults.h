#pragma once

#include <cstdint>

namespace tarnveil {

// What counts as dead air unless the operator says otherwise: no sample at or
// above -50 dBFS for 10 seconds.
inline constexpr double DefaultSilenceThresholdDbfs = -50.0;
inline constexpr int64_t DefaultSilenceMinimumMs = 10'000;

} // namespace tarnveil
