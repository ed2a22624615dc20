#include "console_fixture.h"

#include "components/track_bar.h"
#include "components/wave_player.h"
#include "console/range_control.h"
#include "support/audio_env.h"
#include "support/wav_fixtures.h"

#include <QAction>
#include <QApplication>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>


namespace tarnveil::test {
namespace {

// Fast-forward, rewind, Repeat and the replays, on a log paused where the test
// puts it (sound server) or played through the capture device, whose captured
// samples name the frames that were heard.
class JumpTest : public ConsoleTest {
protected:
    // Opens `name` in the "10 Seconds" range and pauses it at once.
    void openPausedInTenSecondRange(const QString& name)
    {
        selectLog(name);
        ASSERT_TRUE(playSelected());
        QTest::mouseClick(window->cmdPause, Qt::LeftButton);
        ASSERT_EQ(window->Paused, -1);
        QTest::mouseClick(window->optRange[1], Qt::LeftButton);
        ASSERT_EQ(window->RangeIndex, 1);
    }

    void placeWindow(int32_t min, int32_t max, int32_t position)
    {
        window->TrackBar->setMin(min);
        window->TrackBar->setMax(max);
        window->WavePlayer->setPosition(position);
    }

    // Waits for the end of an unpaced playback through the capture device.
    bool waitForStop(QSignalSpy& stopped)
    {
        return waitFor([&] { return !stopped.isEmpty() && module.PlayerOpen == 0; });
    }

    using Captured = HeardFrames;
    static Captured captured() { return heardPositionFrames(); }
};

TEST_F(JumpTest, FastForwardIsRefusedAtTheEnd)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeLog("60s.wav", 60000);
    mnuMenu& w = openWindow();
    openPausedInTenSecondRange("60s.wav");

    placeWindow(40000, 50000, 49999);
    QTest::mouseClick(w.cmdFF, Qt::LeftButton);
    EXPECT_EQ(w.WavePlayer->Position(), 59999);
    EXPECT_EQ(w.TrackBar->Min(), 50000);
    EXPECT_EQ(w.TrackBar->Max(), 60000);
    EXPECT_EQ(w.RepeatPosition, 59999);

    placeWindow(40000, 50000, 50000);
    QTest::mouseClick(w.cmdFF, Qt::LeftButton);
    EXPECT_EQ(w.WavePlayer->Position(), 50000);
    EXPECT_EQ(w.TrackBar->Min(), 40000);
    EXPECT_EQ(w.TrackBar->Max(), 50000);
    EXPECT_EQ(w.RepeatPosition, 59999);
    // Neither jump touches the console state.
    EXPECT_EQ(w.Paused, -1);
    EXPECT_EQ(module.PlayerOpen, 0);
}

TEST_F(JumpTest, RewindIsRefusedAtTheStartAndShiftsTheWindowUnbounded)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeLog("60s.wav", 60000);
    mnuMenu& w = openWindow();
    openPausedInTenSecondRange("60s.wav");

    placeWindow(5000, 15000, 10001);
    QTest::mouseClick(w.cmdRwd, Qt::LeftButton);
    EXPECT_EQ(w.WavePlayer->Position(), 1);
    EXPECT_EQ(w.TrackBar->Min(), -5000);
    EXPECT_EQ(w.TrackBar->Max(), 5000);
    EXPECT_EQ(w.RepeatPosition, 1);

    placeWindow(5000, 15000, 10000);
    QTest::mouseClick(w.cmdRwd, Qt::LeftButton);
    EXPECT_EQ(w.WavePlayer->Position(), 10000);
    EXPECT_EQ(w.TrackBar->Min(), 5000);
    EXPECT_EQ(w.RepeatPosition, 1);
}

TEST_F(JumpTest, TwoFastForwardsMoveTwoSpans)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeLog("60s.wav", 60000);
    mnuMenu& w = openWindow();
    openPausedInTenSecondRange("60s.wav");

    placeWindow(20000, 30000, 25000);
    const int32_t thumb = w.TrackBar->Position();
    QTest::mouseClick(w.cmdFF, Qt::LeftButton);
    QTest::mouseClick(w.cmdFF, Qt::LeftButton);
    EXPECT_EQ(w.TrackBar->Min(), 40000);
    EXPECT_EQ(w.TrackBar->Max(), 50000);
    EXPECT_EQ(w.WavePlayer->Position(), 45000);
    // The thumb is left to the next tick of a running playback.
    EXPECT_EQ(w.TrackBar->Position(), thumb);

    // With the span of Total only the landing point is recorded.
    w.RangeIndex = 0;
    w.range().cmdFF_Click();
    EXPECT_EQ(w.WavePlayer->Position(), 45000);
    EXPECT_EQ(w.TrackBar->Min(), 40000);
    EXPECT_EQ(w.RepeatPosition, 45000);
}

TEST_F(JumpTest, ReplayOfTheLastTenSecondsPlaysExactlyThem)
{
    if (!useCaptureDevice())
        GTEST_SKIP() << "no capture device";
    constexpr int Rate = 48000;
    writePositionLog("95s.wav", 95 * Rate, Rate);
    mnuMenu& w = openWindow();
    selectLog("95s.wav");
    QSignalSpy stopped(w.WavePlayer, &WavePlayer::PlaybackStopped);

    QTest::mouseClick(w.cmdPlay, Qt::RightButton);
    ASSERT_TRUE(waitFor([&] { return w.mnuHiddenPopupPlay->isVisible(); }, 2000));
    QTest::mouseClick(w.mnuHiddenPopupPlay, Qt::LeftButton, {},
                      w.mnuHiddenPopupPlay->actionGeometry(w.mnuPlay10).center());
    ASSERT_TRUE(waitForStart());
    EXPECT_EQ(w.RangeIndex, 8);
    EXPECT_EQ(w.RangeLengths[8], 10000);
    EXPECT_EQ(w.TrackBar->Min(), 85000);
    EXPECT_EQ(w.TrackBar->Max(), 95000);

    ASSERT_TRUE(waitForStop(stopped));
    const Captured heard = captured();
    EXPECT_EQ(heard.first, 85 * Rate);
    EXPECT_EQ(heard.last, 95 * Rate - 1);
    EXPECT_EQ(heard.frames, 10 * Rate);

    // The replay range pages the jumps (the buttons follow the options, so
    // they are enabled only when a window option was chosen before).
    // A tick that caught the end before the stop was handled may have opened the
    // next window already, so the shift is measured from where the window is.
    w.WavePlayer->setPosition(50000);
    const int32_t windowStart = w.TrackBar->Min();
    w.range().cmdRwd_Click();
    EXPECT_EQ(w.WavePlayer->Position(), 40000);
    EXPECT_EQ(w.TrackBar->Min(), windowStart - 10000);

    // Play picks the option in force again, replacing the replay range.
    clickPlay();
    EXPECT_EQ(w.RangeIndex, 0);
}

TEST_F(JumpTest, RepeatPlaysFromTheLastJump)
{
    if (!useCaptureDevice())
        GTEST_SKIP() << "no capture device";
    constexpr int Rate = 48000;
    writePositionLog("45s.wav", 45 * Rate, Rate);
    mnuMenu& w = openWindow();
    selectLog("45s.wav");
    QSignalSpy stopped(w.WavePlayer, &WavePlayer::PlaybackStopped);

    // Before any jump Repeat plays from the start (frame 0 is silent).
    clickPlay();
    ASSERT_TRUE(waitForStop(stopped));
    stopped.clear();
    QTest::mouseClick(w.cmdRepeat, Qt::LeftButton);
    ASSERT_TRUE(waitForStop(stopped));
    EXPECT_EQ(captured().first, 1);

    QTest::mouseClick(w.optRange[1], Qt::LeftButton);
    w.WavePlayer->setPosition(32000);
    QTest::mouseClick(w.cmdFF, Qt::LeftButton);
    ASSERT_EQ(w.RepeatPosition, 42000);
    w.WavePlayer->setPosition(44000);
    stopped.clear();
    QTest::mouseClick(w.cmdRepeat, Qt::LeftButton);
    ASSERT_TRUE(waitForStop(stopped));
    const Captured heard = captured();
    EXPECT_EQ(heard.first, 42 * Rate);
    EXPECT_EQ(heard.last, 45 * Rate - 1);
    EXPECT_TRUE(errorMessage().isNull());
}

TEST_F(JumpTest, ReplayOfALogShorterThanItsSpanStartsAtTheBeginning)
{
    if (!useCaptureDevice())
        GTEST_SKIP() << "no capture device";
    constexpr int Rate = 48000;
    writePositionLog("3s.wav", 3 * Rate, Rate);
    mnuMenu& w = openWindow();
    selectLog("3s.wav");
    QSignalSpy stopped(w.WavePlayer, &WavePlayer::PlaybackStopped);

    w.mnuPlay20->trigger();
    ASSERT_TRUE(waitForStart());
    EXPECT_EQ(w.RangeIndex, 7);
    EXPECT_EQ(w.TrackBar->Min(), 0);
    EXPECT_EQ(w.TrackBar->Max(), 3000);
    ASSERT_TRUE(waitForStop(stopped));
    EXPECT_EQ(captured().first, 1);
    EXPECT_EQ(captured().frames, 3 * Rate - 1);

    // Repeat in a replay range replays the last span again, from the start here too.
    stopped.clear();
    QTest::mouseClick(w.cmdRepeat, Qt::LeftButton);
    // Read before the end: a tick at the end may open the next window.
    EXPECT_EQ(w.TrackBar->Min(), 0);
    ASSERT_TRUE(waitForStop(stopped));
    EXPECT_EQ(captured().first, 1);
}

TEST_F(JumpTest, ReplayWhilePausedResumesThePausedLog)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeLog("30s.wav", 30000);
    mnuMenu& w = openWindow();
    selectLog("30s.wav");
    ASSERT_TRUE(playSelected());
    QTest::mouseClick(w.cmdPause, Qt::LeftButton);
    w.WavePlayer->setPosition(3000);

    w.mnuPlay5->trigger();
    ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == -1; }));
    EXPECT_EQ(w.RangeIndex, 6);
    EXPECT_LT(w.WavePlayer->Position(), 10000);
    // The 5-second range now pages the jumps.
    QTest::mouseClick(w.cmdPause, Qt::LeftButton);
    w.WavePlayer->setPosition(12000);
    w.range().cmdFF_Click();
    EXPECT_EQ(w.WavePlayer->Position(), 17000);
}

} // namespace
} // namespace tarnveil::test
