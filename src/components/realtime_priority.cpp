#include "components/realtime_priority.h"

#include <pthread.h>
#include <sched.h>

namespace tarnveil {

bool requestRealtimeScheduling()
{
    sched_param parameters{};
    parameters.sched_priority = sched_get_priority_min(SCHED_FIFO);
    // Refused with EPERM where neither privilege nor RLIMIT_RTPRIO allows it.
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters) == 0;
}

} // namespace tarnveil
