#include "platform/drive_call.h"

namespace tarnveil {

namespace {

thread_local DriveCallWatch* currentWatch = nullptr;

} // namespace

void driveCall()
{
    if (currentWatch == nullptr)
        return;
    if (currentWatch->dropped.load(std::memory_order_relaxed))
        throw DriveCallCancelled{};
    currentWatch->lastCallNs.store(DriveCallWatch::steadyNowNs(), std::memory_order_relaxed);
}

DriveCallWatch* currentDriveCallWatch()
{
    return currentWatch;
}

DriveCallScope::DriveCallScope(DriveCallWatch& watch) : outer_(currentWatch)
{
    currentWatch = &watch;
}

DriveCallScope::~DriveCallScope()
{
    currentWatch = outer_;
}

} // namespace tarnveil
