#pragma once

#include "catalog/log_catalog.h"
#include "loudness/measure_control.h"
#include "loudness/silences.h"

#include <QString>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace tarnveil {

// One log of a report's span: placed in time, with its profile, or with the
// failure that kept it from being read.
struct ReportedLog {
    ProfiledLog log;
    QString shown;   // the name the log list shows
    QString failure; // number and description; empty when the log was read
};

// The logs that overlap a span of time, with their profiles.
struct SpanReport {
    int64_t fromMs = 0;
    int64_t toMs = 0;
    std::vector<ReportedLog> logs; // in order of their start
    bool cancelled = false;
};

// Measuring thread: every log in `logFolder` that overlaps fromMs..toMs, as
// the catalog places it, its profile from the catalog or measured and stored
// (the live log, named in `curFile`, is measured as far as it goes, not
// stored). A log that cannot be read is reported with its failure; one whose
// start cannot even be told is placed by its name when that holds a date.
// `progress` hears how many of the logs are done. Throws Failure when the log
// folder cannot be listed.
SpanReport collectSpanReport(LogCatalog& catalog, const std::filesystem::path& logFolder,
                             const std::filesystem::path& curFile, int64_t fromMs, int64_t toMs,
                             MeasureControl& control,
                             const std::function<void(size_t done, size_t total)>& progress = {});

// The silent stretches of the span, each cut to the span, of at least `minimumMs` there.
std::vector<SilentStretch> silencesInSpan(const SpanReport& report, double thresholdDbfs, int64_t minimumMs);

} // namespace tarnveil
