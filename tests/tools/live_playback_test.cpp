// The console and the logger together: the console plays the log the logger is
// recording, through the header fix-up, follows it as it grows and on into the
// next logs, and the logger still finishes its files properly.

#include "console_fixture.h"
#include "logger_support.h"

#include "components/track_bar.h"
#include "components/wave_player.h"
#include "support/audio_env.h"

#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace tarnveil::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

using LiveLogPlayback = ConsoleTest;

// The frame count in a WAV file's fact chunk (block codecs pad their last
// block), or -1 without one.
int64_t factFrames(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> head(512);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    const auto le32 = [&](size_t at) {
        return uint32_t{head[at]} | uint32_t{head[at + 1]} << 8 | uint32_t{head[at + 2]} << 16 |
               uint32_t{head[at + 3]} << 24;
    };
    for (size_t at = 12; at + 12 <= head.size();) {
        if (std::memcmp(&head[at], "fact", 4) == 0)
            return le32(at + 8);
        if (std::memcmp(&head[at], "data", 4) == 0)
            break;
        at += 8 + le32(at + 4) + (le32(at + 4) & 1U);
    }
    return -1;
}

TEST_F(LiveLogPlayback, TheConsoleHearsWhatTheLoggerRecordedAndTheLoggerStillFinishesTheFile)
{
    playDevice = pacedCaptureDeviceNumber();
    if (playDevice < 0)
        GTEST_SKIP() << "no paced capture device";
    constexpr int Rate = 8000;
    constexpr int BytesPerFrame = 4; // 16-bit stereo
    auto logger = startLogger({"--root", QString::fromStdString(loggerDir.path().string()), "--rate",
                               QString::number(Rate), "--channels", "2", "--period", "1h", "--no-align"});

    // Two seconds recorded, then the console starts (it lists the logs once, at start).
    std::string name;
    ASSERT_TRUE(waitFor(
        [&] {
            const auto text = readCurFileText(loggerDir.path());
            if (!text || text->size() <= 14)
                return false;
            name = text->substr(14);
            std::error_code ignored;
            return fs::file_size(logs / name, ignored) > 46 + 2 * Rate * BytesPerFrame && !ignored;
        },
        8000));
    EXPECT_EQ(headerSizes(logs / name).data, 0U) << "the header should still be stale";

    mnuMenu& w = openWindow();
    selectLog(QString::fromStdString(name));
    QSignalSpy stopped(w.WavePlayer, &WavePlayer::PlaybackStopped);
    const auto recordedBefore = static_cast<int64_t>((fs::file_size(logs / name) - 46) / BytesPerFrame);
    clickPlay();
    // Playback goes on after what had been recorded at Play, keeping up with
    // the logger until it stops.
    ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == -1; }, 5000));
    EXPECT_EQ(module.CurrentLogPath, "L:\\logger\\logs\\" + name);
    // The console gave the live header the sizes of what had been recorded by then.
    const HeaderSizes fixed = headerSizes(logs / name);
    EXPECT_GE(int64_t{fixed.data}, recordedBefore * BytesPerFrame);
    EXPECT_EQ(fixed.riff, fixed.data + 46 - 8);

    // Longer than what had been recorded at Play takes to play.
    const int32_t maxAtPlay = w.TrackBar->Max();
    QTest::qWait(3500);
    EXPECT_TRUE(stopped.isEmpty()) << "playback ended while the log was still being recorded";
    // "Total" spans the log as it grows, and the time left is the distance to the live edge.
    EXPECT_GE(w.TrackBar->Max(), maxAtPlay + 3000);
    EXPECT_NEAR(w.lblDown->text().section(':', 1).toInt(),
                (w.WavePlayer->Wave().Length() - w.WavePlayer->Position()) / 1000.0, 1.0);
    logger->terminate();
    ASSERT_TRUE(logger->waitForFinished(10000));
    EXPECT_EQ(logger->exitCode(), 0) << logger->readAllStandardError().toStdString();
    ASSERT_TRUE(waitFor([&] { return !stopped.isEmpty() && module.PlayerOpen == 0; }, 10000));

    // The finished file: true sizes, despite the console's rewrite in between.
    const auto file = logs / name;
    const HeaderSizes sizes = headerSizes(file);
    EXPECT_EQ(sizes.riff, fs::file_size(file) - 8);
    EXPECT_EQ(sizes.data, fs::file_size(file) - 46);
    const DecodedLog log = decodeLog(file);
    ASSERT_EQ(log.channels, 2);
    const auto marks = findMarks(log);
    ASSERT_FALSE(marks.empty());
    EXPECT_EQ(marks.back().frame, (log.frames - 1) / Rate * Rate);

    // What was heard is the whole recording, sample for sample: the part
    // recorded before Play and everything the logger appended while it played.
    std::vector<float> heard;
    const std::vector<float> captured = capturedSamples();
    appendSounding(heard, captured.data(), static_cast<int64_t>(captured.size() / 2), 2);
    std::vector<float> recorded;
    appendSounding(recorded, log.samples.data(), log.frames, 2);
    ASSERT_EQ(heard.size(), recorded.size());
    EXPECT_TRUE(heard == recorded);
}

struct LiveFormat {
    const char* format;
    int channels;
};

class LiveLogRotation : public ConsoleTest, public ::testing::WithParamInterface<LiveFormat> {};

// The logger starts a new file every two seconds. Played from the live log,
// the console goes on into each new log without a gap or a repeated sample,
// shows it as the selected log, and ends when the logger stops. Formats differ
// in how a file grows: by frames of 1 to 4 bytes per channel, or by 65-byte
// GSM blocks of 320 samples.
TEST_P(LiveLogRotation, PlaybackRunsOnIntoEachNewLogSampleForSampleUntilTheLoggerStops)
{
    // Paced, as a sound card is: an unpaced device would spend the waits for
    // the logger writing silence as fast as it can.
    playDevice = pacedCaptureDeviceNumber();
    if (playDevice < 0)
        GTEST_SKIP() << "no paced capture device";
    const LiveFormat format = GetParam();
    constexpr int Rate = 8000;
    auto logger = startLogger({"--root", QString::fromStdString(loggerDir.path().string()), "--rate",
                               QString::number(Rate), "--channels", QString::number(format.channels), "--format",
                               QString::fromLatin1(format.format), "--period", "2s", "--no-align"});
    // The console lists the logs once, at start: it starts right after a
    // rotation, once the new live log holds a few samples, and plays that.
    std::optional<std::string> earlier;
    ASSERT_TRUE(waitFor([&] { return (earlier = readCurFileText(loggerDir.path())) && earlier->size() > 14; }, 5000));
    std::string first;
    ASSERT_TRUE(waitFor(
        [&] {
            const auto text = readCurFileText(loggerDir.path());
            std::error_code ignored;
            if (!text || text->size() <= 14 || *text == *earlier)
                return false;
            first = text->substr(14);
            return fs::file_size(logs / first, ignored) > 200 && !ignored;
        },
        5000));
    mnuMenu& w = openWindow();
    QSignalSpy changed(w.WavePlayer, &WavePlayer::LogChanged);
    QSignalSpy stopped(w.WavePlayer, &WavePlayer::PlaybackStopped);
    selectLog(QString::fromStdString(first));
    QTest::mouseClick(w.cmdPlay, Qt::LeftButton);
    ASSERT_TRUE(ConsoleTest::waitFor([&] { return module.PlayerOpen == -1; }, 5000));
    ASSERT_EQ(module.CurrentLogPath, "L:\\logger\\logs\\" + first) << "the log was not live at Play";

    ASSERT_TRUE(ConsoleTest::waitFor([&] { return changed.size() >= 2; }, 12000));
    EXPECT_TRUE(stopped.isEmpty());
    // The console is on the log now heard: selected in the list (which did not
    // list it at start), named as the selected log, and the slider spans it.
    const auto now = changed.last().at(0).value<std::filesystem::path>().filename().string();
    // The list may list it only with its next look.
    EXPECT_TRUE(ConsoleTest::waitFor([&] {
        return w.lstLogs->currentItem() != nullptr && w.lstLogs->currentItem()->text().toStdString() == now;
    }, 6000));
    EXPECT_EQ(w.SelectedLogPath, "L:\\logger\\logs\\" + now);
    EXPECT_EQ(w.WavePlayer->FileName().filename().string(), now);
    EXPECT_LT(w.WavePlayer->Wave().Length(), 2001);

    logger->terminate();
    ASSERT_TRUE(logger->waitForFinished(10000));
    EXPECT_EQ(logger->exitCode(), 0) << logger->readAllStandardError().toStdString();
    ASSERT_TRUE(ConsoleTest::waitFor([&] { return !stopped.isEmpty() && module.PlayerOpen == 0; }, 10000));

    // Heard: the logs from the one played on, joined end to end, to the last
    // frame the logger wrote.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(logs)) {
        if (entry.path().filename().string() >= first)
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    ASSERT_GE(names.size(), 3U);
    const int heardChannels = std::min(format.channels, 2);
    std::vector<float> recorded;
    for (const std::string& name : names) {
        const DecodedLog log = decodeLog(logs / name);
        const int64_t fact = factFrames(logs / name);
        appendSounding(recorded, log.samples.data(), fact >= 0 ? std::min(fact, log.frames) : log.frames,
                       heardChannels);
    }
    std::vector<float> heard;
    const std::vector<float> captured = capturedSamples();
    appendSounding(heard, captured.data(), static_cast<int64_t>(captured.size()) / heardChannels, heardChannels);
    ASSERT_EQ(heard.size(), recorded.size()) << "heard " << heard.size() / heardChannels << " sounding frames";
    const auto differ = std::mismatch(heard.begin(), heard.end(), recorded.begin());
    EXPECT_TRUE(differ.first == heard.end())
        << "first difference at sounding frame " << (differ.first - heard.begin()) / heardChannels;
}

INSTANTIATE_TEST_SUITE_P(Formats, LiveLogRotation,
                         ::testing::Values(LiveFormat{"pcm8", 2}, LiveFormat{"pcm16", 2}, LiveFormat{"pcm24", 2},
                                           LiveFormat{"pcm32", 2}, LiveFormat{"float", 2}, LiveFormat{"alaw", 1},
                                           LiveFormat{"ulaw", 2}, LiveFormat{"gsm", 1}),
                         [](const ::testing::TestParamInfo<LiveFormat>& info) { return info.param.format; });

} // namespace
} // namespace tarnveil::test
