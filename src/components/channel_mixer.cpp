#include "components/channel_mixer.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <numeric>

namespace tarnveil {

namespace {
constexpr float Centre = 0.70710678F;

struct Pan {
    float left;
    float right;
};

// Speaker positions of WAVE_FORMAT_EXTENSIBLE's channel mask bits, in bit order:
// what a file with more than two channels and no channel map means.
constexpr std::array<int, 18> WaveOrder = {
    SF_CHANNEL_MAP_FRONT_LEFT, SF_CHANNEL_MAP_FRONT_RIGHT, SF_CHANNEL_MAP_FRONT_CENTER,
    SF_CHANNEL_MAP_LFE, SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT,
    SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER, SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER,
    SF_CHANNEL_MAP_REAR_CENTER, SF_CHANNEL_MAP_SIDE_LEFT, SF_CHANNEL_MAP_SIDE_RIGHT,
    SF_CHANNEL_MAP_TOP_CENTER, SF_CHANNEL_MAP_TOP_FRONT_LEFT, SF_CHANNEL_MAP_TOP_FRONT_CENTER,
    SF_CHANNEL_MAP_TOP_FRONT_RIGHT, SF_CHANNEL_MAP_TOP_REAR_LEFT, SF_CHANNEL_MAP_TOP_REAR_CENTER,
    SF_CHANNEL_MAP_TOP_REAR_RIGHT};

Pan panOf(int position, int index)
{
    switch (position) {
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT:
    case SF_CHANNEL_MAP_REAR_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
    case SF_CHANNEL_MAP_SIDE_LEFT:
    case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
    case SF_CHANNEL_MAP_TOP_REAR_LEFT:
        return {1.0F, 0.0F};
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT:
    case SF_CHANNEL_MAP_REAR_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
    case SF_CHANNEL_MAP_SIDE_RIGHT:
    case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
    case SF_CHANNEL_MAP_TOP_REAR_RIGHT:
        return {0.0F, 1.0F};
    case SF_CHANNEL_MAP_MONO:
    case SF_CHANNEL_MAP_CENTER:
    case SF_CHANNEL_MAP_FRONT_CENTER:
    case SF_CHANNEL_MAP_REAR_CENTER:
    case SF_CHANNEL_MAP_TOP_CENTER:
    case SF_CHANNEL_MAP_TOP_FRONT_CENTER:
    case SF_CHANNEL_MAP_TOP_REAR_CENTER:
    case SF_CHANNEL_MAP_AMBISONIC_B_W:
        return {Centre, Centre};
    case SF_CHANNEL_MAP_LFE:
    case SF_CHANNEL_MAP_AMBISONIC_B_X:
    case SF_CHANNEL_MAP_AMBISONIC_B_Y:
    case SF_CHANNEL_MAP_AMBISONIC_B_Z:
        return {0.0F, 0.0F};
    default:
        // Unnamed channels alternate between the sides.
        return index % 2 == 0 ? Pan{1.0F, 0.0F} : Pan{0.0F, 1.0F};
    }
}

int positionOf(int index, int channels, const std::vector<int>& channelMap)
{
    if (!channelMap.empty())
        return channelMap[static_cast<size_t>(index)];
    if (channels == 2)
        return index == 0 ? SF_CHANNEL_MAP_LEFT : SF_CHANNEL_MAP_RIGHT;
    return static_cast<size_t>(index) < WaveOrder.size() ? WaveOrder[static_cast<size_t>(index)]
                                                         : SF_CHANNEL_MAP_INVALID;
}
} // namespace

ChannelMixer::ChannelMixer(int inputChannels, const std::vector<int>& channelMap, int outputChannels)
    : inputs_(inputChannels), outputs_(outputChannels),
      gains_(static_cast<size_t>(inputChannels * outputChannels), 0.0F)
{
    if (passesThrough())
        return;
    auto gain = [this](int out, int in) -> float& { return gains_[static_cast<size_t>(out * inputs_ + in)]; };
    if (inputs_ == 1) {
        for (int out = 0; out < outputs_; ++out)
            gain(out, 0) = 1.0F;
        return;
    }
    std::vector<float> left(static_cast<size_t>(inputs_));
    std::vector<float> right(static_cast<size_t>(inputs_));
    for (int in = 0; in < inputs_; ++in) {
        const Pan pan = panOf(positionOf(in, inputs_, channelMap), in);
        left[static_cast<size_t>(in)] = pan.left;
        right[static_cast<size_t>(in)] = pan.right;
    }
    const float leftScale = 1.0F / std::max(1.0F, std::accumulate(left.begin(), left.end(), 0.0F));
    const float rightScale = 1.0F / std::max(1.0F, std::accumulate(right.begin(), right.end(), 0.0F));
    for (int in = 0; in < inputs_; ++in) {
        const float l = left[static_cast<size_t>(in)] * leftScale;
        const float r = right[static_cast<size_t>(in)] * rightScale;
        if (outputs_ == 1) {
            gain(0, in) = (l + r) / 2.0F;
        } else {
            gain(0, in) = l;
            gain(1, in) = r;
        }
    }
}

void ChannelMixer::mix(const float* in, float* out, size_t frames) const
{
    if (passesThrough()) {
        std::copy_n(in, frames * static_cast<size_t>(inputs_), out);
        return;
    }
    const auto inputs = static_cast<size_t>(inputs_);
    const auto outputs = static_cast<size_t>(outputs_);
    for (size_t frame = 0; frame < frames; ++frame) {
        const float* source = in + frame * inputs;
        float* target = out + frame * outputs;
        for (size_t o = 0; o < outputs; ++o) {
            const float* row = gains_.data() + o * inputs;
            float sum = 0.0F;
            for (size_t i = 0; i < inputs; ++i)
                sum += row[i] * source[i];
            target[o] = sum;
        }
    }
}

} // namespace tarnveil
