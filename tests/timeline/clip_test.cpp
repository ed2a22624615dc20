#include "timeline/clip_plan.h"
#include "timeline/clip_writer.h"
#include "timeline/log_timeline.h"

#include "logger_support.h"
#include "platform/failure.h"
#include "support/temp_dir.h"
#include "support/wav_fixtures.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace tarnveil::test {
namespace {

namespace fs = std::filesystem;

constexpr int Rate = 8000;

QDateTime local(int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(2026, 12, 7), QTime(h, mi, s, ms), Qt::LocalTime);
}

int64_t msAt(int h, int mi, int s, int ms = 0)
{
    return local(h, mi, s, ms).toMSecsSinceEpoch();
}

std::vector<QByteArray> namesIn(const fs::path& folder)
{
    std::vector<QByteArray> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(QByteArray::fromStdString(entry.path().filename().string()));
    return names;
}

struct Clip {
    SF_INFO info{};
    std::vector<short> samples;
    std::string date;   // the date tag, or the bext origination date and time
};

Clip readClip(const fs::path& file)
{
    Clip clip;
    SNDFILE* handle = sf_open(file.c_str(), SFM_READ, &clip.info);
    if (handle == nullptr)
        throw std::runtime_error("cannot read " + file.string() + ": " + sf_strerror(nullptr));
    clip.samples.resize(static_cast<size_t>(clip.info.frames * clip.info.channels));
    clip.samples.resize(static_cast<size_t>(sf_readf_short(handle, clip.samples.data(), clip.info.frames)
                                            * clip.info.channels));
    SF_BROADCAST_INFO bext{};
    if (sf_command(handle, SFC_GET_BROADCAST_INFO, &bext, sizeof bext) == SF_TRUE)
        clip.date = std::string(bext.origination_date, 10) + " " + std::string(bext.origination_time, 8);
    else if (const char* date = sf_get_string(handle, SF_STR_DATE))
        clip.date = date;
    sf_close(handle);
    return clip;
}

class ClipTest : public ::testing::Test {
protected:
    // Two consecutive hourly-style logs of a minute each, samples naming their frame.
    ClipTest()
    {
        writePositionWav(logs / "2026-12-07_14-00-00.wav", Rate, 60 * Rate);
        writePositionWav(logs / "2026-12-07_14-01-00.wav", Rate, 60 * Rate);
    }

    std::vector<LogSpan> survey() const { return surveyLogs(logs.path(), namesIn(logs.path()), {}); }

    TempDir logs;
    TempDir out;
};

// 14:00:50.000 to 14:01:10.000 runs over the hour boundary: the last ten seconds
// of the first log, then the first ten of the next, without a frame lost or doubled.
TEST_F(ClipTest, AClipAcrossTwoLogsIsSampleExactInEveryLosslessFormat)
{
    const ClipPlan plan = planClip(survey(), msAt(14, 0, 50), msAt(14, 1, 10));
    ASSERT_EQ(plan.pieces.size(), 2U);
    const std::vector<ClipFormat> formats = clipFormats(plan.format, Rate, 2);
    ASSERT_EQ(formats.size(), 5U) << "libsndfile should write WAV, FLAC, Vorbis and MP3";
    for (const ClipFormat& format : formats) {
        SCOPED_TRACE(format.caption.toStdString());
        const fs::path target = out / (std::to_string(&format - formats.data()) + "." + format.suffix.toStdString());
        ClipCancel cancel;
        ASSERT_TRUE(writeClip(logs.path(), plan, format.sndfileFormat, target, false, cancel));
        const Clip clip = readClip(target);
        EXPECT_EQ(clip.date.substr(0, 19), "2026-12-07 14:00:50") << "the clip's start is in the file";
        const bool lossless = (format.sndfileFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV
                              || (format.sndfileFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC;
        if (!lossless) {
            // Lossy coders pad their frames; the length is right to within a few of them.
            EXPECT_NEAR(clip.info.frames, 20 * Rate, Rate / 4);
            continue;
        }
        ASSERT_EQ(clip.info.frames, 20 * Rate);
        int64_t wrong = 0;
        for (int64_t i = 0; i < clip.info.frames; ++i) {
            const int64_t expected = i < 10 * Rate ? 50 * Rate + i : i - 10 * Rate;
            const int64_t got = frameOf(clip.samples[size_t(2 * i)], clip.samples[size_t(2 * i + 1)]);
            if (got != expected && ++wrong <= 3)
                ADD_FAILURE() << "clip frame " << i << " holds log frame " << got << ", not " << expected;
        }
        EXPECT_EQ(wrong, 0);
    }
    // Nothing but the clips: no temporary file stays behind.
    EXPECT_EQ(namesIn(out.path()).size(), formats.size());
}

TEST_F(ClipTest, GapsOverlapsAndDifferentFormatsAreRefusedWithTheLogsNamedAndAMomentIsInTheNewerLog)
{
    writePositionWav(logs / "2026-12-07_14-02-00.wav", Rate * 2, 60 * Rate * 2);
    writePositionWav(logs / "2026-12-07_14-03-05.wav", Rate * 2, 60 * Rate * 2);
    // 0.9 s missing between the first two, 0.5 s recorded twice between the last two.
    writePositionWav(logs / "2026-12-07_13-50-00.wav", Rate, 591 * Rate / 10);
    writePositionWav(logs / "2026-12-07_13-51-00.wav", Rate, 60 * Rate);
    writePositionWav(logs / "2026-12-07_13-52-00.wav", Rate, 605 * Rate / 10);
    writePositionWav(logs / "2026-12-07_13-53-00.wav", Rate, 60 * Rate);
    // Mono before the stereo 14:00 log: the same in all but the channel count.
    writePositionWav(logs / "2026-12-07_13-59-00.wav", Rate, 60 * Rate, 1);
    // Restarted half a minute into the 14:00 log.
    writePositionWav(logs / "2026-12-07_14-00-30.wav", Rate, 60 * Rate);
    const std::vector<LogSpan> logged = survey();
    const auto failureOf = [&](int64_t from, int64_t to) {
        try {
            planClip(logged, from, to);
        } catch (const Failure& failure) {
            return failure;
        }
        return Failure(FailureCode::InvalidArgument, "planned");
    };
    const Failure formats = failureOf(msAt(14, 1, 50), msAt(14, 2, 10));
    EXPECT_EQ(formats.code(), FailureCode::ClipFormatsDiffer);
    EXPECT_NE(formats.description().find("2026-12-07_14-01-00.wav and 2026-12-07_14-02-00.wav"), std::string::npos);
    EXPECT_EQ(failureOf(msAt(13, 59, 50), msAt(14, 0, 10)).code(), FailureCode::ClipFormatsDiffer);
    EXPECT_EQ(failureOf(msAt(14, 2, 50), msAt(14, 3, 10)).code(), FailureCode::ClipCrossesGap);
    EXPECT_EQ(failureOf(msAt(13, 50, 50), msAt(13, 51, 10)).code(), FailureCode::ClipCrossesGap);
    const Failure overlap = failureOf(msAt(13, 52, 50), msAt(13, 53, 10));
    EXPECT_EQ(overlap.message(), "427 The clip's logs overlap: 2026-12-07_13-52-00.wav and 2026-12-07_13-53-00.wav");
    // Where two logs hold a moment, the later start is the newer recording.
    const MomentPlace overlapped = placeMoment(logged, msAt(14, 0, 40));
    ASSERT_TRUE(overlapped.holder);
    EXPECT_EQ(logged[*overlapped.holder].name.toStdString(), "2026-12-07_14-00-30.wav");
    EXPECT_EQ(overlapped.offsetMs, 10000);
    const Failure gap = failureOf(msAt(14, 3, 2), msAt(14, 3, 10));
    EXPECT_EQ(gap.code(), FailureCode::NoLogAtTime);
    EXPECT_NE(gap.description().find("before it: 2026-12-07_14-02-00.wav (2026-12-07 14:02:00 to 2026-12-07 14:03:00)"),
              std::string::npos) << gap.description();
    EXPECT_NE(gap.description().find("after it: 2026-12-07_14-03-05.wav"), std::string::npos);
    // A clip that runs past the last log ends with what is recorded.
    EXPECT_EQ(planClip(logged, msAt(14, 4, 0), msAt(14, 9, 0)).frames(), 5 * Rate * 2);
}

TEST_F(ClipTest, ACancelledOrFailedSaveLeavesNothingAndNeverTouchesALog)
{
    const ClipPlan plan = planClip(survey(), msAt(14, 0, 0), msAt(14, 2, 0));
    const int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    int calls = 0;
    ClipCancel early;
    EXPECT_FALSE(writeClip(logs.path(), plan, format, out / "clip.wav", false, early, [&](int64_t, int64_t) {
        if (++calls == 3)
            early.cancel();
    }));
    EXPECT_TRUE(namesIn(out.path()).empty());
    // Cancelled once every block is written, while the clip is being finished.
    ClipCancel late;
    EXPECT_FALSE(writeClip(logs.path(), plan, format, out / "clip.wav", false, late, [&](int64_t done, int64_t total) {
        if (done == total)
            late.cancel();
    }));
    EXPECT_TRUE(namesIn(out.path()).empty());

    const auto failureOf = [&](const fs::path& target) {
        try {
            ClipCancel cancel;
            writeClip(logs.path(), plan, format, target, false, cancel);
        } catch (const Failure& failure) {
            return failure.code();
        }
        return FailureCode::InvalidArgument;
    };
    EXPECT_EQ(failureOf(out / "missing" / "clip.wav"), FailureCode::FileNotFound);
    if (::geteuid() != 0) {
        fs::permissions(out.path(), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_EQ(failureOf(out / "clip.wav"), FailureCode::PermissionDenied);
        fs::permissions(out.path(), fs::perms::owner_all);
    }
    EXPECT_TRUE(namesIn(out.path()).empty());

    const auto before = readBytes(logs / "2026-12-07_14-00-00.wav");
    // No clip goes among the logs: it could replace one.
    EXPECT_EQ(failureOf(logs / "2026-12-07_14-00-00.wav"), FailureCode::PermissionDenied);
    EXPECT_EQ(failureOf(logs / "new.wav"), FailureCode::PermissionDenied);
    EXPECT_EQ(readBytes(logs / "2026-12-07_14-00-00.wav"), before);
    EXPECT_EQ(namesIn(logs.path()).size(), 2U);
}

// The same folder reached through a bind mount, as through a second mount of the share.
TEST_F(ClipTest, NoClipGoesIntoTheLogFolderReachedByAnotherMount)
{
    const TempDir alias;
    if (::mount(logs.path().c_str(), alias.path().c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "no right to bind-mount a folder: " << std::strerror(errno);
    const std::unique_ptr<const TempDir, void (*)(const TempDir*)> mounted(
        &alias, [](const TempDir* folder) { ::umount2(folder->path().c_str(), MNT_DETACH); });
    const ClipPlan plan = planClip(survey(), msAt(14, 0, 0), msAt(14, 0, 1));
    ClipCancel cancel;
    try {
        writeClip(logs.path(), plan, SF_FORMAT_WAV | SF_FORMAT_PCM_16, alias / "new.wav", false, cancel);
        ADD_FAILURE() << "the clip was written into the log folder";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::PermissionDenied);
    }
    EXPECT_EQ(namesIn(logs.path()).size(), 2U);
}

// Float samples beyond full scale stay at full scale in 16-bit and FLAC clips.
TEST_F(ClipTest, AFloatLogLouderThanFullScaleIsClippedInIntegerClips)
{
    const fs::path log = logs / "2026-12-07_14-05-00.wav";
    SF_INFO info{Rate, Rate, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* handle = sf_open(log.c_str(), SFM_WRITE, &info);
    ASSERT_NE(handle, nullptr);
    std::vector<float> loud(Rate);
    for (size_t i = 0; i < loud.size(); ++i)
        loud[i] = i % 2 == 0 ? 1.5F : -1.5F;
    sf_writef_float(handle, loud.data(), Rate);
    sf_close(handle);

    const ClipPlan plan = planClip(survey(), msAt(14, 5, 0), msAt(14, 5, 1));
    for (const int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_FLAC | SF_FORMAT_PCM_24}) {
        const fs::path target = out / (format == (SF_FORMAT_WAV | SF_FORMAT_PCM_16) ? "loud.wav" : "loud.flac");
        ClipCancel cancel;
        ASSERT_TRUE(writeClip(logs.path(), plan, format, target, false, cancel));
        const Clip clip = readClip(target);
        ASSERT_EQ(clip.samples.size(), size_t(Rate));
        EXPECT_EQ(clip.samples[0], 32767) << target;
        EXPECT_EQ(clip.samples[1], -32768) << target;
    }
}

// The simulator records; its header stays stale until the file is finished.
// The clip takes what has been recorded by then, read through sizes corrected
// in memory, and the log is not written to.
TEST(LiveClip, AClipOfTheLiveLogTakesWhatIsRecordedAndLeavesTheLogAlone)
{
    TempDir root;
    TempDir out;
    auto logger = startLogger({"--root", QString::fromStdString(root.path().string()), "--rate",
                               QString::number(Rate), "--channels", "2", "--period", "1h", "--no-align"});
    const fs::path folder = root / "logger" / "logs";
    std::string name;
    ASSERT_TRUE(waitFor(
        [&] {
            const auto text = readCurFileText(root.path());
            if (!text || text->size() <= 14)
                return false;
            name = text->substr(14);
            std::error_code ignored;
            return fs::file_size(folder / name, ignored) > 46 + 3 * Rate * 4 && !ignored;
        },
        std::chrono::milliseconds(10000)));
    const fs::path log = folder / name;
    ASSERT_EQ(headerSizes(log).data, 0U) << "the header should still be stale";
    const auto header = [&] {
        auto bytes = readBytes(log);
        bytes.resize(46);
        return bytes;
    };
    const auto headerBefore = header();

    const QByteArray live = readLiveLogName(root / "logger" / "CurFile");
    ASSERT_EQ(live.toStdString(), name);
    const std::vector<LogSpan> logged = surveyLogs(folder, {live}, live);
    ASSERT_EQ(logged.size(), 1U);
    const LogSpan& span = logged.front();
    EXPECT_GE(span.frames, 3 * Rate);
    // From one second in to well after now: the clip ends where the recording stood.
    const ClipPlan plan = planClip(logged, span.startMs + 1000, span.startMs + 3600 * 1000);
    EXPECT_EQ(plan.frames(), span.frames - Rate);
    ClipCancel cancel;
    ASSERT_TRUE(writeClip(folder, plan, SF_FORMAT_WAV | SF_FORMAT_PCM_16, out / "live.wav", false, cancel));
    EXPECT_EQ(header(), headerBefore);

    logger->terminate();
    ASSERT_TRUE(logger->waitForFinished(10000));
    const DecodedLog recorded = decodeLog(log);
    const Clip clip = readClip(out / "live.wav");
    ASSERT_EQ(clip.info.frames, plan.frames());
    int64_t wrong = 0;
    for (int64_t i = 0; i < clip.info.frames; ++i) {
        const auto expected = static_cast<short>(std::lround(recorded.at(Rate + i) * 32768.0F));
        if (clip.samples[size_t(2 * i)] != expected && ++wrong <= 3)
            ADD_FAILURE() << "frame " << i << ": " << clip.samples[size_t(2 * i)] << " vs " << expected;
    }
    EXPECT_EQ(wrong, 0);
}

} // namespace
} // namespace tarnveil::test
