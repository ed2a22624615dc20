#pragma once

#include <sys/types.h>

namespace tarnveil {

// Moves the calling thread to real-time scheduling (first-in first-out, at the
// lowest real-time priority, as PortAudio puts its callback thread) where the
// system grants it: to a process with the privilege, or within its
// RLIMIT_RTPRIO, or else through the desktop's real-time broker (round robin
// at the same priority). Elsewhere the thread keeps its ordinary scheduling
// and plays as before. Returns whether it was granted.
bool requestRealtimeScheduling();

// The same for another thread of this process, by its kernel thread id.
bool requestRealtimeScheduling(pid_t thread);

} // namespace tarnveil
