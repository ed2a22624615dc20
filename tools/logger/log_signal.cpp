#include "log_signal.h"

#include <cmath>
#include <numbers>

namespace tarnveil::logger {

LogSignal::LogSignal(int sampleRate, int channels, int secondOfHour)
    : sampleRate_(sampleRate), channels_(channels), firstSecond_(secondOfHour)
{
}

const std::vector<float>& LogSignal::next(int64_t frames)
{
    constexpr double TwoPi = 2.0 * std::numbers::pi;
    const auto clickFrames = static_cast<int64_t>(std::lround(ClickSeconds * sampleRate_));
    const auto beepFrames = static_cast<int64_t>(std::lround(BeepSeconds * sampleRate_));
    buffer_.resize(static_cast<size_t>(frames * channels_));
    float* out = buffer_.data();
    for (int64_t i = 0; i < frames; ++i, ++frame_) {
        const int64_t secondsIn = frame_ / sampleRate_;
        const int64_t inSecond = frame_ % sampleRate_;
        const int secondOfHour = static_cast<int>((firstSecond_ + secondsIn) % 3600);
        // Phases are taken within the current second: every frequency is a whole
        // number of hertz, so the waves run on without a jump at each second.
        const double t = static_cast<double>(inSecond) / sampleRate_;
        double value = ToneAmplitude * std::sin(TwoPi * toneHz(secondOfHour / 60) * t);
        if (secondOfHour % 60 == 0) {
            if (inSecond < beepFrames)
                value += MarkAmplitude * std::cos(TwoPi * BeepHz * t);
        } else if (inSecond < clickFrames) {
            value += MarkAmplitude * std::cos(TwoPi * ClickHz * t);
        }
        const auto sample = static_cast<float>(value);
        for (int c = 0; c < channels_; ++c)
            *out++ = sample;
    }
    return buffer_;
}

} // namespace tarnveil::logger
