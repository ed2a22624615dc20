#pragma once

#include "components/portaudio_session.h"

#include <QString>

#include <cstdint>

namespace tarnveil {

// The list of output devices that can play. Device numbers are positions in this
// list and mean the same to WavePlayer::setDeviceID; 0 is the system's default
// output. GUI thread only.
class WaveOut {
public:
    // Lists the devices as they are now (a card plugged in since the last look
    // included), unless a playback holds PortAudio; then the list it plays from.
    WaveOut();

    int32_t DeviceCount() const;
    QString DeviceName(int32_t device) const; // throws Failure(InvalidIndex) out of range

private:
    PortAudioSession session_;
};

} // namespace tarnveil
