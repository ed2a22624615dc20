#pragma once

#include <chrono>
#include <cstdint>

namespace tarnveil {

// Older dated folders are looked at about this often: a log the logger's
// clean-up deleted leaves the list within it.
inline constexpr int64_t OlderFoldersEveryS = 3600;

// Seconds on the steady clock, never 0 (0 marks "not since start").
inline int64_t steadySeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
               .count()
        + 1;
}

} // namespace tarnveil
