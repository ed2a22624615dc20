#pragma once

#include "catalog/folder_look.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tarnveil {

struct DriveCallWatch;

// Looks at folders on a few threads at once, as a share serves several calls
// at a time: thousands of folders each a few round trips away are read in a
// fraction of the time one call after another takes. The threads work under
// the drive-call watch of the thread that made the lanes, so a dropped or
// overdue job stops them all at their next call.
class FolderLanes {
public:
    // Looks from `rootFd`, the log folder held open, which must outlive the lanes.
    FolderLanes(int rootFd, std::filesystem::path logFolder, int lanes);
    // Waits for the looks under way: a stuck call holds up only the job's own thread.
    ~FolderLanes();
    FolderLanes(const FolderLanes&) = delete;
    FolderLanes& operator=(const FolderLanes&) = delete;

    void post(FolderLook look);
    // Looks posted and not yet taken back.
    int pending() const;
    // The next finished look, waiting for one; std::nullopt when none is
    // pending. Throws DriveCallCancelled once a lane met it.
    std::optional<FolderLook> next();

private:
    void work(DriveCallWatch* watch);

    const int rootFd_;
    const std::filesystem::path logFolder_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<FolderLook> queued_;
    std::deque<FolderLook> done_;
    int underWay_ = 0;
    bool cancelled_ = false;
    bool closing_ = false;
    std::vector<std::thread> threads_;
};

} // namespace tarnveil
