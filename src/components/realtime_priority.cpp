#include "components/realtime_priority.h"

#include "components/realtime_kit.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace tarnveil {

bool requestRealtimeScheduling()
{
    sched_param parameters{};
    parameters.sched_priority = sched_get_priority_min(SCHED_FIFO);
    // Refused with EPERM where neither privilege nor RLIMIT_RTPRIO allows it;
    // a desktop then grants it through its broker, as it does to sound servers.
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters) == 0 || requestRealtimeFromKit(gettid());
}

} // namespace tarnveil
