#pragma once

#include <algorithm>
#include <chrono>

namespace tarnveil {

// A share is looked at no more often than this...
inline constexpr std::chrono::milliseconds ShareLookEvery{5000};
// ...and no less often than this, so that a new log shows within a minute
// even after a look that read a big folder anew.
inline constexpr std::chrono::milliseconds ShareLookAtLeastEvery{60000};

// After a look that made `calls` calls, the share is left alone a second per
// call: an idle console makes at most a call a second on the logger's file
// server, whatever the archive's size. Only a folder that changed (read anew,
// a page of names a call) can cost more, once per change.
inline std::chrono::milliseconds pauseAfterShareLook(int calls)
{
    return std::clamp(std::chrono::milliseconds(1000) * calls, ShareLookEvery, ShareLookAtLeastEvery);
}

} // namespace tarnveil
