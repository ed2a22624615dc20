#include "console_fixture.h"

#include "components/track_bar.h"
#include "components/wave_player.h"
#include "loudness/loudness_strip.h"
#include "support/audio_env.h"
#include "support/wav_fixtures.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <cstring>

namespace tarnveil::test {
namespace {

using StripTest = ConsoleTest;

// The first frame of the last unbroken run the capture device heard: where
// playback went on after the last seek.
int64_t firstFrameOfLastRun()
{
    const std::vector<char> bytes = readCapture();
    int64_t runStart = -1;
    int64_t previous = -2;
    for (size_t i = 0; i + 2 * sizeof(float) <= bytes.size(); i += 2 * sizeof(float)) {
        float sample[2];
        std::memcpy(sample, bytes.data() + i, sizeof sample);
        const auto left = static_cast<int16_t>(std::lround(sample[0] * 32768.0F));
        const auto right = static_cast<int16_t>(std::lround(sample[1] * 32768.0F));
        if (left == 0 && right == 0)
            continue;
        const int64_t frame = frameOf(left, right);
        if (frame != previous + 1)
            runStart = frame;
        previous = frame;
    }
    return runStart;
}

// A click on the strip seeks as one on the slider below it would: the thumb
// moves under the pointer and playback goes on from exactly there.
TEST_F(StripTest, TheStripSeeksWhereItIsClicked)
{
    if (!useCaptureDevice())
        GTEST_SKIP() << "no capture device";
    constexpr int Rate = 48000;
    constexpr int Seconds = 300;
    writePositionLog("300s.wav", int64_t{Seconds} * Rate, Rate);
    mnuMenu& w = openWindow();
    selectLog("300s.wav");
    QSignalSpy stopped(w.WavePlayer, &WavePlayer::PlaybackStopped);
    ASSERT_TRUE(playSelected());
    QTest::mouseClick(w.cmdPause, Qt::LeftButton);
    ASSERT_EQ(w.Paused, -1);

    ASSERT_EQ(w.loudnessStrip->width(), w.TrackBar->width());
    const QRect groove = w.TrackBar->grooveRect();
    QTest::mouseClick(w.loudnessStrip, Qt::LeftButton, {},
                      QPoint(groove.left() + groove.width() * 3 / 4, w.loudnessStrip->height() / 2));
    const int32_t target = w.TrackBar->Position();
    EXPECT_NEAR(target, Seconds * 1000 * 3 / 4, Seconds * 1000 / groove.width() + 1);
    EXPECT_EQ(w.WavePlayer->Position(), target);

    clickPlay();
    ASSERT_TRUE(waitFor([&] { return !stopped.isEmpty() && module.PlayerOpen == 0; }));
    EXPECT_EQ(firstFrameOfLastRun(), int64_t{target} * Rate / 1000);
    EXPECT_EQ(heardPositionFrames().last, int64_t{Seconds} * Rate - 1);
}

} // namespace
} // namespace tarnveil::test
