#include "components/resampler.h"

#include "platform/failure.h"

#include <cmath>

namespace tarnveil {

Resampler::Resampler(int channels, int inputRate, int outputRate)
    : channels_(channels), ratio_(static_cast<double>(outputRate) / inputRate)
{
    int error = 0;
    // Medium quality keeps speech and music clean at a small share of one core.
    state_.reset(src_new(SRC_SINC_MEDIUM_QUALITY, channels, &error));
    if (!state_ || src_is_valid_ratio(ratio_) == 0)
        throw Failure(FailureCode::DeviceUnavailable,
                      std::string("cannot convert the sample rate: ") + src_strerror(error));
}

size_t Resampler::maxOutputFrames(size_t inputFrames) const
{
    return static_cast<size_t>(std::ceil(static_cast<double>(inputFrames) * ratio_)) + 64;
}

size_t Resampler::process(const float* in, size_t frames, bool endOfInput, std::vector<float>& out)
{
    const auto channels = static_cast<size_t>(channels_);
    const size_t before = out.size() / channels;
    size_t used = 0;
    for (;;) {
        const size_t room = maxOutputFrames(frames - used);
        const size_t start = out.size();
        out.resize(start + room * channels);
        SRC_DATA data{};
        data.data_in = in + used * channels;
        data.input_frames = static_cast<long>(frames - used);
        data.data_out = out.data() + start;
        data.output_frames = static_cast<long>(room);
        data.end_of_input = endOfInput ? 1 : 0;
        data.src_ratio = ratio_;
        const int error = src_process(state_.get(), &data);
        out.resize(start + static_cast<size_t>(data.output_frames_gen) * channels);
        if (error != 0)
            break;
        used += static_cast<size_t>(data.input_frames_used);
        // Done once the input is taken, and when flushing, once the filter is empty.
        if (used >= frames && (!endOfInput || data.output_frames_gen == 0))
            break;
    }
    return out.size() / channels - before;
}

void Resampler::reset()
{
    src_reset(state_.get());
}

} // namespace tarnveil
