#include "program/module1.h"
#include "console/time_display.h"
#include "platform/drive_map.h"
#include "support/time_zone.h"

#include <QDateTime>
#include <QLocale>
#include <gtest/gtest.h>

#include <climits>

namespace tarnveil::test {
namespace {

struct FormatCase {
    int32_t seconds;
    const char* text;
};

class FormatTimeTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatTimeTest, GivesTheConsoleText)
{
    const DriveMap drives("/nonexistent");
    Module1 module(drives);
    module.TimeSeconds = GetParam().seconds;
    module.FormatTime();
    EXPECT_EQ(module.TimeText, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Table, FormatTimeTest,
                         ::testing::Values(FormatCase{0, "00:00"}, FormatCase{59, "00:59"}, FormatCase{125, "02:05"},
                                           FormatCase{3599, "59:59"}, FormatCase{3600, " 1:00:00"},
                                           FormatCase{3725, " 1:02:05"}, FormatCase{36000, "10:00:00"},
                                           FormatCase{86399, "23:59:59"}, FormatCase{86400, "00:00"},
                                           FormatCase{86400 + 3661, " 1:01:01"},
                                           // 25 hours: a log longer than a day.
                                           FormatCase{90000, " 1:00:00"},
                                           FormatCase{INT32_MAX, " 3:14:07"},
                                           // Past the end after a seek: nothing left.
                                           FormatCase{-1, "00:00"}));

TEST(RoundHalfEvenTest, HalvesGoToTheEvenSecond)
{
    const std::pair<int32_t, int32_t> cases[] = {
        {0, 0},       {499, 0},     {500, 0},     {501, 1},     {1500, 2},    {2500, 2},
        {3500, 4},    {62500, 62},  {63500, 64},  {999, 1},     {-500, 0},    {-1500, -2},
        {-501, -1},   {-2500, -2},  {INT32_MAX, 2147484}, {INT32_MIN, -2147484},
    };
    for (const auto& [ms, seconds] : cases)
        EXPECT_EQ(roundHalfEvenMs(ms), seconds) << ms;
}

TEST(ClockTextTest, FollowsTheLocaleWeekdayAndSeparators)
{
    const QDateTime at(QDate(2026, 12, 7), QTime(14, 5, 9));
    EXPECT_EQ(clockText(at, QLocale(QLocale::English, QLocale::UnitedStates)), "Monday  12/07/2026  14:05:09");
    EXPECT_EQ(clockText(at, QLocale(QLocale::German, QLocale::Germany)), "Montag  12.07.2026  14:05:09");
    const QDateTime morning(QDate(2027, 1, 3), QTime(0, 0, 0));
    EXPECT_EQ(clockText(morning, QLocale(QLocale::English, QLocale::UnitedStates)), "Sunday  01/03/2027  00:00:00");
}

TEST(ClockTextTest, SeparatorsComeFromTheFormats)
{
    EXPECT_EQ(fieldSeparator("M/d/yy", u'?'), u'/');
    EXPECT_EQ(fieldSeparator("dd.MM.yy", u'?'), u'.');
    EXPECT_EQ(fieldSeparator("yyyy-MM-dd", u'?'), u'-');
    EXPECT_EQ(fieldSeparator("d. M. yy", u'?'), u'.');
    EXPECT_EQ(fieldSeparator("H.mm", u'?'), u'.');
    EXPECT_EQ(fieldSeparator("h:mm AP", u'?'), u':');
    // Quoted text is not a separator.
    EXPECT_EQ(fieldSeparator("HH 'h' mm", u':'), u':');
    EXPECT_EQ(fieldSeparator("'.'yyyy", u'/'), u'/');
}

// The clock shows the local time as Qt works it out for each second, also
// across the changes of the clocks: London's on the hour, Lord Howe's on
// the half hour.
TEST(ClockTextTest, TheLocalClockAgreesWithQtAcrossTheChangesOfTheClocks)
{
    const std::pair<const char*, int64_t> changes[] = {
        {"Europe/London", QDateTime(QDate(2026, 3, 29), QTime(1, 0), Qt::UTC).toSecsSinceEpoch()},
        {"Europe/London", QDateTime(QDate(2026, 10, 25), QTime(1, 0), Qt::UTC).toSecsSinceEpoch()},
        {"Australia/Lord_Howe", QDateTime(QDate(2026, 4, 4), QTime(15, 0), Qt::UTC).toSecsSinceEpoch()},
        {"Australia/Lord_Howe", QDateTime(QDate(2026, 10, 3), QTime(15, 30), Qt::UTC).toSecsSinceEpoch()},
    };
    for (const auto& [zone, change] : changes) {
        const TimeZone inZone(zone);
        LocalClock clock;
        for (int64_t second = change - 3600; second < change + 3600; second += 7) {
            const QDateTime shown = clock.at(second);
            const QDateTime qt = QDateTime::fromSecsSinceEpoch(second);
            ASSERT_EQ(shown.date(), qt.date()) << zone << " " << second;
            ASSERT_EQ(shown.time(), qt.time()) << zone << " " << second;
        }
    }
}

} // namespace
} // namespace tarnveil::test
