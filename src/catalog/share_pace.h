#pragma once

#include <algorithm>
#include <chrono>

namespace tarnveil {

// A share is looked at no more often than this...
inline constexpr std::chrono::milliseconds ShareLookEvery{5000};

// ...and after a look that made `calls` calls, left alone a second per call:
// an idle console makes at most a call a second on the logger's file server,
// whatever the archive's size.
inline std::chrono::milliseconds pauseAfterShareLook(int calls)
{
    return std::max(ShareLookEvery, std::chrono::milliseconds(1000) * calls);
}

} // namespace tarnveil
