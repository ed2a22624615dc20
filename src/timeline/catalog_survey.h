#pragma once

#include "catalog/log_catalog.h"
#include "timeline/log_timeline.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace tarnveil {

// Any thread: the logs of the catalog that may hold a moment from `fromMs` to
// `toMs`, with the nearest log on either side, placed in time and in order of
// their start, as surveyLogs gives them. The catalog places most logs by their
// names or by what it stored; only the few around the span are looked at on
// the drive: each is stat'ed, and opened when its size or time changed since
// it was stored or when nothing was stored for it (the live log always). A log
// that cannot be read is left out.
std::vector<LogSpan> surveyCatalog(LogCatalog& catalog, const std::filesystem::path& logFolder, int64_t fromMs,
                                   int64_t toMs, const QByteArray& liveName);

} // namespace tarnveil
