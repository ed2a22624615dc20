#include "components/realtime_priority.h"

#include "components/realtime_kit.h"

#include <sched.h>
#include <unistd.h>

namespace tarnveil {

bool requestRealtimeScheduling()
{
    return requestRealtimeScheduling(gettid());
}

bool requestRealtimeScheduling(pid_t thread)
{
    sched_param parameters{};
    parameters.sched_priority = sched_get_priority_min(SCHED_FIFO);
    // Refused with EPERM where neither privilege nor RLIMIT_RTPRIO allows it;
    // a desktop then grants it through its broker, as it does to sound servers.
    return sched_setscheduler(thread, SCHED_FIFO, &parameters) == 0 || requestRealtimeFromKit(thread);
}

} // namespace tarnveil
