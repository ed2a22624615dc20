#include "catalog/catalog_database.h"
#include "catalog/log_catalog.h"
#include "catalog/share_pace.h"
#include "reports/span_report.h"
#include "share/drive_lane.h"
#include "support/slow_share.h"
#include "support/temp_dir.h"
#include "timeline/catalog_survey.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QTest>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <future>
#include <thread>

namespace tarnveil::test {
namespace {

using namespace std::chrono_literals;

constexpr int Rate = 8000;

// A log of 8 kHz 8-bit mono silence, `seconds` long, its samples a hole in a
// sparse file: a year of them takes no disk.
void writeLog(const std::filesystem::path& file, int64_t seconds)
{
    std::filesystem::create_directories(file.parent_path());
    const auto data = static_cast<uint32_t>(seconds * Rate);
    auto le = [](std::ofstream& out, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.put(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << "RIFF";
        le(out, 36 + data, 4);
        out << "WAVEfmt ";
        le(out, 16, 4);
        le(out, 1, 2);
        le(out, 1, 2);
        le(out, Rate, 4);
        le(out, Rate, 4);
        le(out, 1, 2);
        le(out, 8, 2);
        out << "data";
        le(out, data, 4);
    }
    std::filesystem::resize_file(file, 44 + data);
}

std::vector<std::string> paths(const std::vector<LogFile>& logs)
{
    std::vector<std::string> out;
    for (const LogFile& log : logs)
        out.push_back(log.path);
    return out;
}

// Looks until the catalog has read and checked every folder.
std::vector<std::string> lookWhole(LogCatalog& catalog, const std::filesystem::path& folder)
{
    CatalogLook look;
    do {
        look = catalog.look(folder);
        // As the log list does once it shows the look.
        if (look.unsaved)
            catalog.storeWhatChanged();
    } while (!look.complete);
    return paths(*look.rows);
}

int64_t msAt(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).toMSecsSinceEpoch();
}

bool contains(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

// Work on a drive lane with a 1-s deadline, as the console runs it, keeping
// every failure it delivers.
struct LaneRun {
    DriveLane lane{std::chrono::seconds(1)};
    std::vector<std::string> failures;

    template <typename Work>
    auto run(Work work)
    {
        std::optional<DriveOutcome<std::invoke_result_t<Work&>>> got;
        lane.start("L:\\logger\\logs", work, [&](auto outcome) { got = std::move(outcome); });
        EXPECT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, 120000));
        if (got && got->index() == 1)
            failures.push_back(std::get<1>(*got).message());
        return got;
    }

    // Looks until the catalog is complete; the looks, or none after a failure.
    std::vector<CatalogLook> lookWhole(const std::shared_ptr<LogCatalog>& catalog, const std::filesystem::path& folder)
    {
        std::vector<CatalogLook> looks;
        while (failures.empty() && (looks.empty() || !looks.back().complete)) {
            const auto look = run([catalog, folder] {
                CatalogLook look = catalog->look(folder);
                // As the log list does once it shows the look.
                if (look.unsaved)
                    catalog->storeWhatChanged();
                return look;
            });
            if (!look || look->index() != 0)
                break;
            looks.push_back(std::get<0>(*look));
        }
        return looks;
    }
};

// A log added, removed, grown or replaced, while the console runs and while it is closed.
TEST(CatalogTest, FollowsLogsAddedRemovedGrownOrReplacedWhileRunningAndWhileClosed)
{
    TempDir logs;
    writeLog(logs / "2026-06-01_10-00-00.wav", 3600);
    writeLog(logs / "2026-06-01_11-00-00.wav", 3600);
    writeLog(logs / "2026/06/01/12/archive.wav", 3600);
    writeLog(logs / "2026/05/31/23/archive.wav", 3600);
    std::vector<std::string> listed;
    {
        LogCatalog catalog;
        listed = lookWhole(catalog, logs.path());
        EXPECT_EQ(listed, (std::vector<std::string>{"2026/05/31/23/archive.wav", "2026-06-01_10-00-00.wav",
                                                    "2026-06-01_11-00-00.wav", "2026/06/01/12/archive.wav"}));
        auto heldAt = [&](const char* moment) {
            const auto spans = surveyCatalog(catalog, logs.path(), msAt(moment), msAt(moment), {});
            const MomentPlace place = placeMoment(spans, msAt(moment));
            return place.holder ? spans[*place.holder].name.toStdString() : std::string();
        };
        EXPECT_EQ(heldAt("2026-06-01T11:30:00"), "2026-06-01_11-00-00.wav");
        EXPECT_EQ(heldAt("2026-05-31T23:30:00"), "2026/05/31/23/archive.wav");

        // While it runs: in the newest folders and an older one alike.
        writeLog(logs / "2026/06/01/13/archive.wav", 60);
        writeLog(logs / "2026-06-01_09-00-00.wav", 60);
        std::filesystem::remove(logs / "2026-06-01_10-00-00.wav");
        listed = paths(*catalog.look(logs.path()).rows);
        EXPECT_TRUE(contains(listed, "2026/06/01/13/archive.wav"));
        EXPECT_TRUE(contains(listed, "2026-06-01_09-00-00.wav"));
        EXPECT_FALSE(contains(listed, "2026-06-01_10-00-00.wav"));
        EXPECT_EQ(heldAt("2026-06-01T13:00:30"), "2026/06/01/13/archive.wav");
        EXPECT_EQ(heldAt("2026-06-01T13:30:00"), "");
        // Grown, and replaced by a shorter log of the same name: what was stored no longer holds.
        writeLog(logs / "2026/06/01/13/archive.wav", 3600);
        writeLog(logs / "2026/05/31/23/archive.wav", 60);
        EXPECT_EQ(heldAt("2026-06-01T13:30:00"), "2026/06/01/13/archive.wav");
        EXPECT_EQ(heldAt("2026-05-31T23:30:00"), "");
    }
    // While it is closed, in an older folder.
    writeLog(logs / "2026/05/31/22/archive.wav", 3600);
    std::filesystem::remove_all(logs / "2026/06/01/13");
    LogCatalog reopened;
    const CatalogLook warm = reopened.look(logs.path());
    EXPECT_FALSE(warm.complete);
    EXPECT_EQ(paths(*warm.rows), listed) << "a warm start shows the stored list";
    listed = lookWhole(reopened, logs.path());
    EXPECT_TRUE(contains(listed, "2026/05/31/22/archive.wav"));
    EXPECT_FALSE(contains(listed, "2026/06/01/13/archive.wav"));
}

TEST(CatalogTest, ADamagedOrLockedCatalogStillLists)
{
    TempDir logs;
    writeLog(logs / "a.wav", 1);
    const std::filesystem::path file = catalogFile(logs.path());
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << std::string(4096, 'x');
    {
        LogCatalog damaged;
        EXPECT_EQ(lookWhole(damaged, logs.path()), std::vector<std::string>{"a.wav"});
    }
    {
        LogCatalog rebuilt;
        EXPECT_FALSE(rebuilt.look(logs.path()).complete) << "the rebuilt catalog was stored";
    }
    // Another console holds the catalog locked: this one lists without storing.
    CatalogDatabase other(file);
    QSqlQuery lock(other.database());
    ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
    writeLog(logs / "b.wav", 1);
    LogCatalog locked;
    EXPECT_EQ(lookWhole(locked, logs.path()), (std::vector<std::string>{"a.wav", "b.wav"}));
    lock.exec(QStringLiteral("ROLLBACK"));
}

// The list stores its first look on a lane, which may still run as the
// program ends: the end waits for the catalog in use instead of tearing Qt
// SQL down under it.
TEST(CatalogTest, TheProgramsEndWaitsForACatalogInUse)
{
    TempDir dir;
    const std::filesystem::path released = dir / "released";
    // Forked, so that the child writes into this test's folder.
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            std::promise<void> held;
            std::thread([&held, released] {
                const CatalogUse use;
                held.set_value();
                std::this_thread::sleep_for(300ms);
                std::ofstream{released};
            }).detach();
            held.get_future().wait();
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_TRUE(std::filesystem::exists(released)) << "the end did not wait for the catalog in use";
}

// A year of hourly logs on a share that answers each call after 2 ms: listed
// and gone to without "does not answer"; frozen, reported once, and the look
// it dropped makes no further calls once the share answers.
TEST(CatalogTest, AYearOnASlowShareListsAndGoesToAMomentAndAFrozenOneIsLeftAlone)
{
    if (const std::string why = SlowShare::unavailable(); !why.empty())
        GTEST_SKIP() << why;
    TempDir source;
    const QDateTime first(QDate(2025, 12, 1), QTime(0, 0));
    for (int hour = 0; hour < 8760; ++hour) {
        const QString name = first.addSecs(hour * 3600LL).toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss'.wav'"));
        writeLog(source / name.toStdString(), 3600);
    }
    SlowShare share(source.path(), 2ms, SlowShare::Access::ReadOnly);
    auto catalog = std::make_shared<LogCatalog>();
    LaneRun lane;
    std::vector<std::string>& failures = lane.failures;
    auto run = [&](auto work) { return lane.run(work); };
    lane.lookWhole(catalog, share.mountPoint());
    const uint64_t before = share.calls();
    const int64_t moment = QDateTime(QDate(2026, 6, 15), QTime(12, 34, 56)).toMSecsSinceEpoch();
    const auto survey = run([catalog, folder = share.mountPoint(), moment] {
        const std::vector<LogSpan> spans = surveyCatalog(*catalog, folder, moment, moment, {});
        return placeMoment(spans, moment).holder ? spans[*placeMoment(spans, moment).holder].name : QByteArray();
    });
    EXPECT_TRUE(failures.empty()) << failures.front();
    ASSERT_TRUE(survey && survey->index() == 0);
    EXPECT_EQ(std::get<0>(*survey), "2026-06-15_12-00-00.wav");
    EXPECT_LT(share.calls() - before, 100u) << "Go To Time opened more than the logs around the moment";

    // So does a report: once it has measured the log of its span, the same
    // report again opens that log's stored facts and profile, not the year.
    auto report = [&, folder = share.mountPoint()] {
        std::vector<std::string> reported;
        std::async(std::launch::async, [&] {
            MeasureControl control;
            for (const ReportedLog& log :
                 collectSpanReport(*catalog, folder, folder / "CurFile", moment, moment + 600'000, control).logs)
                reported.push_back(log.log.span.name.toStdString() + (log.log.profile ? "" : " unmeasured"));
        }).get();
        return reported;
    };
    EXPECT_EQ(report(), std::vector<std::string>{"2026-06-15_12-00-00.wav"});
    const uint64_t beforeReport = share.calls();
    EXPECT_EQ(report(), std::vector<std::string>{"2026-06-15_12-00-00.wav"});
    EXPECT_LT(share.calls() - beforeReport, 100u) << "the report opened more than the logs around its span";

    share.freeze();
    writeLog(source / "2026-12-01_00-00-00.wav", 60);
    run([catalog, folder = share.mountPoint()] { return catalog->look(folder); });
    ASSERT_EQ(failures, std::vector<std::string>{"57 Device I/O error: L:\\logger\\logs does not answer"});
    share.thaw();
    QTest::qWait(300);
    const uint64_t settled = share.calls();
    QTest::qWait(300);
    EXPECT_EQ(share.calls(), settled) << "the dropped look went on calling";
}

// A year in hour folders on a slow share, cold: the newest logs come with the
// first look, the folders are read at a few calls each, and once complete an
// idle look costs a few calls, all counted (so that the poll's pace keeps an
// idle console within a call a second). The hourly look at the oldest folders
// takes logs the logger's clean-up removed out of the list.
TEST(CatalogTest, AYearInHourFoldersOnASlowShareFillsAndIdlesWithinItsBudgetAndLosesCleanedUpLogs)
{
    if (const std::string why = SlowShare::unavailable(); !why.empty())
        GTEST_SKIP() << why;
    TempDir source;
    const QDateTime first(QDate(2025, 12, 1), QTime(0, 0));
    auto hourPath = [&](int hour) {
        return first.addSecs(hour * 3600LL).toString(QStringLiteral("yyyy/MM/dd/HH/'archive.wav'")).toStdString();
    };
    constexpr int Hours = 8760;
    for (int hour = 0; hour < Hours; ++hour)
        writeLog(source / hourPath(hour), 3600);
    // Each folder's time is that of the last log the logger made in it.
    for (int hour = 0; hour < Hours; ++hour) {
        const timespec made{first.addSecs(hour * 3600LL).toSecsSinceEpoch(), 0};
        const std::array<timespec, 2> times{made, made};
        for (std::filesystem::path folder = (source / hourPath(hour)).parent_path(); folder != source.path().parent_path();
             folder = folder.parent_path())
            ::utimensat(AT_FDCWD, folder.c_str(), times.data(), 0);
    }
    constexpr int Folders = 8760 + 365 + 12 + 2 + 1; // hours, days, months, years, the log folder
    SlowShare share(source.path(), 1ms, SlowShare::Access::ReadOnly);
    int64_t nowS = 1000;
    auto catalog = std::make_shared<LogCatalog>([&nowS] { return nowS; });
    LaneRun lane;

    const std::vector<CatalogLook> cold = lane.lookWhole(catalog, share.mountPoint());
    ASSERT_TRUE(lane.failures.empty()) << lane.failures.front();
    ASSERT_FALSE(cold.empty());
    EXPECT_TRUE(contains(paths(*cold.front().rows), hourPath(Hours - 1))) << "the newest log waited for the archive";
    EXPECT_EQ(cold.back().rows->size(), size_t{Hours});
    const uint64_t coldCalls = share.calls();
    EXPECT_LE(coldCalls, uint64_t{11 * Folders}) << "too many calls a folder";

    // Idle looks, each after the pause the poll takes after it.
    int counted = 0;
    const uint64_t beforeIdle = share.calls();
    for (int i = 0; i < 6; ++i) {
        const auto look = lane.run([catalog, folder = share.mountPoint()] { return catalog->look(folder); });
        ASSERT_TRUE(look && look->index() == 0);
        counted += std::get<0>(*look).calls;
        nowS += std::chrono::duration_cast<std::chrono::seconds>(pauseAfterShareLook(std::get<0>(*look).calls)).count();
    }
    const uint64_t made = share.calls() - beforeIdle;
    EXPECT_LE(made, uint64_t(counted)) << "the looks made calls they did not count";
    EXPECT_LE(counted, 6 * 12) << "an idle look on a year of hour folders costs more than a few calls";

    // The clean-up takes the oldest log, and the oldest hour folder with its log.
    std::filesystem::remove(source / hourPath(0));
    std::filesystem::remove_all((source / hourPath(1)).parent_path());
    nowS += OlderFoldersEveryS;
    const auto look = lane.run([catalog, folder = share.mountPoint()] { return catalog->look(folder); });
    ASSERT_TRUE(look && look->index() == 0);
    const std::vector<std::string> listed = paths(*std::get<0>(*look).rows);
    EXPECT_FALSE(contains(listed, hourPath(0)));
    EXPECT_FALSE(contains(listed, hourPath(1)));
    EXPECT_TRUE(contains(listed, hourPath(2)));
    EXPECT_LE(std::get<0>(*look).calls, 60) << "the hourly look went past the oldest folders";

    // Started again after the logger made a new hour: only the folders that have
    // not settled are looked at again, and the new hour is listed.
    writeLog(source / hourPath(Hours), 3600);
    const uint64_t beforeWarm = share.calls();
    auto warm = std::make_shared<LogCatalog>([&nowS] { return nowS; });
    const std::vector<CatalogLook> warmLooks = lane.lookWhole(warm, share.mountPoint());
    ASSERT_FALSE(warmLooks.empty());
    EXPECT_TRUE(contains(paths(*warmLooks.back().rows), hourPath(Hours)));
    EXPECT_EQ(warmLooks.back().rows->size(), size_t{Hours - 1});
    EXPECT_LE(share.calls() - beforeWarm, uint64_t{600}) << "a warm start looked at the whole archive again";
    EXPECT_TRUE(lane.failures.empty());
}

} // namespace
} // namespace tarnveil::test
