#pragma once

#include <cstddef>
#include <vector>

namespace tarnveil {

// Folds a file's channels into the one or two channels a device plays. Left
// speakers go left, right speakers right, centre speakers to both at -3 dB,
// the low-frequency channel nowhere; each output is scaled down so that
// full-scale material on every speaker cannot clip. A mono file plays at full
// level on both sides of a stereo device.
class ChannelMixer {
public:
    // `channelMap` holds the file's SF_CHANNEL_MAP_* positions, or is empty for
    // the customary WAVE order (front left, front right, centre, LFE, back left,
    // back right, ...).
    ChannelMixer(int inputChannels, const std::vector<int>& channelMap, int outputChannels);

    int inputChannels() const { return inputs_; }
    int outputChannels() const { return outputs_; }
    bool passesThrough() const { return inputs_ == outputs_; }

    // Any thread; `out` holds frames * outputChannels samples.
    void mix(const float* in, float* out, size_t frames) const;

private:
    int inputs_;
    int outputs_;
    std::vector<float> gains_; // outputs_ rows of inputs_ gains
};

} // namespace tarnveil
