#pragma once

#include <QString>

#include <cstdint>

class QDateTime;
class QLocale;

namespace tarnveil {

// Milliseconds to whole seconds, a half going to the even neighbour
// (2500 -> 2, 3500 -> 4), also for negative counts.
int32_t roundHalfEvenMs(int32_t ms);

// The separator a locale puts between the fields of one of its short date or
// time formats ("M/d/yy" -> '/', "dd.MM.yy" -> '.'), or `fallback` when the
// format has none.
QChar fieldSeparator(const QString& format, QChar fallback);

// The console clock: full weekday name, two blanks, MM/dd/yyyy, two blanks,
// HH:mm:ss, with the weekday and both separators taken from `locale`.
QString clockText(const QDateTime& now, const QLocale& locale);

// The local time of a second since the epoch, for the clock. Working out the
// zone's offset has the time zone file read again each time; clocks change
// only as a minute turns, so the offset is worked out once a minute.
class LocalClock {
public:
    QDateTime at(int64_t secondsSinceEpoch);

private:
    int64_t minute_ = INT64_MIN;
    int offsetSeconds_ = 0;
};

// Milliseconds from `msSinceEpoch` until just past the clock's next whole
// second, so that a timer started with it shows that second's time.
int msUntilNextSecond(int64_t msSinceEpoch);

} // namespace tarnveil
