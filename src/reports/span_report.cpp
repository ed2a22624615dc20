#include "reports/span_report.h"

#include "loudness/log_measurement.h"
#include "loudness/profile_source.h"
#include "loudness/profile_store.h"
#include "platform/failure.h"
#include "platform/log_folder.h"
#include "timeline/log_start.h"
#include "timeline/log_timeline.h"

#include <algorithm>
#include <map>
#include <set>

namespace tarnveil {

namespace {

QString failureText(const std::exception& error)
{
    return QString::fromStdString(failureFromException(error).message());
}

std::shared_ptr<const LoudnessProfile> measureLive(const std::filesystem::path& file, MeasureControl& control)
{
    std::optional<LogMeasurement> measurement;
    {
        const DriveCall call(control);
        measurement.emplace(file, true);
    }
    if (!measurement->readOn(control))
        return nullptr;
    return std::make_shared<LoudnessProfile>(measurement->profile());
}

bool overlaps(const LogSpan& span, int64_t fromMs, int64_t toMs)
{
    return span.startMs < toMs && std::max(span.endMs(), span.startMs + 1) > fromMs;
}

} // namespace

SpanReport collectSpanReport(const std::filesystem::path& logFolder, const std::filesystem::path& curFile,
                             int64_t fromMs, int64_t toMs, MeasureControl& control,
                             const std::function<void(size_t done, size_t total)>& progress)
{
    SpanReport report;
    report.fromMs = fromMs;
    report.toMs = toMs;
    const std::vector<LogFile> files = [&] {
        const DriveCall call(control);
        return listLogs(logFolder);
    }();
    QByteArray liveName;
    try {
        const DriveCall call(control);
        liveName = readLiveLogName(curFile);
    } catch (const Failure&) {
        // Without a readable CurFile no log counts as live: each is measured as it stands.
    }
    std::map<QByteArray, QString> shown;
    std::vector<QByteArray> names;
    for (const LogFile& file : files) {
        names.push_back(QByteArray::fromStdString(file.path));
        shown[names.back()] = QString::fromStdString(file.shown());
    }

    // The survey is one call here: a share that answers each log slowly can
    // take longer than one call may, which the catalog's survey avoids.
    const std::vector<LogSpan> spans = [&] {
        const DriveCall call(control);
        return surveyLogs(logFolder, names, liveName);
    }();
    for (const LogSpan& span : spans)
        if (overlaps(span, fromMs, toMs))
            report.logs.push_back({{span, nullptr}, shown[span.name], {}});

    // A log the survey could not read is still reported, where its name places it.
    std::set<QByteArray> surveyed;
    for (const LogSpan& span : spans)
        surveyed.insert(span.name);
    for (const QByteArray& name : names) {
        if (surveyed.contains(name))
            continue;
        // Unreadable, it offers no time or length of its own: its path alone places it.
        const std::optional<QDateTime> start = startFromPath(name.toStdString(), QDateTime(), 0);
        if (!start || start->toMSecsSinceEpoch() < fromMs || start->toMSecsSinceEpoch() >= toMs)
            continue;
        ReportedLog unreadable{{LogSpan{}, nullptr}, shown[name], {}};
        unreadable.log.span.name = name;
        unreadable.log.span.startMs = start->toMSecsSinceEpoch();
        try {
            // Readable by now after all: it is reported as any other.
            const DriveCall call(control);
            unreadable.log.span = probeLog(logFolder, name, name == liveName);
            if (!overlaps(unreadable.log.span, fromMs, toMs))
                continue;
        } catch (const std::exception& error) {
            unreadable.failure = failureText(error);
        }
        report.logs.push_back(std::move(unreadable));
    }
    std::stable_sort(report.logs.begin(), report.logs.end(), [](const ReportedLog& a, const ReportedLog& b) {
        return a.log.span.startMs < b.log.span.startMs;
    });

    ProfileStore store(logFolder);
    size_t done = 0;
    for (ReportedLog& reported : report.logs) {
        if (progress)
            progress(done, report.logs.size());
        ++done;
        if (!reported.failure.isEmpty())
            continue;
        try {
            const LogSpan& span = reported.log.span;
            if (span.live) {
                reported.log.profile = measureLive(logFolder / span.name.toStdString(), control);
            } else if (std::optional<LoudnessProfile> profile = obtainProfile(store, logFolder, span.name, control)) {
                reported.log.profile = std::make_shared<LoudnessProfile>(std::move(*profile));
            }
        } catch (const std::exception& error) {
            reported.failure = failureText(error);
        }
        if (control.cancelled.load()) {
            report.cancelled = true;
            return report;
        }
    }
    if (progress)
        progress(done, report.logs.size());
    return report;
}

std::vector<SilentStretch> silencesInSpan(const SpanReport& report, double thresholdDbfs, int64_t minimumMs)
{
    std::vector<ProfiledLog> logs;
    for (const ReportedLog& reported : report.logs)
        if (reported.log.profile)
            logs.push_back(reported.log);
    std::vector<SilentStretch> inSpan;
    for (SilentStretch stretch : findSilences(logs, thresholdDbfs, 0)) {
        stretch.startMs = std::max(stretch.startMs, report.fromMs);
        stretch.endMs = std::min(stretch.endMs, report.toMs);
        if (stretch.lengthMs() >= minimumMs && stretch.lengthMs() > 0)
            inSpan.push_back(stretch);
    }
    return inSpan;
}

} // namespace tarnveil
