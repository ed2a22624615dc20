#pragma once

#include "reports/span_report.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace tarnveil {

// A moment as the reports write it: local time, "YYYY-MM-DD HH:MM:SS.mmm".
QString reportTime(int64_t ms);

// "start,end,length_s,log": one row per stretch; `log` is the name the log
// list shows for the log the stretch starts in.
QString silenceCsv(const SpanReport& report, const std::vector<SilentStretch>& silences);

// "log,start,integrated_lufs,range_lu,max_sample_peak_dbfs": one row per log
// in the span. A silent log's loudness reads -inf; a log that could not be
// read has empty figures (its failure is reported beside the list).
QString loudnessCsv(const SpanReport& report);

} // namespace tarnveil
