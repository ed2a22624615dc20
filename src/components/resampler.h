#pragma once

#include <samplerate.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace tarnveil {

// Sample-rate conversion through libsamplerate, for a device that refuses the
// file's rate: the log then plays at its true speed at the device's rate.
// One thread at a time (the reader thread).
class Resampler {
public:
    // Throws Failure when libsamplerate cannot set up the conversion.
    Resampler(int channels, int inputRate, int outputRate);

    // Converts `frames` interleaved frames and appends the result to `out`;
    // `endOfInput` also flushes what the filter still holds. Returns the frames added.
    size_t process(const float* in, size_t frames, bool endOfInput, std::vector<float>& out);

    // Forgets the filter's history (after a seek).
    void reset();

    // The most output `inputFrames` frames can give.
    size_t maxOutputFrames(size_t inputFrames) const;

private:
    struct StateCloser {
        void operator()(SRC_STATE* state) const { src_delete(state); }
    };

    int channels_;
    double ratio_;
    std::unique_ptr<SRC_STATE, StateCloser> state_;
};

} // namespace tarnveil
