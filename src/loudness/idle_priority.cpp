#include "loudness/idle_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace tarnveil {

void runAtIdlePriority()
{
    const sched_param param{};
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) != 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}

} // namespace tarnveil
