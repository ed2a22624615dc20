#pragma once

#include "support/fuse_share.h"
#include "support/temp_dir.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace tarnveil::test {

// A folder served the way a share across a building answers: every call waits
// `delay` before it is served, and every call is counted. The count is read
// from a file outside the mount, so reading it makes no call on the share.
// Frozen, it stops answering like a dead share (see FuseShare).
class SlowShare {
public:
    enum class Access { ReadOnly, ReadWrite };

    // Why no slow share can be mounted here, or "".
    static std::string unavailable();

    // Throws std::runtime_error when the mount does not come up.
    SlowShare(const std::filesystem::path& source, std::chrono::milliseconds delay, Access access);

    const std::filesystem::path& mountPoint() const { return share_.mountPoint(); }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return share_ / name; }

    // Calls served or under way since the mount came up.
    std::uint64_t calls() const;

    void freeze(std::chrono::seconds thawAfter = std::chrono::seconds(20)) { share_.freeze(thawAfter); }
    void thaw() { share_.thaw(); }
    bool frozen() { return share_.frozen(); }

private:
    TempDir counterDir_; // before share_: the server writes there until it is gone
    FuseShare share_;
};

} // namespace tarnveil::test
