#include "share/posted_call.h"

namespace tarnveil {

std::recursive_mutex& postedCallLock()
{
    static std::recursive_mutex lock;
    return lock;
}

} // namespace tarnveil
