#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace tarnveil {

// Thrown by driveCall() on a thread whose result nobody wants any more. It is
// no std::exception on purpose: work that catches and skips the failures of
// single files must not swallow it and walk on.
struct DriveCallCancelled {};

// What a thread doing work on the logger's drive shares with whoever waits for
// it: when the work last began a call on the drive, and whether its result is
// still wanted.
struct DriveCallWatch {
    std::atomic<int64_t> lastCallNs{steadyNowNs()};
    std::atomic<bool> dropped{false};

    static int64_t steadyNowNs()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

// Work on the drive calls this before each call that may reach a share (a
// folder read, a file opened, a stat). The one waiting counts its deadline from
// here, so a long job on a slow share that answers every call runs on, while
// one call that hangs is reported. Throws DriveCallCancelled once the watch is
// dropped, so that a job nobody waits for makes no further calls. Does nothing
// on a thread without a watch.
void driveCall();

// Work between calls that may take a while on a busy machine (sorting or
// storing a hundred thousand names) calls this every so often: the deadline is
// for the drive, not for our own work. Throws as driveCall() does.
inline void ownWorkGoesOn()
{
    driveCall();
}

// The watch the calling thread works under, or nullptr: threads that help
// with its work take the same watch, so that they stop with it.
DriveCallWatch* currentDriveCallWatch();

// Puts the calling thread under `watch` for the scope's life, and back under
// the watch it was under before, if any, after.
class DriveCallScope {
public:
    explicit DriveCallScope(DriveCallWatch& watch);
    ~DriveCallScope();
    DriveCallScope(const DriveCallScope&) = delete;
    DriveCallScope& operator=(const DriveCallScope&) = delete;

private:
    DriveCallWatch* outer_;
};

} // namespace tarnveil
