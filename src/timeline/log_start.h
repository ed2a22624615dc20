#pragma once

#include <QDateTime>

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarnveil {

// When a log starts, as local time of day, worked out from what the log says
// about itself. Pure functions: the caller reads the file (see log_probe.h).

// The origination date and time of a WAV file's bext chunk ("yyyy-mm-dd",
// "hh:mm:ss", any separators) and its time reference: the first sample's
// wall-clock time of day, in samples. A non-zero reference wins over the time, since it is exact to
// the sample; it is placed on the day nearest the origination time, so that a
// recording started before midnight and created after it still lands right.
std::optional<QDateTime> startFromBext(std::string_view originationDate, std::string_view originationTime,
                                       uint64_t timeReference, int sampleRate);

// A date and time in the log's path relative to the log folder: in the file
// name ("YYYY-MM-DD_HH-MM-SS", "YYYY-MM-DD-HH-MM-SS", "YYYYMMDD_HHMMSS",
// "YYYYMMDD-HHMMSS", "YYYY-MM-DD HH.MM.SS", or the hour alone as
// "YYYY-MM-DD-HH"), with any prefix or suffix, the longest form that matches;
// else in dated folders ("YYYY/MM/DD/HH/...", "YYYY-MM-DD/HH/..."). Both slash
// kinds separate folders. Where the path gives the hour alone, the start is
// the file's `modified` time less its length when that falls inside the hour,
// else the hour itself.
std::optional<QDateTime> startFromPath(std::string_view relativePath, const QDateTime& modified, int64_t lengthMs);

// The last resort: the file was last written when its recording ended.
QDateTime startFromModification(const QDateTime& modified, int64_t lengthMs);

} // namespace tarnveil
