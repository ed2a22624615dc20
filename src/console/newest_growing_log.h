#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tarnveil {

// Names the log being recorded in a log folder that no CurFile describes, as
// other loggers leave it: the newest log, while its length changes between two
// looks a second apart, or at once when it follows one that was. Used as the
// player's LiveLogSource, so it is called on the reader thread, looks at most
// once a second, and throws while it cannot tell yet (a log it has looked at
// once) or when the folder cannot be read.
class NewestGrowingLog {
public:
    explicit NewestGrowingLog(std::filesystem::path logFolder);

    std::optional<std::filesystem::path> operator()();

private:
    std::filesystem::path logFolder_;
    std::string watched_; // below the log folder, as listed
    uint64_t watchedLength_ = 0;
    std::optional<std::chrono::steady_clock::time_point> lastLook_;
    std::optional<std::optional<std::filesystem::path>> verdict_;
};

} // namespace tarnveil
