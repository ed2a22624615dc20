#include "timeline/clip_plan.h"
#include "timeline/clip_writer.h"
#include "timeline/log_start.h"
#include "timeline/log_timeline.h"

#include "support/temp_dir.h"
#include "support/time_zone.h"
#include "support/wav_fixtures.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <tuple>

namespace tarnveil::test {
namespace {

namespace fs = std::filesystem;

constexpr int Rate = 8000;

QDateTime local(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::LocalTime);
}

QDateTime startOf(const fs::path& folder, const std::string& name)
{
    return QDateTime::fromMSecsSinceEpoch(probeLog(folder, QByteArray::fromStdString(name), false).startMs);
}

void writeBextWav(const fs::path& file, const char* date, const char* time, uint64_t reference)
{
    SF_INFO info{};
    info.samplerate = Rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* handle = sf_open(file.c_str(), SFM_WRITE, &info);
    ASSERT_NE(handle, nullptr);
    SF_BROADCAST_INFO bext{};
    std::memcpy(bext.origination_date, date, 10);
    std::memcpy(bext.origination_time, time, 8);
    bext.time_reference_low = static_cast<uint32_t>(reference);
    bext.time_reference_high = static_cast<uint32_t>(reference >> 32);
    ASSERT_EQ(sf_command(handle, SFC_SET_BROADCAST_INFO, &bext, sizeof bext), SF_TRUE);
    const std::vector<short> silence(Rate, 0);
    sf_write_short(handle, silence.data(), Rate);
    sf_close(handle);
}

// Every name form, in every container a logger may use; the content is real
// audio, so the whole reading of the log is exercised, not the name alone.
TEST(LogStart, NamesAndDatedFoldersGiveTheStartInAnyFormat)
{
    struct Case {
        const char* path;
        int format;
        QDateTime start;
    };
    const int wav = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const Case cases[] = {
        {"2026-03-14_09-05-07.wav", wav, local(2026, 3, 14, 9, 5, 7)},
        {"2026-03-14-09-05-07.wav", wav, local(2026, 3, 14, 9, 5, 7)},
        {"studio1_20260314_090507_b.wav", wav, local(2026, 3, 14, 9, 5, 7)},
        {"20260314-090507.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, local(2026, 3, 14, 9, 5, 7)},
        {"rec 2026-03-14 09.05.07 end.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, local(2026, 3, 14, 9, 5, 7)},
        {"2026-03-14-09.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, local(2026, 3, 14, 9, 0, 0)},
        {"2026/03/14/09/archive.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, local(2026, 3, 14, 9, 0, 0)},
        {"2026/03/14/10/2026-03-14-10.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, local(2026, 3, 14, 10, 0, 0)},
        {"2026-03-14/2026-03-14-11.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, local(2026, 3, 14, 11, 0, 0)},
        {"2026-03-14/12/archive.wav", wav, local(2026, 3, 14, 12, 0, 0)},
    };
    TempDir folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        fs::create_directories((folder / c.path).parent_path());
        writePositionWav(folder / c.path, Rate, Rate, 1, c.format);
        EXPECT_EQ(startOf(folder.path(), c.path), c.start);
    }
}

// A date that is no date, or digits that run on, are no start: the file's own
// time decides, as it does for a name without a date.
TEST(LogStart, WithoutBextOrNameTheModificationTimeLessTheLengthIsTheStart)
{
    TempDir folder;
    const QDateTime modified = local(2026, 3, 14, 9, 0, 10);
    for (const char* name : {"log.wav", "2026-13-14_09-05-07.wav", "120260314_090507.wav"}) {
        SCOPED_TRACE(name);
        writePositionWav(folder / name, Rate, 10 * Rate, 1);
        const timespec times[2] = {{modified.toSecsSinceEpoch(), 0}, {modified.toSecsSinceEpoch(), 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (folder / name).c_str(), times, 0), 0);
        EXPECT_EQ(startOf(folder.path(), name), local(2026, 3, 14, 9, 0, 0));
    }
    // A name that gives the hour alone: the file's time places the start in
    // it, unless that falls outside the hour.
    for (const auto& [name, modifiedAt, start] :
         {std::tuple("2026-03-14-08.wav", local(2026, 3, 14, 9, 0, 10), local(2026, 3, 14, 8, 59, 44)),
          std::tuple("2026-03-14-07.wav", local(2026, 3, 14, 9, 0, 10), local(2026, 3, 14, 7, 0, 0))}) {
        SCOPED_TRACE(name);
        writePositionWav(folder / name, Rate, 26 * Rate, 1);
        const timespec times[2] = {{modifiedAt.toSecsSinceEpoch(), 0}, {modifiedAt.toSecsSinceEpoch(), 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (folder / name).c_str(), times, 0), 0);
        EXPECT_EQ(startOf(folder.path(), name), start);
    }
}

TEST(LogStart, BextComesFirstAndItsTimeReferenceIsExactToTheSample)
{
    TempDir folder;
    // The bext chunk wins over the name.
    writeBextWav(folder / "2026-03-14_09-05-07.wav", "2026-03-14", "10:00:00", 0);
    EXPECT_EQ(startOf(folder.path(), "2026-03-14_09-05-07.wav"), local(2026, 3, 14, 10, 0, 0));
    // The reference counts samples since midnight; half a second shows.
    writeBextWav(folder / "a.wav", "2026-03-14", "10:00:00", uint64_t{10 * 3600 + 1} * Rate + Rate / 2);
    EXPECT_EQ(startOf(folder.path(), "a.wav"), local(2026, 3, 14, 10, 0, 1, 500));
    // Recording began before midnight, the file was dated after it.
    writeBextWav(folder / "b.wav", "2026-03-15", "00:00:02", uint64_t{23 * 3600 + 59 * 60 + 59} * Rate);
    EXPECT_EQ(startOf(folder.path(), "b.wav"), local(2026, 3, 14, 23, 59, 59));
    // An empty bext says nothing; the name answers.
    writeBextWav(folder / "2026-03-14_09-05-07_c.wav", "\0\0\0\0\0\0\0\0\0", "\0\0\0\0\0\0\0", 0);
    EXPECT_EQ(startOf(folder.path(), "2026-03-14_09-05-07_c.wav"), local(2026, 3, 14, 9, 5, 7));
}

// On the days the clocks go forward and back, the time reference is the
// wall-clock time of day (not the time since midnight), and a clip we save
// reads back at the wall-clock time it was cut from.
TEST(LogStart, BextTimesAreWallClockTimesOnDaysTheClocksChange)
{
    const TimeZone london("Europe/London");
    for (const QDate day : {QDate(2026, 3, 29), QDate(2026, 10, 25)}) {
        SCOPED_TRACE(day.toString(Qt::ISODate).toStdString());
        TempDir folder;
        const std::string date = day.toString(Qt::ISODate).toStdString();
        writeBextWav(folder / "a.wav", date.c_str(), "03:00:00", uint64_t{3 * 3600} * Rate);
        EXPECT_EQ(startOf(folder.path(), "a.wav"), local(day.year(), day.month(), day.day(), 3, 0, 0));

        TempDir logs;
        const std::string name = date + "_03-00-00.wav";
        writePositionWav(logs / name, Rate, 60 * Rate);
        const int64_t from = local(day.year(), day.month(), day.day(), 3, 0, 10).toMSecsSinceEpoch();
        const ClipPlan plan = planClip(surveyLogs(logs.path(), {QByteArray::fromStdString(name)}, {}), from, from + 5000);
        ClipCancel cancel;
        ASSERT_TRUE(writeClip(logs.path(), plan, SF_FORMAT_WAV | SF_FORMAT_PCM_16, folder / "clip.wav", false, cancel));
        EXPECT_EQ(startOf(folder.path(), "clip.wav").toMSecsSinceEpoch(), from);
    }
}

} // namespace
} // namespace tarnveil::test
