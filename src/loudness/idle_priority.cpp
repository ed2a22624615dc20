#include "loudness/idle_priority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace tarnveil {

void runAtIdlePriority()
{
    // On Linux the nice value belongs to the thread named by its id.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}

} // namespace tarnveil
