#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace tarnveil {

// Shared between a thread that measures on the logger's drive and the one
// that waits for it: a cancel flag checked between reads, and the time of the
// drive's last answer, so that a read stuck on a dead share can be given up.
struct MeasureControl {
    std::atomic<bool> cancelled{false};
    std::atomic<int64_t> lastAnswerMs{nowMs()};

    void answered() { lastAnswerMs.store(nowMs(), std::memory_order_relaxed); }
    int64_t silentForMs() const { return nowMs() - lastAnswerMs.load(std::memory_order_relaxed); }

    static int64_t nowMs()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

} // namespace tarnveil
