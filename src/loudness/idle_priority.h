#pragma once

namespace tarnveil {

// Lets the calling thread run only when no other thread wants the processor
// (SCHED_IDLE; where that is refused, the lowest nice value for this thread),
// so that measuring never takes time from playback or the GUI.
void runAtIdlePriority();

} // namespace tarnveil
