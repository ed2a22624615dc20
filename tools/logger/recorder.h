#pragma once

#include "options.h"

#include <atomic>
#include <ctime>
#include <filesystem>
#include <iosfwd>
#include <string>

namespace tarnveil::logger {

// File name of the log that starts at `start`: local time, "YYYY-MM-DD_HH-MM-SS.wav",
// which sorts by time as plain text.
std::string logFileName(std::time_t start);

// The first period boundary after `time` (aligned: on multiples of `period`
// counted from local midnight, when the period divides a day).
std::time_t nextBoundary(std::time_t time, std::chrono::seconds period, bool align);
// The last period boundary at or before `time`.
std::time_t currentBoundary(std::time_t time, std::chrono::seconds period, bool align);

// Writes logs the way the logger does, reporting each file on `report`.
class Recorder {
public:
    Recorder(Options options, std::ostream& report);

    // Records in real time from the next whole second until `stop` is set or the
    // duration is over; the file being recorded is finished either way, and
    // CurFile is emptied at the end. Main thread; `stop` may be set by a signal handler.
    void recordLive(const std::atomic<bool>& stop);

    // Writes the backlog at full speed; files that exist already are kept.
    void writeBacklog(const std::atomic<bool>& stop);

private:
    std::filesystem::path loggerFolder() const { return options_.root / "logger"; }
    std::filesystem::path logsFolder() const { return loggerFolder() / "logs"; }
    void prepareFolders() const;

    Options options_;
    std::ostream& report_;
};

} // namespace tarnveil::logger
