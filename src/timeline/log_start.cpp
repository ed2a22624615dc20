#include "timeline/log_start.h"

#include <array>
#include <string>

namespace tarnveil {

namespace {

constexpr int64_t MsPerDay = 24LL * 3600 * 1000;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int digitsAt(std::string_view text, size_t at, size_t count)
{
    int value = 0;
    for (size_t i = 0; i < count; ++i)
        value = value * 10 + (text[at + i] - '0');
    return value;
}

bool allDigits(std::string_view text, size_t at, size_t count)
{
    if (at + count > text.size())
        return false;
    for (size_t i = 0; i < count; ++i) {
        if (!isDigit(text[at + i]))
            return false;
    }
    return true;
}

QDateTime localTime(int year, int month, int day, int hour, int minute, int second)
{
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, Qt::LocalTime);
}

// A pattern reads Y, M, D, h, m and s as digits of the year, month, day, hour,
// minute and second; '/' stands for either slash; every other character must
// appear as it is. A field the pattern lacks is 0 (the hour-only names).
QDateTime matchAt(std::string_view text, size_t at, std::string_view pattern)
{
    if (at + pattern.size() > text.size())
        return {};
    std::array<int, 128> fields{};
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char want = pattern[i];
        const char have = text[at + i];
        switch (want) {
        case 'Y': case 'M': case 'D': case 'h': case 'm': case 's':
            if (!isDigit(have))
                return {};
            fields[static_cast<size_t>(want)] = fields[static_cast<size_t>(want)] * 10 + (have - '0');
            break;
        case '/':
            if (have != '/' && have != '\\')
                return {};
            break;
        default:
            if (have != want)
                return {};
        }
    }
    // A match inside a longer run of digits is some other number.
    if (at > 0 && isDigit(text[at - 1]))
        return {};
    if (at + pattern.size() < text.size() && isDigit(text[at + pattern.size()]))
        return {};
    return localTime(fields['Y'], fields['M'], fields['D'], fields['h'], fields['m'], fields['s']);
}

QDateTime findPattern(std::string_view text, std::string_view pattern)
{
    for (size_t at = 0; at + pattern.size() <= text.size(); ++at) {
        QDateTime found = matchAt(text, at, pattern);
        if (found.isValid())
            return found;
    }
    return {};
}

} // namespace

std::optional<QDateTime> startFromBext(std::string_view originationDate, std::string_view originationTime,
                                       uint64_t timeReference, int sampleRate)
{
    if (originationDate.size() < 10 || !allDigits(originationDate, 0, 4) || !allDigits(originationDate, 5, 2)
        || !allDigits(originationDate, 8, 2))
        return std::nullopt;
    const QDate date(digitsAt(originationDate, 0, 4), digitsAt(originationDate, 5, 2),
                     digitsAt(originationDate, 8, 2));
    if (!date.isValid())
        return std::nullopt;

    std::optional<QDateTime> origination;
    if (originationTime.size() >= 8 && allDigits(originationTime, 0, 2) && allDigits(originationTime, 3, 2)
        && allDigits(originationTime, 6, 2)) {
        const QTime time(digitsAt(originationTime, 0, 2), digitsAt(originationTime, 3, 2),
                         digitsAt(originationTime, 6, 2));
        if (time.isValid())
            origination = QDateTime(date, time, Qt::LocalTime);
    }
    if (timeReference == 0 || sampleRate <= 0)
        return origination;

    const auto rate = static_cast<uint64_t>(sampleRate);
    const auto sinceMidnightMs =
        static_cast<int64_t>((timeReference / rate) * 1000 + (timeReference % rate) * 1000 / rate);
    // The reference is the wall-clock time of day counted in samples, not the
    // time elapsed since midnight: on a day the clocks change, the two differ by an hour.
    const QTime timeOfDay = QTime::fromMSecsSinceStartOfDay(static_cast<int>(sinceMidnightMs % MsPerDay));
    QDateTime start(date, timeOfDay, Qt::LocalTime);
    if (origination) {
        const int64_t apart = origination->msecsTo(start);
        if (apart > MsPerDay / 2)
            start = start.addDays(-1);
        else if (apart < -MsPerDay / 2)
            start = start.addDays(1);
    }
    return start;
}

namespace {

// A start to the second in the file name. The longest forms first: a shorter
// one may match the start of a longer name ("YYYY-MM-DD-hh" in "2026-12-07-16-30-00").
std::optional<QDateTime> fullStartInName(std::string_view name)
{
    static constexpr std::array<std::string_view, 5> NamePatterns{
        "YYYY-MM-DD_hh-mm-ss", "YYYY-MM-DD-hh-mm-ss", "YYYY-MM-DD hh.mm.ss", "YYYYMMDD_hhmmss", "YYYYMMDD-hhmmss",
    };
    for (std::string_view pattern : NamePatterns) {
        const QDateTime found = findPattern(name, pattern);
        if (found.isValid())
            return found;
    }
    return std::nullopt;
}

// The hour alone, from the file name or from dated folders.
std::optional<QDateTime> hourInPath(std::string_view relativePath, size_t slash, std::string_view name)
{
    if (const QDateTime found = findPattern(name, "YYYY-MM-DD-hh"); found.isValid())
        return found;
    if (slash == std::string_view::npos)
        return std::nullopt;
    // Dated folders: the date and the hour are whole folder names.
    const std::string folders = "/" + std::string(relativePath.substr(0, slash + 1));
    for (const std::string_view pattern : {std::string_view("/YYYY/MM/DD/hh/"), std::string_view("/YYYY-MM-DD/hh/")}) {
        const QDateTime found = findPattern(folders, pattern);
        if (found.isValid())
            return found;
    }
    return std::nullopt;
}

} // namespace

std::optional<QDateTime> startFromPath(std::string_view relativePath, const QDateTime& modified, int64_t lengthMs)
{
    const size_t slash = relativePath.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? relativePath : relativePath.substr(slash + 1);
    if (std::optional<QDateTime> full = fullStartInName(name))
        return full;
    const std::optional<QDateTime> hour = hourInPath(relativePath, slash, name);
    if (!hour)
        return std::nullopt;
    // A logger that started late in the hour: the file's own time tells when,
    // as long as it falls inside the hour the path gives.
    const QDateTime fromFile = startFromModification(modified, lengthMs);
    if (fromFile >= *hour && fromFile < hour->addSecs(3600))
        return fromFile;
    return hour;
}

QDateTime startFromModification(const QDateTime& modified, int64_t lengthMs)
{
    return modified.addMSecs(-lengthMs);
}

} // namespace tarnveil
