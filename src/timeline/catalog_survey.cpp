#include "timeline/catalog_survey.h"

#include "platform/drive_call.h"
#include "platform/failure.h"
#include "platform/modified_time.h"
#include "timeline/log_start.h"

#include <sys/stat.h>

#include <algorithm>
#include <optional>

namespace tarnveil {

namespace {

// Logs before the span that are opened to see whether they reach into it:
// the nearest may have ended early, and the one before it run long.
constexpr size_t LogsBefore = 2;

struct Estimate {
    const LogFile* log;
    std::optional<int64_t> startMs; // none: nothing tells it without opening the log
};

std::optional<LogSpan> placeLog(LogCatalog& catalog, const std::filesystem::path& logFolder, const LogFile& log,
                                bool live)
{
    struct stat info {};
    driveCall();
    if (::stat((logFolder / log.path).c_str(), &info) != 0)
        return std::nullopt;
    const int64_t modifiedNs = tarnveil::modifiedNs(info);
    const std::optional<LogFacts> stored = catalog.facts(log.path);
    const QByteArray name = QByteArray::fromStdString(log.path);
    if (!live && stored && stored->known() && stored->size == info.st_size && stored->modifiedNs == modifiedNs)
        return LogSpan{name, stored->startMs, stored->frames, stored->sampleRate, stored->channels, stored->format,
                       false};
    try {
        driveCall();
        const LogSpan span = probeLog(logFolder, name, live);
        if (!live)
            catalog.storeFacts(log.path, LogFacts{info.st_size, modifiedNs, span.startMs, span.frames,
                                                  span.sampleRate, span.channels, span.format});
        return span;
    } catch (const Failure&) {
        return std::nullopt;
    }
}

} // namespace

std::vector<LogSpan> surveyCatalog(LogCatalog& catalog, const std::filesystem::path& logFolder, int64_t fromMs,
                                   int64_t toMs, const QByteArray& liveName)
{
    // The dated folders of the hours around the span, in either layout.
    std::vector<std::string> datedPaths;
    for (int64_t ms = fromMs - 3'600'000; ms <= toMs + 3'600'000; ms += 3'600'000) {
        const QDateTime hour = QDateTime::fromMSecsSinceEpoch(ms);
        datedPaths.push_back(hour.toString(QStringLiteral("yyyy/MM/dd/HH/")).toStdString());
        datedPaths.push_back(hour.toString(QStringLiteral("yyyy-MM-dd/HH/")).toStdString());
        if (datedPaths.size() > 96)
            break;
    }
    catalog.readTowards(logFolder, datedPaths);
    const std::shared_ptr<const std::vector<LogFile>> logs = catalog.logs(logFolder);
    std::vector<Estimate> placed;
    std::vector<const LogFile*> unplaced;
    for (size_t done = 0; const LogFile& log : *logs) {
        if (++done % 1000 == 0)
            ownWorkGoesOn();
        std::optional<int64_t> startMs;
        if (const std::optional<LogFacts> stored = catalog.facts(log.path); stored && stored->known())
            startMs = stored->startMs;
        // Only an estimate to pick the logs worth opening: those opened are placed exactly.
        else if (const std::optional<QDateTime> named = startFromPath(log.path, QDateTime(), 0))
            startMs = named->toMSecsSinceEpoch();
        if (startMs)
            placed.push_back({&log, startMs});
        else
            unplaced.push_back(&log);
    }
    std::stable_sort(placed.begin(), placed.end(),
                     [](const Estimate& a, const Estimate& b) { return *a.startMs < *b.startMs; });

    // From the LogsBefore-th log starting before the span to the first starting after it.
    const auto firstAfter = std::upper_bound(placed.begin(), placed.end(), toMs,
                                             [](int64_t ms, const Estimate& e) { return ms < *e.startMs; });
    auto first = std::lower_bound(placed.begin(), placed.end(), fromMs,
                                  [](const Estimate& e, int64_t ms) { return *e.startMs < ms; });
    first -= std::min<std::ptrdiff_t>(LogsBefore, first - placed.begin());
    const auto last = firstAfter == placed.end() ? placed.end() : firstAfter + 1;

    std::vector<const LogFile*> wanted;
    for (auto it = first; it != last; ++it)
        wanted.push_back(it->log);
    // A log that neither its name nor the catalog places is opened too; once
    // stored, it is placed without opening next time.
    wanted.insert(wanted.end(), unplaced.begin(), unplaced.end());
    if (!liveName.isEmpty()) {
        const auto live = std::find_if(logs->begin(), logs->end(),
                                       [&](const LogFile& log) { return log.path == liveName.toStdString(); });
        if (live != logs->end() && std::find(wanted.begin(), wanted.end(), &*live) == wanted.end())
            wanted.push_back(&*live);
    }

    std::vector<LogSpan> spans;
    for (const LogFile* log : wanted) {
        if (std::optional<LogSpan> span = placeLog(catalog, logFolder, *log, log->path == liveName.toStdString()))
            spans.push_back(std::move(*span));
    }
    std::stable_sort(spans.begin(), spans.end(),
                     [](const LogSpan& a, const LogSpan& b) { return a.startMs < b.startMs; });
    return spans;
}

} // namespace tarnveil
