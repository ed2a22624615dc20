#pragma once

#include <sys/types.h>

namespace tarnveil {

// Asks RealtimeKit, the broker through which desktop sound servers get
// real-time scheduling, to move thread `tid` of this process to real-time
// scheduling at the lowest priority. The broker grants it only to a process
// whose real-time threads cannot hold a core for long, so the process's
// RLIMIT_RTTIME is first lowered to the broker's bound. Blocks for the round
// trip; returns false at once where no broker answers on the system bus.
bool requestRealtimeFromKit(pid_t tid);

} // namespace tarnveil
