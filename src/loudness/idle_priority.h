#pragma once

namespace tarnveil {

// Gives the calling thread the lowest nice value (19), so that measuring takes
// only what time playback and the GUI leave. Not SCHED_IDLE: a thread that may
// wait for the processor indefinitely would hold a drive call open meanwhile,
// and the drive's deadline would blame the share for it.
void runAtIdlePriority();

} // namespace tarnveil
