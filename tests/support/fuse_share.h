#pragma once

#include "support/temp_dir.h"

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnveil::test {

// A folder served through a real FUSE file system (bindfs unless another
// server is given), whose server can be frozen the way a dead network share
// stops answering: every call that reaches the mount then waits in the kernel
// until the server is thawed or goes away. Reads bypass the page cache, so a
// frozen share stalls a reader however much of the file it has seen.
//
// The mount never outlives its owner: the destructor detaches it lazily and
// kills the server (which fails every call still waiting), and the server
// dies with the process that started it should that process crash.
class FuseShare {
public:
    static constexpr const char* Bindfs = "/usr/bin/bindfs";

    // Why no share can be mounted here through `program` (no usable /dev/fuse,
    // no such server), or "".
    static std::string unavailable(const std::string& program = Bindfs);

    // Serves `source` at a fresh mount point. Throws std::runtime_error when
    // the mount does not come up.
    explicit FuseShare(const std::filesystem::path& source);
    // Serves through another FUSE server, run in the foreground as
    // `program arguments... mountPoint`.
    FuseShare(const std::string& program, const std::vector<std::string>& arguments);
    ~FuseShare();
    FuseShare(const FuseShare&) = delete;
    FuseShare& operator=(const FuseShare&) = delete;

    const std::filesystem::path& mountPoint() const { return mountDir_.path(); }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return mountDir_ / name; }

    // The server stops answering. A watchdog thaws it after `thawAfter`, so
    // that a program waiting on the share fails its test instead of hanging it.
    void freeze(std::chrono::seconds thawAfter = std::chrono::seconds(20));
    // It answers again, the calls held meanwhile first.
    void thaw();
    // Frozen, and not yet thawed by the watchdog: whatever answered meanwhile
    // did so without the share.
    bool frozen();

private:
    void stopWatchdog();

    TempDir mountDir_;
    pid_t server_ = -1;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool frozen_ = false;
    std::thread watchdog_;
};

} // namespace tarnveil::test
