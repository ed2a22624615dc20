#include "share/share_console.h"

#include "components/wave_player.h"
#include "support/wav_fixtures.h"

#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <sndfile.h>

#include <fstream>
#include <string>
#include <vector>

namespace tarnveil::test {
namespace {

using FrozenShareTest = ShareConsoleTest;

TEST_F(FrozenShareTest, PlayOnAFrozenDriveIsReportedAtTheDeadlineAndWorksOnceTheShareAnswers)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    FuseShare& share = putDriveOnShare();
    writeLog("a.wav", 3000, 8000);
    mnuMenu& w = openWindow();
    selectLog("a.wav");

    share.freeze();
    QTest::mouseClick(w.cmdPlay, Qt::LeftButton);
    ASSERT_TRUE(share.frozen()) << "Play waited for the share";
    // The console goes on meanwhile.
    const QString clock = w.lblclock->text();
    EXPECT_TRUE(waitFor([&] { return w.lblclock->text() != clock; }, 3000));
    QTest::mouseClick(w.cmdPause, Qt::LeftButton);
    ASSERT_TRUE(waitFor([] { return !errorMessage().isNull(); }));
    EXPECT_EQ(errorMessage(), "57 Device I/O error: L:\\logger\\logs\\a.wav does not answer");
    EXPECT_TRUE(share.frozen());
    EXPECT_EQ(module.PlayerOpen, 0);

    // The open that hung finishes now, and nobody asked for it any more.
    closeErrorWindow();
    share.thaw();
    QTest::qWait(500);
    EXPECT_EQ(module.PlayerOpen, 0);
    EXPECT_TRUE(errorMessage().isNull());

    ASSERT_TRUE(playSelected());
    EXPECT_EQ(w.WavePlayer->Wave().Length(), 3000);
}

TEST_F(FrozenShareTest, AShareThatFreezesUnderPlaybackHoldsUpNeitherStopNorAnotherLogNorClose)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    FuseShare& share = putLogFolderOnShare("studio");
    // Long enough that the reader is still reading when the share freezes.
    writePositionWav(share / "long.wav", 48000, 120 * 48000);
    writeLog("local.wav", 4000, 8000);
    mnuMenu& w = openWindow();
    auto playWhileItFreezes = [&] {
        listAndSelect("studio/long.wav");
        ASSERT_TRUE(playSelected());
        share.freeze();
        // The reader is stuck in a read by now; the device plays out what it had.
        QTest::qWait(700);
    };

    playWhileItFreezes();
    QTest::mouseClick(w.cmdStop, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == 0; }));
    EXPECT_TRUE(share.frozen()) << "Stop waited for the share";

    // The stuck reader is let go, not waited for, when another log starts.
    selectLog("local.wav");
    ASSERT_TRUE(playSelected());
    EXPECT_TRUE(share.frozen()) << "Play of another log waited for the share";
    EXPECT_EQ(w.WavePlayer->Wave().Length(), 4000);
    share.thaw();

    playWhileItFreezes();
    w.close();
    ASSERT_TRUE(waitFor([&] { return window.isNull(); }));
    EXPECT_TRUE(share.frozen()) << "Close waited for the share";
}

// The share freezes while the reader is well ahead of the ear, in a finished
// log and in the live one, which CurFile names and whose header is stale: once
// the reader has waited the deadline and the sound has run dry, the operator
// is told, once; the console plays on when the share answers. The log list's
// poll may meet the frozen share too and tell of its folder, at a moment set
// by its own pace: that report is the list's, and neither stands in for the
// player's nor counts as the player's again.
TEST_F(FrozenShareTest, AShareThatStallsUnderPlaybackIsReportedOnceAndPlaysOnWhenItAnswers)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    FuseShare& share = putDriveOnShare();
    writePositionLog("done.wav", 120 * 48000, 48000);
    const auto live = writePositionLog("live.wav", 120 * 48000, 48000);
    const std::vector<uint8_t> staleSizes(4, 0);
    std::fstream header(live, std::ios::in | std::ios::out | std::ios::binary);
    header.seekp(40);
    header.write(reinterpret_cast<const char*>(staleSizes.data()), 4);
    header.close();
    const std::string liveName = ":\\logger\\logs\\live.wav";
    std::vector<char> curFile(128, 0);
    curFile[0] = static_cast<char>(liveName.size());
    std::copy(liveName.begin(), liveName.end(), curFile.begin() + 2);
    std::ofstream(loggerDir / "logger" / "CurFile", std::ios::binary).write(curFile.data(), 128);
    mnuMenu& w = openWindow();
    QSignalSpy stalls(w.WavePlayer, &WavePlayer::DriveStalled);

    for (const char* name : {"done.wav", "live.wav"}) {
        SCOPED_TRACE(name);
        selectLog(name);
        ASSERT_TRUE(playSelected());
        EXPECT_EQ(w.WavePlayer->isFollowing(), std::string(name) == "live.wav");
        stalls.clear();
        share.freeze();
        const QString stalled = "57 Device I/O error: L:\\logger\\logs\\" + QString(name) + " does not answer";
        ASSERT_TRUE(waitFor([&] { return errorMessage() == stalled; }, 15000))
            << "the stall was never reported; shown: " << errorMessage().toStdString();
        EXPECT_TRUE(share.frozen());
        EXPECT_NE(module.PlayerOpen, 0) << "the playback ended";
        closeErrorWindow();
        EXPECT_FALSE(waitFor([&] { return errorMessage() == stalled; }, 1500)) << "the stall was reported again";
        EXPECT_EQ(stalls.size(), 1);

        share.thaw();
        const int32_t thawedAt = w.WavePlayer->Position();
        EXPECT_TRUE(waitFor([&] { return w.WavePlayer->Position() > thawedAt + 1000; })) << "it did not play on";
        QTest::mouseClick(w.cmdStop, Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == 0; }));
    }
}

} // namespace
} // namespace tarnveil::test
