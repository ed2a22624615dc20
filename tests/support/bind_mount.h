#pragma once

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include <sys/types.h>

namespace tarnveil::test {

// `source` seen again at `mountPoint` through bindfs, a user-space file system:
// what is written to `source` directly reaches the mount without any
// notification, as on a network share, and stopping bindfs freezes every call
// on the mount, as a dead share does. Needs root, /dev/fuse and bindfs; says
// why not otherwise. Never leaves a frozen or stale mount behind: a frozen
// mount thaws by itself after 60 s, and the mount goes with the object.
class BindMount {
public:
    BindMount(const std::filesystem::path& source, const std::filesystem::path& mountPoint);
    ~BindMount();
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }

    void freeze();
    void thaw();

private:
    std::filesystem::path mountPoint_;
    pid_t pid_ = -1;
    bool mounted_ = false;
    std::string why_;
    std::mutex mutex_;
    std::condition_variable thawed_;
    bool frozen_ = false;
    std::thread watchdog_;
};

} // namespace tarnveil::test
