// The console and Debian's rotter, the logger many stations run: the console
// lists and plays what rotter archives, in each of its layouts and formats,
// and follows the WAV it is recording as it grows.

#include "console_fixture.h"
#include "logger_support.h"

#include "components/track_bar.h"
#include "components/wave_player.h"
#include "support/audio_env.h"
#include "support/rotter_run.h"

#include <QListView>
#include <QSignalSpy>
#include <QTest>

#include <iostream>
#include <memory>
#include <optional>

namespace tarnveil::test {
namespace {

namespace fs = std::filesystem;

class RotterArchives : public ConsoleTest {
protected:
    // Starts the private JACK server; false (with the test skipped) where its
    // programs are not installed. A server that will not start for any other
    // reason fails the test.
    bool startServer()
    {
        if (const std::string why = JackServer::unavailable(); !why.empty()) {
            skipReason = why;
            return false;
        }
        server.emplace();
        return true;
    }

    std::string skipReason;
    std::optional<JackServer> server;
};

// Expects the capture device to have heard every sounding frame of `logs`
// (stereo), joined in order, and nothing else; returns how many frames sound.
int64_t expectHeardWhole(const std::vector<DecodedLog>& logs)
{
    const std::vector<float> heard = soundingHeard(2);
    const std::vector<float> recorded = soundingRecorded(logs, 2);
    EXPECT_EQ(heard.size(), recorded.size());
    EXPECT_TRUE(heard == recorded);
    return static_cast<int64_t>(recorded.size()) / 2;
}

// An hour's archive as rotter writes it, and the name the console lists it by.
struct Archive {
    const char* layout;
    const char* format;
    const char* clock;
    const char* path;
    const char* listed;
};

// rotter names its files by the hour its clock shows: each runs at an hour of
// its own, so that the list's order is the order in time, across days, layouts
// and formats.
const Archive Archives[] = {
    {"hierarchy", "mp3", "2026-12-06 23:20:00", "2026/12/06/23/archive.mp3", "2026-12-06 23 archive.mp3"},
    {"dailydir", "flac", "2026-12-07 00:20:00", "2026-12-07/2026-12-07-00.flac", "2026-12-07-00.flac"},
    {"combo", "vorbis", "2026-12-07 01:20:00", "2026/12/07/01/2026-12-07-01.ogg", "2026-12-07-01.ogg"},
    {"flat", "aiff", "2026-12-07 02:20:00", "2026-12-07-02.aiff", "2026-12-07-02.aiff"},
    {"hierarchy", "au", "2026-12-07 03:20:00", "2026/12/07/03/archive.au", "2026-12-07 03 archive.au"},
    {"combo", "caf", "2026-12-07 04:20:00", "2026/12/07/04/2026-12-07-04.caf", "2026-12-07-04.caf"},
    {"dailydir", "wav", "2026-12-07 05:20:00", "2026-12-07/2026-12-07-05.wav", "2026-12-07-05.wav"},
};

TEST_F(RotterArchives, EachLayoutAndFormatIsListedInTimeOrderAndPlaysToItsEnd)
{
    if (!useCaptureDevice())
        GTEST_SKIP() << "no capture device";
    if (!startServer())
        GTEST_SKIP() << skipReason;
    // Every recorder at once, each for a second of the tone at least.
    std::vector<const Archive*> recorded;
    std::vector<std::unique_ptr<Rotter>> recorders;
    for (const Archive& archive : Archives) {
        if (!Rotter::records(archive.format)) {
            std::cout << "rotter here does not record " << archive.format << ": left out\n";
            continue;
        }
        recorders.push_back(std::make_unique<Rotter>(*server, logs, RotterRecording{archive.layout, archive.format,
                                                                                   archive.clock}));
        recorded.push_back(&archive);
    }
    ASSERT_FALSE(recorded.empty());
    QTest::qWait(1000);
    for (const auto& recorder : recorders)
        EXPECT_TRUE(recorder->stop()) << recorder->output();

    mnuMenu& w = openWindow();
    QStringList expected;
    for (const Archive* archive : recorded)
        expected << QString::fromLatin1(archive->listed);
    EXPECT_EQ(listedLogs(), expected);

    QSignalSpy stopped(w.WavePlayer, &WavePlayer::PlaybackStopped);
    for (const Archive* archive : recorded) {
        SCOPED_TRACE(archive->listed);
        const DecodedLog log = decodeLog(logs / archive->path);
        ASSERT_EQ(log.channels, 2);
        stopped.clear();
        selectLog(QString::fromLatin1(archive->listed));
        clickPlay();
        ASSERT_TRUE(waitFor([&] { return !stopped.isEmpty() && module.PlayerOpen == 0; }));
        EXPECT_EQ(errorMessage(), QString());
        // The whole of what rotter recorded was heard, sample for sample.
        EXPECT_NEAR(w.WavePlayer->Wave().Length(), log.frames * 1000 / log.sampleRate, 30);
        EXPECT_GE(expectHeardWhole({log}), 48000 * 8 / 10) << "rotter recorded less than the second it was left to";
    }
}

// rotter's WAV grows with a header that claims no samples, and no CurFile names
// it: the console plays it as it grows, without writing to it, goes on into the
// next hour's file when rotter starts that, and ends when rotter does.
TEST_F(RotterArchives, TheConsoleFollowsTheWaveRotterIsRecordingIntoTheNextHour)
{
    // Paced, as a sound card is: an unpaced device would spend the waits for
    // rotter writing silence as fast as it can.
    playDevice = pacedCaptureDeviceNumber();
    if (playDevice < 0)
        GTEST_SKIP() << "no paced capture device";
    if (!startServer())
        GTEST_SKIP() << skipReason;
    constexpr int64_t BytesPerSecond = 48000 * 4; // 16-bit stereo
    const std::string name = "2026-12-07-14.wav";
    const fs::path file = logs / name;
    const fs::path next = logs / "2026-12-07-15.wav";
    Rotter rotter(*server, logs, RotterRecording{"flat", "wav", "2026-12-07 14:59:59"});
    ASSERT_TRUE(waitFor(
        [&] {
            std::error_code ignored;
            return fs::file_size(file, ignored) > 44 + 2 * BytesPerSecond && !ignored;
        },
        8000))
        << rotter.output();
    EXPECT_EQ(headerSizes(file).data, 0U) << "rotter's live header should claim no samples";

    mnuMenu& w = openWindow();
    selectLog(QString::fromStdString(name));
    QSignalSpy stopped(w.WavePlayer, &WavePlayer::PlaybackStopped);
    QSignalSpy changed(w.WavePlayer, &WavePlayer::LogChanged);
    clickPlay();
    ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == -1; }, 5000));
    EXPECT_EQ(errorMessage(), QString());

    // Past what had been recorded at Play, with "Total" spanning the file as it grows.
    const int32_t maxAtPlay = w.TrackBar->Max();
    EXPECT_TRUE(waitFor([&] {
        return !stopped.isEmpty()
            || (w.WavePlayer->Position() > maxAtPlay + 1000 && w.TrackBar->Max() >= maxAtPlay + 3000);
    }, 15000));
    EXPECT_TRUE(stopped.isEmpty()) << "playback ended while rotter was still recording";
    EXPECT_EQ(headerSizes(file).data, 0U) << "the console wrote to rotter's file";

    // The hour turns: rotter finishes that file and records into the next.
    rotter.setClock("2026-12-07 15:00:00");
    ASSERT_TRUE(waitFor([&] { return !changed.isEmpty(); }, 10000));
    EXPECT_EQ(changed.last().at(0).value<fs::path>().filename(), next.filename());
    EXPECT_TRUE(stopped.isEmpty());
    EXPECT_TRUE(waitFor([&] {
        return w.lstLogs->currentIndex().data().toString() == "2026-12-07-15.wav";
    }, 6000));
    QTest::qWait(1000);
    EXPECT_EQ(headerSizes(next).data, 0U) << "the console wrote to rotter's file";
    ASSERT_TRUE(rotter.stop()) << rotter.output();
    ASSERT_TRUE(waitFor([&] { return !stopped.isEmpty() && module.PlayerOpen == 0; }, 10000));

    // What was heard is the whole recording, both hours, sample for sample.
    expectHeardWhole({decodeLog(file), decodeLog(next)});
}

} // namespace
} // namespace tarnveil::test
