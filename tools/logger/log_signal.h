#pragma once

#include <cstdint>
#include <vector>

namespace tarnveil::logger {

// The logger's programme: a time signal that a listener and a test can read.
// Throughout, a tone of 300 + 10 * minute Hz (minute of the hour) at 0.1; the
// first 10 ms of each second add a 2 kHz click at 0.5; the first 400 ms of each
// minute add a 1 kHz beep at 0.5 instead of the click. Both start at their peak
// (cosine), so the onset is the very first frame of the second.
class LogSignal {
public:
    static constexpr double ToneAmplitude = 0.1;
    static constexpr double MarkAmplitude = 0.5;
    static constexpr int ClickHz = 2000;
    static constexpr int BeepHz = 1000;
    static constexpr double ClickSeconds = 0.010;
    static constexpr double BeepSeconds = 0.400;

    static constexpr int toneHz(int minute) { return 300 + 10 * minute; }

    // `secondOfHour` is the local time, 0 to 3599, at frame 0; frame 0 lies on a whole second.
    LogSignal(int sampleRate, int channels, int secondOfHour);

    // Interleaved samples of the next `frames` frames.
    const std::vector<float>& next(int64_t frames);

    int64_t framesRendered() const { return frame_; }

private:
    int sampleRate_;
    int channels_;
    int firstSecond_;
    int64_t frame_ = 0;
    std::vector<float> buffer_;
};

} // namespace tarnveil::logger
