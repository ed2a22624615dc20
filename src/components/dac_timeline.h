#pragma once

#include <cstdint>

namespace tarnveil {

// When each buffer handed to the device will sound, on the steady clock.
// Devices say so with every buffer, but some (ALSA's PulseAudio plug-in among
// them) say "now" for the buffers that fill their queue at the start, before
// the sound server has told them its latency: taken at their word, the
// position would run a whole queue ahead for the first moments of a playback.
// Buffers sound one after the other, so a buffer said to sound while the one
// before it still plays is due once that one has played, though never later
// than the device's whole queue from now. A device that says a later time (an
// underflow left a gap) is believed, and reports that differ from the chain
// by less than half a buffer are taken as they are, so that the device's own
// clock, not a running sum, keeps the time over hours.
// Callback thread only: no locks, no allocation.
class DacTimeline {
public:
    // A new stream's first buffer owes nothing to the last one of the one before.
    void restart() { nextNs_ = 0; }
    int64_t bufferDue(int64_t nowNs, int64_t reportedNs, int64_t bufferNs, int64_t queueNs);

private:
    int64_t nextNs_ = 0; // when the buffer handed over last has played; 0 before the first
};

} // namespace tarnveil
