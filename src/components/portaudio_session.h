#pragma once

#include <portaudio.h>

#include <vector>

namespace tarnveil {

// Keeps PortAudio initialised while at least one session exists. GUI thread only.
class PortAudioSession {
public:
    // Reuse takes the device list as the first session found it; Fresh asks
    // PortAudio again (see rescan).
    enum class Scan { Reuse, Fresh };

    // Throws Failure(DeviceUnavailable) when PortAudio will not start.
    explicit PortAudioSession(Scan scan = Scan::Reuse);
    ~PortAudioSession();
    PortAudioSession(const PortAudioSession&) = delete;
    PortAudioSession& operator=(const PortAudioSession&) = delete;

    // PortAudio device indices of the devices that can play, in the order the
    // operator sees them: the system default first, then the cards, without
    // ALSA's alias entries that only repeat a card.
    const std::vector<PaDeviceIndex>& outputDevices() const;

    // Forgets the device list and asks PortAudio afresh (after a sound server
    // restart, a card plugged in). PortAudio re-reads the host's devices only
    // on a fresh initialisation, which closes every stream, so while a stream
    // is open the list stays as it is.
    void rescan();
};

// Brings PortAudio up on a thread of its own and keeps it up while it lives,
// so that the first Play of a session does not wait for the probe of every
// card. A session made meanwhile waits for the probe to end and shares what it
// found; should PortAudio have failed to start, the session tries again and
// reports the failure as it always has. GUI thread only.
class PortAudioWarmUp {
public:
    PortAudioWarmUp();
    ~PortAudioWarmUp();
    PortAudioWarmUp(const PortAudioWarmUp&) = delete;
    PortAudioWarmUp& operator=(const PortAudioWarmUp&) = delete;
};

// Held by every open stream, so that no rescan pulls PortAudio from under it.
// GUI thread only.
class OpenStreamMark {
public:
    OpenStreamMark();
    ~OpenStreamMark();
    OpenStreamMark(const OpenStreamMark&) = delete;
    OpenStreamMark& operator=(const OpenStreamMark&) = delete;
};

} // namespace tarnveil
