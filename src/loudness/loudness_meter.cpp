#include "loudness/loudness_meter.h"

#include "loudness/gating.h"
#include "platform/failure.h"

#include <ebur128.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tarnveil {

namespace {

constexpr int MomentarySteps = 400 / LoudnessProfile::StepMs;
constexpr int ShortTermSteps = 3000 / LoudnessProfile::StepMs;

int speakerFromMap(int position)
{
    switch (position) {
    case SF_CHANNEL_MAP_LFE:
        return EBUR128_UNUSED;
    case SF_CHANNEL_MAP_REAR_LEFT:
    case SF_CHANNEL_MAP_SIDE_LEFT:
        return EBUR128_LEFT_SURROUND;
    case SF_CHANNEL_MAP_REAR_RIGHT:
    case SF_CHANNEL_MAP_SIDE_RIGHT:
        return EBUR128_RIGHT_SURROUND;
    default:
        return EBUR128_CENTER; // weight 1.0
    }
}

int speakerInWaveOrder(int channel)
{
    static constexpr int Order[] = {EBUR128_LEFT,          EBUR128_RIGHT,          EBUR128_CENTER,
                                    EBUR128_UNUSED,        EBUR128_LEFT_SURROUND,  EBUR128_RIGHT_SURROUND,
                                    EBUR128_LEFT_SURROUND, EBUR128_RIGHT_SURROUND};
    return channel < static_cast<int>(std::size(Order)) ? Order[channel] : EBUR128_CENTER;
}

int speakerFor(int channel, int channels, const std::vector<int>& channelMap)
{
    if (channels == 1)
        return EBUR128_DUAL_MONO;
    if (static_cast<int>(channelMap.size()) == channels)
        return speakerFromMap(channelMap[static_cast<size_t>(channel)]);
    return speakerInWaveOrder(channel);
}

double loudnessToEnergy(double loudness)
{
    return std::isfinite(loudness) ? std::pow(10.0, (loudness + 0.691) / 10) : 0.0;
}

double toDecibels(double amplitude)
{
    return amplitude > 0 ? 20 * std::log10(amplitude) : LoudnessProfile::Silent;
}

// Mean energy of the last `window` steps; steps before the start count as
// silence, as on any meter that has just been switched on.
double windowEnergy(const std::vector<double>& energies, int window)
{
    const size_t first = energies.size() > static_cast<size_t>(window) ? energies.size() - window : 0;
    const double sum = std::accumulate(energies.begin() + static_cast<std::ptrdiff_t>(first), energies.end(), 0.0);
    return sum / window;
}

void addToLibrary(ebur128_state* state, const float* interleaved, size_t frames)
{
    ebur128_add_frames_float(state, interleaved, frames);
}

void addToLibrary(ebur128_state* state, const int16_t* interleaved, size_t frames)
{
    ebur128_add_frames_short(state, interleaved, frames);
}

// The library's own sample peak is a pass of its own over each channel apart;
// any channel's highest sample is one pass over the frames as they lie, and
// over 16-bit samples the compiler makes it a vector loop (see the option on
// this file).
double highestSample(const float* samples, int64_t count)
{
    float highest = 0;
    for (int64_t i = 0; i < count; ++i)
        highest = std::max(highest, std::fabs(samples[i]));
    return highest;
}

double highestSample(const int16_t* samples, int64_t count)
{
    int16_t highest = 0;
    int16_t lowest = 0;
    for (int64_t i = 0; i < count; ++i) {
        highest = std::max(highest, samples[i]);
        lowest = std::min(lowest, samples[i]);
    }
    return std::max<int>(highest, -lowest) / 32768.0;
}

} // namespace

int64_t LoudnessProfile::lengthMs() const
{
    return sampleRate > 0 ? frames * 1000 / sampleRate : 0;
}

void LoudnessMeter::StateCloser::operator()(ebur128_state* state) const
{
    ebur128_destroy(&state);
}

LoudnessMeter::LoudnessMeter(int channels, int sampleRate, const std::vector<int>& channelMap) : channels_(channels)
{
    if (channels <= 0 || sampleRate < 16)
        throw Failure(FailureCode::InvalidFileFormat, "no loudness can be measured in this format");
    state_.reset(ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                              EBUR128_MODE_M));
    if (!state_)
        throw Failure(FailureCode::OutOfMemory, "measuring loudness");
    for (int channel = 0; channel < channels; ++channel)
        ebur128_set_channel(state_.get(), static_cast<unsigned>(channel), speakerFor(channel, channels, channelMap));
    profile_.sampleRate = sampleRate;
}

LoudnessMeter::~LoudnessMeter() = default;

int64_t LoudnessMeter::stepEndFrame(int64_t step) const
{
    return (step + 1) * LoudnessProfile::StepMs * profile_.sampleRate / 1000;
}

void LoudnessMeter::add(const float* interleaved, int64_t frames)
{
    addFrames(interleaved, frames);
}

void LoudnessMeter::add(const int16_t* interleaved, int64_t frames)
{
    addFrames(interleaved, frames);
}

template <typename Sample>
void LoudnessMeter::addFrames(const Sample* interleaved, int64_t frames)
{
    while (frames > 0) {
        const int64_t stepEnd = stepEndFrame(static_cast<int64_t>(profile_.steps()));
        const int64_t take = std::min(frames, stepEnd - profile_.frames);
        addToLibrary(state_.get(), interleaved, static_cast<size_t>(take));
        stepPeak_ = std::max(stepPeak_, highestSample(interleaved, take * channels_));
        profile_.frames += take;
        interleaved += take * channels_;
        frames -= take;
        if (profile_.frames == stepEnd)
            closeStep();
    }
}

void LoudnessMeter::finish()
{
    if (profile_.frames > stepStart_)
        closeStep();
}

void LoudnessMeter::closeStep()
{
    // The library's window is whole milliseconds; the step is the frames since the last one.
    const int64_t stepFrames = profile_.frames - stepStart_;
    const auto windowMs = static_cast<unsigned long>(std::max<int64_t>(1, stepFrames * 1000 / profile_.sampleRate));
    double loudness = LoudnessProfile::Silent;
    ebur128_loudness_window(state_.get(), windowMs, &loudness);
    energies_.push_back(loudnessToEnergy(loudness));
    const double momentary = windowEnergy(energies_, MomentarySteps);
    const double shortTerm = windowEnergy(energies_, ShortTermSteps);
    profile_.momentary.push_back(static_cast<float>(energyToLoudness(momentary)));
    profile_.shortTerm.push_back(static_cast<float>(energyToLoudness(shortTerm)));
    profile_.peak.push_back(static_cast<float>(toDecibels(stepPeak_)));
    // The gated measures take whole windows of whole steps only.
    const bool wholeStep = profile_.frames == stepEndFrame(static_cast<int64_t>(profile_.steps()) - 1);
    if (wholeStep && profile_.steps() >= MomentarySteps)
        gatingBlocks_.push_back(momentary);
    // Loudness range takes a 3 s block every second, as libebur128 does (EBU
    // Tech 3342 asks for an overlap of at least 2 s).
    if (wholeStep && profile_.steps() >= ShortTermSteps && (profile_.steps() - ShortTermSteps) % 10 == 0)
        shortTermBlocks_.push_back(shortTerm);
    maxPeak_ = std::max(maxPeak_, stepPeak_);
    if (energies_.size() > ShortTermSteps)
        energies_.erase(energies_.begin());
    stepStart_ = profile_.frames;
    stepPeak_ = 0;
}

LoudnessProfile LoudnessMeter::profile() const
{
    LoudnessProfile result = profile_;
    result.frames = stepStart_;
    result.integrated = integratedLoudness(gatingBlocks_);
    result.range = loudnessRange(shortTermBlocks_);
    result.maxPeak = toDecibels(maxPeak_);
    return result;
}

} // namespace tarnveil
