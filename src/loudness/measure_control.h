#pragma once

#include "platform/drive_call.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

namespace tarnveil {

// Shared between a thread that measures on the logger's drive and the one
// that waits for it: a cancel flag checked between reads, and when the call
// on the drive in progress began, so that one stuck on a dead share can be
// given up. Only time inside a call counts: a measuring thread of low
// priority that waits for the processor between calls is not the drive's fault.
struct MeasureControl {
    std::atomic<bool> cancelled{false};
    std::atomic<int64_t> callStartedMs{0}; // 0 while no call is in progress
    // Work of many calls, held as one DriveCall, under a DriveCallScope of
    // this watch: each call it marks with driveCall() starts the wait anew.
    DriveCallWatch marked;

    void cancel()
    {
        cancelled.store(true);
        marked.dropped.store(true);
    }

    // How long the call in progress has waited, 0 when there is none.
    int64_t stuckForMs() const
    {
        const int64_t started = callStartedMs.load(std::memory_order_relaxed);
        if (started == 0)
            return 0;
        const int64_t lastMarked = marked.lastCallNs.load(std::memory_order_relaxed) / 1'000'000;
        return nowMs() - std::max(started, lastMarked);
    }

    static int64_t nowMs()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

// One call on the drive, for as long as it lives.
class DriveCall {
public:
    explicit DriveCall(MeasureControl& control) : control_(control)
    {
        control_.callStartedMs.store(MeasureControl::nowMs(), std::memory_order_relaxed);
    }
    ~DriveCall() { control_.callStartedMs.store(0, std::memory_order_relaxed); }
    DriveCall(const DriveCall&) = delete;
    DriveCall& operator=(const DriveCall&) = delete;

private:
    MeasureControl& control_;
};

} // namespace tarnveil
