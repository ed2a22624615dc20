#include "timeline/log_timeline.h"

#include "components/sound_file.h"
#include "console/cur_file.h"
#include "platform/drive_call.h"
#include "platform/failure.h"
#include "timeline/log_source.h"
#include "timeline/log_start.h"


#include <algorithm>
#include <cstring>

namespace tarnveil {

namespace {

constexpr std::string_view LogFolderPrefix = ":\\logger\\logs\\";

QString timeText(int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

std::string describeLog(const LogSpan& log)
{
    return log.name.toStdString() + " (" + timeText(log.startMs).toStdString() + " to "
           + timeText(log.endMs()).toStdString() + ")";
}

} // namespace

int64_t LogSpan::lengthMs() const
{
    return sampleRate > 0 ? framesToMs(frames, sampleRate) : 0;
}

LogSpan probeLog(const std::filesystem::path& logFolder, const QByteArray& name, bool live)
{
    const LogSource source(logFolder / name.toStdString(), live);
    const SF_INFO& info = source.info();
    LogSpan span;
    span.name = name;
    span.frames = info.frames;
    span.sampleRate = info.samplerate;
    span.channels = info.channels;
    span.format = info.format;
    span.live = live;

    std::optional<QDateTime> start;
    if (const std::optional<SF_BROADCAST_INFO> bext = source.broadcastInfo()) {
        const uint64_t reference = (uint64_t{bext->time_reference_high} << 32) | bext->time_reference_low;
        start = startFromBext(std::string_view(bext->origination_date, sizeof bext->origination_date),
                              std::string_view(bext->origination_time, sizeof bext->origination_time), reference,
                              info.samplerate);
    }
    if (!start)
        start = startFromPath(name.toStdString(), source.modified(), span.lengthMs());
    if (!start)
        start = startFromModification(source.modified(), span.lengthMs());
    span.startMs = start->toMSecsSinceEpoch();
    return span;
}

std::vector<LogSpan> surveyLogs(const std::filesystem::path& logFolder, const std::vector<QByteArray>& names,
                                const QByteArray& liveName)
{
    std::vector<LogSpan> logs;
    logs.reserve(names.size());
    for (const QByteArray& name : names) {
        driveCall();
        try {
            logs.push_back(probeLog(logFolder, name, !liveName.isEmpty() && name == liveName));
        } catch (const Failure&) {
        }
    }
    std::stable_sort(logs.begin(), logs.end(),
                     [](const LogSpan& a, const LogSpan& b) { return a.startMs < b.startMs; });
    return logs;
}

QByteArray readLiveLogName(const std::filesystem::path& curFile)
{
    const std::optional<std::string> read = readCurFileAt(curFile, curFile.string());
    if (!read)
        return {};
    const std::string& name = *read;
    if (!name.starts_with(LogFolderPrefix))
        return {};
    QByteArray relative = QByteArray::fromStdString(name.substr(LogFolderPrefix.size()));
    relative.replace('\\', '/');
    return relative;
}

MomentPlace placeMoment(const std::vector<LogSpan>& logs, int64_t momentMs)
{
    MomentPlace place;
    for (size_t i = 0; i < logs.size(); ++i) {
        const LogSpan& log = logs[i];
        if (momentMs >= log.startMs && momentMs < log.endMs()) {
            // Of overlapping logs the later start wins: it is the newer recording.
            place.holder = i;
            place.offsetMs = momentMs - log.startMs;
        }
        if (log.endMs() <= momentMs && (!place.before || logs[*place.before].endMs() <= log.endMs()))
            place.before = i;
        if (log.startMs > momentMs && !place.after)
            place.after = i;
    }
    return place;
}

std::string describeGap(const std::vector<LogSpan>& logs, const MomentPlace& place, int64_t momentMs)
{
    std::string text = timeText(momentMs).toStdString() + "; before it: ";
    text += place.before ? describeLog(logs[*place.before]) : "none";
    text += "; after it: ";
    text += place.after ? describeLog(logs[*place.after]) : "none";
    return text;
}

} // namespace tarnveil
