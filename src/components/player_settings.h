#pragma once

#include <algorithm>
#include <cstddef>

namespace tarnveil {

// The player's stored settings and what they mean on this platform. Positions
// and lengths are whole milliseconds (TimeFormat), a file plays once (Looping
// off), and events reach the GUI thread through its event queue (CallBackMode).
struct PlayerSettings {
    // Bytes per buffer, counted as 16-bit stereo: 1024 frames, 21.3 ms at
    // 48 kHz. A buffer keeps that duration at every rate; it is the device's
    // period and the reader's decoding block.
    static constexpr int BufferSize = 4096;
    // Buffers decoded ahead of the device: about half a second in the ring
    // between the reader thread and the audio callback.
    static constexpr int NumBuffers = 25;
    // Audio queued in the device. The sound server's ALSA plug-in stalls for
    // seconds at start when given fewer than about six periods; 0.2 s is nine.
    // It does not delay what the operator hears: Play, Resume and every seek
    // start the stream afresh on audio from the ring, and the meter follows the
    // device's clock. Shorter periods would only cost CPU in the plug-in.
    static constexpr double DeviceLatency = 0.2;
    // Audio the ring holds before the device starts: the device's first fill
    // and a little more; the reader outruns the device from there on.
    static constexpr int StartAheadMs = 250;
    // How long Play waits for the reader to queue that much before starting
    // the device anyway (a slow share then starts with a moment of silence).
    static constexpr int PrimeTimeoutMs = 40;

    static size_t bufferFrames(int sampleRate)
    {
        constexpr size_t FramesAt48k = BufferSize / 4;
        return std::max<size_t>(32, (static_cast<size_t>(sampleRate) * FramesAt48k + 24000) / 48000);
    }
};

} // namespace tarnveil
