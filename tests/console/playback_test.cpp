#include "console_fixture.h"

#include "components/track_bar.h"
#include "components/wave_player.h"
#include "console/console_colours.h"
#include "console/range_control.h"
#include "support/wav_fixtures.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

namespace tarnveil::test {
namespace {

using PlaybackTest = ConsoleTest;

const QColor Green(0x00, 0x80, 0x00);
const QColor LightGreen(0x80, 0xFF, 0x80);
const QColor LightYellow(0xFF, 0xFF, 0xC0);
const QColor Yellow(0xFF, 0xFF, 0x00);

TEST_F(PlaybackTest, ALogPlaysToItsEndAndTheConsoleReturnsToIdle)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeLog("short.wav", 1200, 8000);
    mnuMenu& w = openWindow();
    selectLog("short.wav");

    ASSERT_TRUE(playSelected());
    EXPECT_EQ(buttonColour(w.cmdPlay), LightGreen);
    EXPECT_EQ(QApplication::focusWidget(), w.cmdStop);
    EXPECT_EQ(w.SelectedLogPath, "L:\\logger\\logs\\short.wav");
    EXPECT_EQ(w.TrackBar->Min(), 0);
    EXPECT_EQ(w.TrackBar->Max(), 1200);
    // The read-outs run while playing.
    EXPECT_TRUE(waitFor([&] { return w.lblTime->text().startsWith("00:0"); }, 2000));
    EXPECT_TRUE(w.lblDown->text().startsWith("00:0"));

    ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == 0; }));
    EXPECT_EQ(buttonColour(w.cmdPlay), Green);
    EXPECT_EQ(buttonColour(w.cmdPause), LightYellow);
    EXPECT_EQ(w.lblTime->text(), "    ");
    EXPECT_EQ(w.lblDown->text(), "     ");
    EXPECT_EQ(w.TrackBar->Position(), 1200);
    EXPECT_EQ(QApplication::focusWidget(), w.cmdPlay);
    EXPECT_EQ(w.Paused, 0);
    // With nothing playing the read-outs stay blank, and Pause does nothing.
    QTest::mouseClick(w.cmdPause, Qt::LeftButton);
    ASSERT_TRUE(waitForTicks(3));
    EXPECT_EQ(w.lblTime->text(), "    ");
    EXPECT_EQ(w.Paused, 0);
    EXPECT_EQ(buttonColour(w.cmdPause), LightYellow);
    EXPECT_EQ(buttonColour(w.cmdPlay), Green);
}

TEST_F(PlaybackTest, PlayAfterPauseResumesThePausedLogWhateverIsSelected)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeLog("a.wav", 4000, 8000);
    writeLog("b.wav", 4000, 8000);
    mnuMenu& w = openWindow();
    selectLog("a.wav");
    ASSERT_TRUE(playSelected());
    ASSERT_TRUE(waitFor([&] { return w.WavePlayer->Position() > 200; }));

    QTest::mouseClick(w.cmdPause, Qt::LeftButton);
    EXPECT_EQ(w.Paused, -1);
    EXPECT_EQ(module.PlayerOpen, 0);
    EXPECT_EQ(buttonColour(w.cmdPause), Yellow);
    EXPECT_EQ(buttonColour(w.cmdPlay), Green);
    const int32_t pausedAt = w.WavePlayer->Position();
    const QString shownAt = w.lblTime->text();
    ASSERT_TRUE(waitForTicks(4));
    EXPECT_EQ(w.WavePlayer->Position(), pausedAt);
    EXPECT_EQ(w.lblTime->text(), shownAt);

    // A second Pause does not resume.
    QTest::mouseClick(w.cmdPause, Qt::LeftButton);
    EXPECT_EQ(w.Paused, -1);
    EXPECT_EQ(buttonColour(w.cmdPause), Yellow);

    selectLog("b.wav");
    ASSERT_TRUE(playSelected());
    EXPECT_EQ(w.Paused, 0);
    EXPECT_EQ(buttonColour(w.cmdPause), LightYellow);
    EXPECT_EQ(buttonColour(w.cmdPlay), LightGreen);
    EXPECT_EQ(w.SelectedLogPath, "L:\\logger\\logs\\a.wav");
    EXPECT_EQ(w.WavePlayer->FileName().filename(), "a.wav");
    EXPECT_GE(w.WavePlayer->Position(), pausedAt);

    // Repeat plays the paused log on: the console is playing, not paused, and
    // the next Play opens the selected log afresh.
    QTest::mouseClick(w.cmdPause, Qt::LeftButton);
    ASSERT_EQ(w.Paused, -1);
    QTest::mouseClick(w.cmdRepeat, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == -1; }));
    EXPECT_EQ(w.Paused, 0);
    EXPECT_EQ(buttonColour(w.cmdPause), LightYellow);
    QSignalSpy restarted(w.WavePlayer, &WavePlayer::PlaybackRunning);
    QTest::mouseClick(w.cmdPlay, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return restarted.count() == 1; }));
    EXPECT_EQ(w.SelectedLogPath, "L:\\logger\\logs\\b.wav");
    EXPECT_EQ(w.WavePlayer->FileName().filename(), "b.wav");

    // Stop while paused returns everything to idle.
    QTest::mouseClick(w.cmdPause, Qt::LeftButton);
    ASSERT_EQ(w.Paused, -1);
    QTest::mouseClick(w.cmdStop, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return w.Paused == 0; }));
    EXPECT_EQ(buttonColour(w.cmdPause), LightYellow);
    EXPECT_EQ(module.PlayerOpen, 0);
}

TEST_F(PlaybackTest, PlayWhilePlayingOpensTheSelectedLogAfresh)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeLog("a.wav", 4000, 8000);
    writeLog("b.wav", 3000, 8000);
    mnuMenu& w = openWindow();
    selectLog("a.wav");
    ASSERT_TRUE(playSelected());
    ASSERT_TRUE(waitFor([&] { return w.WavePlayer->Position() > 1000; }));

    QStringList handled;
    QObject::connect(w.WavePlayer, &WavePlayer::PlaybackStopped, &w, [&] { handled << "stopped"; });
    QObject::connect(w.WavePlayer, &WavePlayer::PlaybackRunning, &w, [&] { handled << "running"; });
    selectLog("b.wav");
    QElapsedTimer sinceRestart;
    sinceRestart.start();
    clickPlay();
    ASSERT_TRUE(waitFor([&] { return handled.size() >= 2; }));
    EXPECT_EQ(handled, QStringList({"stopped", "running"}));
    EXPECT_EQ(module.PlayerOpen, -1);
    EXPECT_EQ(buttonColour(w.cmdPlay), LightGreen);
    EXPECT_EQ(w.WavePlayer->FileName().filename(), "b.wav");
    EXPECT_EQ(w.TrackBar->Max(), 3000);
    // From the start of b, not from where a had got to, however slowly the
    // machine ran meanwhile (with a margin for the device's start).
    EXPECT_LE(w.WavePlayer->Position(), sinceRestart.elapsed() + 250);
}

TEST_F(PlaybackTest, RangeOptionsFollowTheLogLength)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeLog("exactly10s.wav", 10000);
    writeLog("just-over-10s.wav", 10001);
    writeLog("over-an-hour.wav", 3600001);
    writeLog("twenty-minutes.wav", 20 * 60 * 1000);
    mnuMenu& w = openWindow();

    auto enabled = [&] {
        std::vector<bool> state;
        for (int i = 1; i < 6; ++i)
            state.push_back(w.optRange[i]->isEnabled());
        return state;
    };
    selectLog("exactly10s.wav");
    clickPlay();
    EXPECT_EQ(enabled(), std::vector<bool>(5, false));
    EXPECT_TRUE(w.optRange[0]->isEnabled());

    selectLog("just-over-10s.wav");
    clickPlay();
    EXPECT_EQ(enabled(), (std::vector<bool>{true, false, false, false, false}));

    selectLog("over-an-hour.wav");
    clickPlay();
    EXPECT_EQ(enabled(), std::vector<bool>(5, true));
    EXPECT_EQ(w.TrackBar->Max(), 3600001);

    // "1 Hour" stays selected and in force on a log too short to fill it.
    QTest::mouseClick(w.optRange[5], Qt::LeftButton);
    ASSERT_EQ(w.RangeIndex, 5);
    selectLog("twenty-minutes.wav");
    clickPlay();
    EXPECT_EQ(enabled(), (std::vector<bool>{true, true, true, false, false}));
    EXPECT_TRUE(w.optRange[5]->isChecked());
    EXPECT_EQ(w.RangeIndex, 5);
    EXPECT_EQ(w.TrackBar->Min(), 0);
    EXPECT_EQ(w.TrackBar->Max(), 3600000);
    EXPECT_TRUE(errorMessage().isNull()) << errorMessage().toStdString();
    QTest::mouseClick(w.cmdStop, Qt::LeftButton);
}

TEST_F(PlaybackTest, AMissingLogIsReportedAndWhatPlayedStaysStopped)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeLog("a.wav", 4000, 8000);
    const auto gone = writeLog("gone.wav", 4000, 8000);
    mnuMenu& w = openWindow();
    selectLog("a.wav");
    ASSERT_TRUE(playSelected());

    std::filesystem::remove(gone);
    selectLog("gone.wav");
    clickPlay();
    EXPECT_EQ(errorMessage(), "Wave file does not exist or has been damaged");
    ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == 0; }));
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_FALSE(w.WavePlayer->isPlaying());
    EXPECT_EQ(buttonColour(w.cmdPlay), Green);
}

TEST_F(PlaybackTest, TheLogBeingRecordedIsBroughtUpToDateBeforeItPlays)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    const auto live = writePositionLog("live.wav", 96000, 48000);
    // As the logger leaves it while recording: both sizes still zero.
    std::vector<uint8_t> bytes = readBytes(live);
    std::fill_n(bytes.begin() + 4, 4, 0);
    std::fill_n(bytes.begin() + 40, 4, 0);
    writeBytes(live, bytes);
    const std::string recording = ":\\logger\\logs\\live.wav";
    std::vector<uint8_t> curFile(2 + recording.size(), 0);
    curFile[0] = static_cast<uint8_t>(recording.size());
    std::copy(recording.begin(), recording.end(), curFile.begin() + 2);
    writeBytes(loggerDir / "logger" / "CurFile", curFile);

    mnuMenu& w = openWindow();
    selectLog("live.wav");
    ASSERT_TRUE(playSelected());
    EXPECT_EQ(module.CurrentLogPath, "L:\\logger\\logs\\live.wav");
    EXPECT_EQ(w.TrackBar->Max(), 2000);
    const std::vector<uint8_t> fixed = readBytes(live);
    auto sizeAt = [&](size_t offset) {
        return uint32_t{fixed[offset]} | uint32_t{fixed[offset + 1]} << 8 | uint32_t{fixed[offset + 2]} << 16 |
               uint32_t{fixed[offset + 3]} << 24;
    };
    EXPECT_EQ(sizeAt(4), fixed.size() - 8);
    EXPECT_EQ(sizeAt(40), fixed.size() - 44);
    QTest::mouseClick(w.cmdStop, Qt::LeftButton);
}

TEST_F(PlaybackTest, ADamagedLogIsReported)
{
    writeLog("a.wav", 1000);
    std::filesystem::resize_file(logs / "a.wav", 20);
    openWindow();
    selectLog("a.wav");
    clickPlay();
    EXPECT_EQ(errorMessage(), "Wave file does not exist or has been damaged");
    EXPECT_EQ(module.PlayerOpen, 0);
}

TEST_F(PlaybackTest, ElapsedAndRemainingRoundHalvesToEven)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeLog("125s.wav", 125000);
    mnuMenu& w = openWindow();
    selectLog("125s.wav");
    ASSERT_TRUE(playSelected());
    QTest::mouseClick(w.cmdPause, Qt::LeftButton);
    w.WavePlayer->setPosition(62500);
    ASSERT_EQ(w.WavePlayer->Position(), 62500);

    // The tick as it runs while playing, at a position that holds still.
    module.PlayerOpen = -1;
    w.range().Timer1_Timer();
    module.PlayerOpen = 0;
    EXPECT_EQ(w.lblTime->text(), "01:02");
    EXPECT_EQ(w.lblDown->text(), "01:02");
    EXPECT_EQ(w.TrackBar->Position(), 62500);
}

TEST_F(PlaybackTest, TheWindowTravelsWithPlayback)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeLog("55s.wav", 55000);
    mnuMenu& w = openWindow();
    selectLog("55s.wav");
    ASSERT_TRUE(playSelected());
    EXPECT_EQ(w.TrackBar->Max(), 55000);

    w.WavePlayer->setPosition(40000);
    w.TrackBar->setPosition(40000);
    QTest::mouseClick(w.optRange[1], Qt::LeftButton);
    EXPECT_EQ(w.RangeIndex, 1);
    EXPECT_EQ(w.TrackBar->Min(), 40000);
    EXPECT_EQ(w.TrackBar->Max(), 50000);
    EXPECT_TRUE(w.cmdFF->isEnabled());
    EXPECT_TRUE(w.cmdRwd->isEnabled());

    w.WavePlayer->setPosition(49800);
    ASSERT_TRUE(waitFor([&] { return w.TrackBar->Min() > 40000; }, 3000));
    EXPECT_GE(w.TrackBar->Min(), 50000);
    EXPECT_LT(w.TrackBar->Min(), 51000);
    EXPECT_EQ(w.TrackBar->Max(), w.TrackBar->Min() + 10000);

    // Total spans the whole file again.
    QTest::mouseClick(w.optRange[0], Qt::LeftButton);
    EXPECT_EQ(w.TrackBar->Min(), 0);
    EXPECT_EQ(w.TrackBar->Max(), 55000);
    EXPECT_FALSE(w.cmdFF->isEnabled());
    EXPECT_FALSE(w.cmdRwd->isEnabled());
}

TEST_F(PlaybackTest, MovingTheThumbSeeks)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeLog("20s.wav", 20000);
    mnuMenu& w = openWindow();
    selectLog("20s.wav");
    ASSERT_TRUE(playSelected());
    QTest::mouseClick(w.cmdPause, Qt::LeftButton);

    const QRect groove = w.TrackBar->grooveRect();
    QTest::mouseClick(w.TrackBar, Qt::LeftButton, {}, QPoint(groove.left() + groove.width() * 3 / 4, groove.center().y()));
    EXPECT_GT(w.TrackBar->Position(), 12000);
    EXPECT_EQ(w.WavePlayer->Position(), w.TrackBar->Position());
}

TEST_F(PlaybackTest, ClosingTheConsoleEndsPlayback)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeLog("a.wav", 4000, 8000);
    mnuMenu& w = openWindow();
    selectLog("a.wav");
    ASSERT_TRUE(playSelected());
    QPointer<WavePlayer> player = w.WavePlayer;
    QTest::mouseClick(w.cmdClose, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_TRUE(player.isNull());
    EXPECT_EQ(module.PlayerOpen, 0);
}

} // namespace
} // namespace tarnveil::test
