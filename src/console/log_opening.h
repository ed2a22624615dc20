#pragma once

#include "console/live_log_header.h"
#include "platform/failure.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tarnveil {

class SoundFile;

// What opening a log on the logger's drive came back with: the header fix-up's
// outcome, then the opened file or why it would not open.
struct OpenedLog {
    OpenedLog();
    ~OpenedLog();
    OpenedLog(OpenedLog&&) noexcept;
    OpenedLog& operator=(OpenedLog&&) noexcept;

    std::optional<Failure> fixUpFailure; // the fix-up failed; nothing after it was tried
    std::string currentLogPath;
    std::unique_ptr<SoundFile> file;
    std::optional<Failure> openFailure;
    // No CurFile names a log being recorded, and the log opened is the newest
    // in this folder and may still grow: it is followed as long as it does.
    std::optional<std::filesystem::path> followNewestIn;
};

// The file work of a new start, in its order: the live log's header fix-up,
// then opening the log for the player. `newestListed` when the log is the last
// in the list. May block for as long as the drive does, so it runs off the GUI
// thread; it owns everything it touches.
OpenedLog openLog(const LoggerPlaces& places, const std::string& selectedLogPath,
                  const std::filesystem::path& selectedLog, bool newestListed);

} // namespace tarnveil
