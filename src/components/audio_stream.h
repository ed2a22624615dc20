#pragma once

#include "components/playback_feed.h"
#include "components/portaudio_session.h"

#include <portaudio.h>

#include <string>

namespace tarnveil {

// One PortAudio output stream of 32-bit float samples, closed with the object.
// GUI thread only; the callbacks run on PortAudio's threads.
class AudioStream {
public:
    // Throws Failure(DeviceUnavailable) with PortAudio's text when the device
    // cannot be opened.
    AudioStream(PaDeviceIndex device, const StreamFormat& format, unsigned long framesPerBuffer,
                double suggestedLatency, PaStreamCallback* callback,
                PaStreamFinishedCallback* finished, void* userData);
    ~AudioStream();
    AudioStream(const AudioStream&) = delete;
    AudioStream& operator=(const AudioStream&) = delete;

    // Throws Failure(DeviceIoError) when the device will not start.
    void start();
    // Lets what the device holds play out (after the callback has ended the stream).
    void stop();
    // Drops what the device holds, at once.
    void abort();

    // False once the stream has ended, also when the device failed under it.
    bool isActive() const;

    // Seconds between handing a sample over and hearing it, as PortAudio estimates.
    double outputLatency() const;

    // Whether the device takes `format`; `why` receives PortAudio's reason when not.
    static bool supports(PaDeviceIndex device, const StreamFormat& format, double suggestedLatency,
                         std::string& why);

private:
    OpenStreamMark mark_;
    PaStream* stream_ = nullptr;
    bool running_ = false;
};

// PortAudio's text for `error`, with the host's own words when it has them.
std::string portAudioText(PaError error);

} // namespace tarnveil
