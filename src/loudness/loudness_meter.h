#pragma once

#include "loudness/loudness_profile.h"

#include <ebur128.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace tarnveil {

// Measures audio fed to it in order, with libebur128 (ITU-R BS.1770, EBU R128).
//
// libebur128 weights the channels, filters and gives the energy of each 100 ms
// step and its sample peak; the 400 ms and 3 s windows and the gated measures
// are taken over those steps here, so that the audio is summed once, not again
// for every overlapping window (which costs more than the filter itself).
//
// Weighting of the channels: a mono log counts twice, as a programme heard on
// both loudspeakers of a stereo pair, so that the same programme measures the
// same in mono and in stereo. More channels are weighted by the speaker each
// one feeds: from the file's own channel map when it has one, else in the WAVE
// order (L, R, C, LFE, Ls, Rs, then side left and right). LFE is left out,
// surround and side channels weigh 1.41, every other channel 1.0.
//
// One thread at a time.
class LoudnessMeter {
public:
    // Throws Failure when libebur128 refuses the format.
    LoudnessMeter(int channels, int sampleRate, const std::vector<int>& channelMap = {});
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Interleaved frames in -1..1, or in -32768..32767, following those added before.
    void add(const float* interleaved, int64_t frames);
    void add(const int16_t* interleaved, int64_t frames);

    // Closes a last step shorter than 100 ms: the end of a finished log.
    void finish();

    // Every whole step so far, and the whole-log figures over them.
    LoudnessProfile profile() const;

private:
    struct StateCloser {
        void operator()(ebur128_state* state) const;
    };

    template <typename Sample>
    void addFrames(const Sample* interleaved, int64_t frames);
    void closeStep();
    int64_t stepEndFrame(int64_t step) const;

    std::unique_ptr<ebur128_state, StateCloser> state_;
    int channels_;
    LoudnessProfile profile_;
    int64_t stepStart_ = 0;
    double stepPeak_ = 0;
    double maxPeak_ = 0;
    // K-weighted energy of the last 30 steps, for the 400 ms and 3 s windows.
    std::vector<double> energies_;
    // Energies of whole 400 ms and 3 s windows, for the gates.
    std::vector<double> gatingBlocks_;
    std::vector<double> shortTermBlocks_;
};

} // namespace tarnveil
