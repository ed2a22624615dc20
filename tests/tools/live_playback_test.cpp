// The console and the logger together: the console plays the log the logger is
// recording, through the header fix-up, and the logger still finishes that file
// properly afterwards.

#include "console_fixture.h"
#include "logger_support.h"

#include "components/wave_player.h"
#include "support/audio_env.h"

#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <cstring>

namespace tarnveil::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

using LiveLogPlayback = ConsoleTest;

// The captured stream: 32-bit float stereo frames, as the player hands them to the device.
std::vector<float> capturedStereo()
{
    const std::vector<char> bytes = readCapture();
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

TEST_F(LiveLogPlayback, TheConsoleHearsWhatTheLoggerRecordedAndTheLoggerStillFinishesTheFile)
{
    if (!useCaptureDevice())
        GTEST_SKIP() << "no capture device";
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
    // The capture device is unpaced: the whole recording so far plays at once.
    ASSERT_TRUE(waitFor([&] { return !stopped.isEmpty() && module.PlayerOpen == 0; }, 20000));
    EXPECT_EQ(module.CurrentLogPath, "L:\\logger\\logs\\" + name);
    // The console gave the live header the sizes of what had been recorded by then.
    const HeaderSizes fixed = headerSizes(logs / name);
    EXPECT_GE(int64_t{fixed.data}, recordedBefore * BytesPerFrame);
    EXPECT_EQ(fixed.riff, fixed.data + 46 - 8);

    logger->terminate();
    ASSERT_TRUE(logger->waitForFinished(10000));
    EXPECT_EQ(logger->exitCode(), 0) << logger->readAllStandardError().toStdString();

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

    // What was heard is the recording from its first frame, sample for sample,
    // and at least as much as had been recorded when Play was pressed. The
    // capture device takes samples faster than any reader supplies them, so the
    // player fills its waits with silence: silent frames are left out on both sides.
    const auto sounding = [](float left, float right) { return left != 0.0F || right != 0.0F; };
    std::vector<float> heard;
    const std::vector<float> captured = capturedStereo();
    for (size_t i = 0; i + 1 < captured.size(); i += 2) {
        if (sounding(captured[i], captured[i + 1]))
            heard.insert(heard.end(), {captured[i], captured[i + 1]});
    }
    std::vector<float> recorded;
    int64_t soundingBefore = 0;
    for (int64_t f = 0; f < log.frames; ++f) {
        if (sounding(log.at(f, 0), log.at(f, 1))) {
            recorded.insert(recorded.end(), {log.at(f, 0), log.at(f, 1)});
            soundingBefore += f < recordedBefore ? 1 : 0;
        }
    }
    const auto frames = static_cast<int64_t>(heard.size() / 2);
    EXPECT_GE(frames, soundingBefore);
    ASSERT_LE(heard.size(), recorded.size());
    int64_t mismatches = 0;
    for (size_t i = 0; i < heard.size(); ++i) {
        if (heard[i] != recorded[i] && ++mismatches <= 3)
            ADD_FAILURE() << "sounding frame " << i / 2 << ": heard " << heard[i] << ", recorded " << recorded[i];
    }
    EXPECT_EQ(mismatches, 0);
}

} // namespace
} // namespace tarnveil::test
