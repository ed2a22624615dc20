#include "components/dac_timeline.h"

#include <algorithm>

namespace tarnveil {

int64_t DacTimeline::bufferDue(int64_t nowNs, int64_t reportedNs, int64_t bufferNs, int64_t queueNs)
{
    int64_t due = reportedNs;
    if (nextNs_ != 0 && nextNs_ - reportedNs > bufferNs / 2)
        due = std::max(reportedNs, std::min(nextNs_, nowNs + queueNs));
    nextNs_ = due + bufferNs;
    return due;
}

} // namespace tarnveil
