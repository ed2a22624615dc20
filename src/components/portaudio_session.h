#pragma once

#include <portaudio.h>

#include <vector>

namespace tarnveil {

// Keeps PortAudio initialised while at least one session exists. GUI thread only.
class PortAudioSession {
public:
    PortAudioSession();
    ~PortAudioSession();
    PortAudioSession(const PortAudioSession&) = delete;
    PortAudioSession& operator=(const PortAudioSession&) = delete;

    // PortAudio device indices of the devices that can play, in the order the
    // operator sees them: the system default first, then the cards, without
    // ALSA's alias entries that only repeat a card.
    const std::vector<PaDeviceIndex>& outputDevices() const;

    // Forgets the device list and asks PortAudio afresh (after a sound server restart).
    void rescan();
};

// Silences stderr while it lives: PortAudio's probes of JACK and ALSA, and ALSA's
// complaints about a missing sound server, are no news for the operator (who
// gets a failure with the reason instead). GUI thread only.
class QuietStderr {
public:
    QuietStderr();
    ~QuietStderr();
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_;
};

} // namespace tarnveil
