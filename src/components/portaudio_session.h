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

} // namespace tarnveil
