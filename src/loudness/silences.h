#pragma once

#include "loudness/loudness_profile.h"
#include "timeline/log_timeline.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <vector>

namespace tarnveil {

// A log placed in time with its measured profile.
struct ProfiledLog {
    LogSpan span;
    std::shared_ptr<const LoudnessProfile> profile;
};

// A stretch in which no sample rose to the threshold. Times are milliseconds
// since the epoch; `log` is the log it starts in.
struct SilentStretch {
    int64_t startMs = 0;
    int64_t endMs = 0;
    QByteArray log;

    int64_t lengthMs() const { return endMs - startMs; }
};

// Every stretch of at least `minimumMs` whose steps all peak below
// `thresholdDbfs`, to the nearest step. `logs` are in order of their start; a
// stretch that reaches the end of one log and goes on at the start of the
// next, consecutive one is one stretch.
std::vector<SilentStretch> findSilences(const std::vector<ProfiledLog>& logs, double thresholdDbfs,
                                        int64_t minimumMs);

} // namespace tarnveil
