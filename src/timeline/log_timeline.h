#pragma once

#include <QByteArray>
#include <QDateTime>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarnveil {

// One log placed in time. `name` is its path relative to the log folder, as
// the log list keeps it. Times are milliseconds since the epoch.
struct LogSpan {
    QByteArray name;
    int64_t startMs = 0;
    int64_t frames = 0;
    int sampleRate = 0;
    int channels = 0;
    int format = 0; // libsndfile's SF_FORMAT_* word
    bool live = false;

    int64_t lengthMs() const;
    int64_t endMs() const { return startMs + lengthMs(); }
};

// Any thread: reads what places one log in time (file work only, may block).
// Throws Failure when the log cannot be read.
LogSpan probeLog(const std::filesystem::path& logFolder, const QByteArray& name, bool live);

// Any thread: the logs that can be read, in order of their start; a log that
// cannot be read is left out, as it cannot be played either.
std::vector<LogSpan> surveyLogs(const std::filesystem::path& logFolder, const std::vector<QByteArray>& names,
                                const QByteArray& liveName);

// Any thread: the name relative to the log folder of the log being recorded,
// from the logger's CurFile ("" when it names none or names a log outside the
// folder). Throws Failure when CurFile exists but cannot be read.
QByteArray readLiveLogName(const std::filesystem::path& curFile);

// Where a moment lies among the logs: inside one (`holder`, `offsetMs` into
// it), or in a gap between the nearest log before and the nearest after.
struct MomentPlace {
    std::optional<size_t> holder;
    int64_t offsetMs = 0;
    std::optional<size_t> before;
    std::optional<size_t> after;
};
MomentPlace placeMoment(const std::vector<LogSpan>& logs, int64_t momentMs);

// The operator's text for a moment that no log holds.
std::string describeGap(const std::vector<LogSpan>& logs, const MomentPlace& place, int64_t momentMs);

} // namespace tarnveil
