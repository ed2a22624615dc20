#include "loudness/silences.h"

#include <algorithm>
#include <optional>

namespace tarnveil {

namespace {

// Dead air does not end at a seam: a logger that takes a moment to start its
// next log leaves a stretch that still reads as one to whoever listened.
constexpr int64_t SeamToleranceMs = 1000;

} // namespace

std::vector<SilentStretch> findSilences(const std::vector<ProfiledLog>& logs, double thresholdDbfs,
                                        int64_t minimumMs)
{
    std::vector<SilentStretch> stretches;
    std::optional<SilentStretch> open;
    auto close = [&] {
        if (open && open->lengthMs() >= minimumMs)
            stretches.push_back(*open);
        open.reset();
    };
    for (const ProfiledLog& log : logs) {
        if (!log.profile)
            continue;
        const LoudnessProfile& profile = *log.profile;
        const int64_t logEnd = log.span.startMs + profile.lengthMs();
        // Only a stretch that ran to the end of the log before goes on here.
        if (open && log.span.startMs - open->endMs > SeamToleranceMs)
            close();
        for (size_t step = 0; step < profile.steps(); ++step) {
            const int64_t stepStart = log.span.startMs + static_cast<int64_t>(step) * LoudnessProfile::StepMs;
            const int64_t stepEnd = std::min(stepStart + LoudnessProfile::StepMs, logEnd);
            if (profile.peak[step] >= thresholdDbfs) {
                close();
                continue;
            }
            if (open)
                open->endMs = std::max(open->endMs, stepEnd);
            else
                open = SilentStretch{stepStart, stepEnd, log.span.name};
        }
    }
    close();
    return stretches;
}

} // namespace tarnveil
