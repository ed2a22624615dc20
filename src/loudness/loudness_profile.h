#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace tarnveil {

// What a log sounds like, step by step, without listening to it.
//
// Every step is 100 ms of the log (the last one may be shorter). Loudness is in
// LUFS, peaks in dBFS; a silent step or log reads minus infinity.
struct LoudnessProfile {
    static constexpr int StepMs = 100;
    static constexpr float Silent = -std::numeric_limits<float>::infinity();

    int sampleRate = 0;
    int64_t frames = 0;            // frames measured
    std::vector<float> momentary;  // 400 ms loudness ending with each step
    std::vector<float> shortTerm;  // 3 s loudness ending with each step
    std::vector<float> peak;       // highest sample of each step, any channel
    double integrated = Silent;    // gated loudness of the whole log
    double range = 0;              // loudness range, LU
    double maxPeak = Silent;       // highest sample of the whole log

    size_t steps() const { return peak.size(); }
    int64_t lengthMs() const;
};

} // namespace tarnveil
