#include "console/time_display.h"

#include <QDateTime>
#include <QLocale>

namespace tarnveil {

int32_t roundHalfEvenMs(int32_t ms)
{
    // Floor division keeps the remainder in 0..999 for negative counts too.
    int32_t quotient = ms / 1000;
    int32_t remainder = ms % 1000;
    if (remainder < 0) {
        remainder += 1000;
        --quotient;
    }
    if (remainder > 500 || (remainder == 500 && quotient % 2 != 0))
        ++quotient;
    return quotient;
}

QChar fieldSeparator(const QString& format, QChar fallback)
{
    bool quoted = false;
    bool seenField = false;
    for (const QChar c : format) {
        if (c == u'\'') {
            quoted = !quoted;
            continue;
        }
        if (quoted)
            continue;
        if (c.isLetter()) {
            seenField = true;
            continue;
        }
        if (seenField && !c.isSpace())
            return c;
    }
    return fallback;
}

namespace {
QString twoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}
} // namespace

QString clockText(const QDateTime& now, const QLocale& locale)
{
    const QChar dateSeparator = fieldSeparator(locale.dateFormat(QLocale::ShortFormat), u'/');
    const QChar timeSeparator = fieldSeparator(locale.timeFormat(QLocale::ShortFormat), u':');
    const QDate date = now.date();
    const QTime time = now.time();
    return locale.dayName(date.dayOfWeek(), QLocale::LongFormat) + QStringLiteral("  ")
        + twoDigits(date.month()) + dateSeparator + twoDigits(date.day()) + dateSeparator
        + QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0')) + QStringLiteral("  ")
        + twoDigits(time.hour()) + timeSeparator + twoDigits(time.minute()) + timeSeparator
        + twoDigits(time.second());
}

QDateTime LocalClock::at(int64_t secondsSinceEpoch)
{
    const int64_t minute = secondsSinceEpoch / 60 - (secondsSinceEpoch % 60 < 0 ? 1 : 0);
    if (minute != minute_) {
        minute_ = minute;
        offsetSeconds_ = QDateTime::fromSecsSinceEpoch(minute * 60).offsetFromUtc();
    }
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch, Qt::OffsetFromUTC, offsetSeconds_);
}

int msUntilNextSecond(int64_t msSinceEpoch)
{
    // A millisecond past the turn: a timer never fires before its time, but
    // the clock it reads may stand a fraction of a millisecond behind.
    const auto intoSecond = static_cast<int>(((msSinceEpoch % 1000) + 1000) % 1000);
    return 1000 - intoSecond + 1;
}

} // namespace tarnveil
