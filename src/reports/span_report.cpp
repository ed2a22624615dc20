#include "reports/span_report.h"

#include "loudness/log_measurement.h"
#include "loudness/profile_source.h"
#include "loudness/profile_store.h"
#include "platform/failure.h"
#include "platform/log_folder.h"
#include "timeline/catalog_survey.h"
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

SpanReport collectSpanReport(LogCatalog& catalog, const std::filesystem::path& logFolder,
                             const std::filesystem::path& curFile, int64_t fromMs, int64_t toMs,
                             MeasureControl& control, const std::function<void(size_t done, size_t total)>& progress)
{
    SpanReport report;
    report.fromMs = fromMs;
    report.toMs = toMs;
    QByteArray liveName;
    try {
        const DriveCall call(control);
        liveName = readLiveLogName(curFile);
    } catch (const Failure&) {
        // Without a readable CurFile no log counts as live: each is measured as it stands.
    }

    // The catalog places the logs and looks on the drive only at those around
    // the span, marking each call, so that a slow share with a big archive
    // that answers every call is not taken for one that does not answer.
    std::shared_ptr<const std::vector<LogFile>> files;
    std::vector<LogSpan> spans;
    try {
        const DriveCall call(control);
        const DriveCallScope marking(control.marked);
        spans = surveyCatalog(catalog, logFolder, fromMs, toMs, liveName);
        files = catalog.logs(logFolder);
    } catch (const DriveCallCancelled&) {
        report.cancelled = true;
        return report;
    }
    std::map<QByteArray, QString> shown;
    for (const LogFile& file : *files)
        shown[QByteArray::fromStdString(file.path)] = QString::fromStdString(file.shown());
    for (const LogSpan& span : spans)
        if (overlaps(span, fromMs, toMs))
            report.logs.push_back({{span, nullptr}, shown[span.name], {}});

    // A log the survey could not read is still reported, where its name places it.
    std::set<QByteArray> surveyed;
    for (const LogSpan& span : spans)
        surveyed.insert(span.name);
    for (const auto& [name, listed] : shown) {
        if (surveyed.contains(name))
            continue;
        // Unreadable, it offers no time or length of its own: its path alone places it.
        const std::optional<QDateTime> start = startFromPath(name.toStdString(), QDateTime(), 0);
        if (!start || start->toMSecsSinceEpoch() < fromMs || start->toMSecsSinceEpoch() >= toMs)
            continue;
        ReportedLog unreadable{{LogSpan{}, nullptr}, listed, {}};
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
