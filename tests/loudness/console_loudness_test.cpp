#include "console_fixture.h"

#include "components/track_bar.h"
#include "components/wave_player.h"
#include "loudness/loudness_strip.h"
#include "reports/silence_report_window.h"
#include "support/audio_env.h"
#include "support/wav_fixtures.h"

#include <QDateTimeEdit>
#include <QListView>
#include <QPushButton>
#include <QTableWidget>
#include <QToolTip>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace tarnveil::test {
namespace {

using LoudnessConsoleTest = ConsoleTest;

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
TEST_F(LoudnessConsoleTest, TheStripSeeksWhereItIsClicked)
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

// The live log's strip grows as the logger records, and its tooltip names the
// moment under the pointer, from the log's start, with the loudness there.
TEST_F(LoudnessConsoleTest, TheLiveLogsStripGrowsAsItIsRecordedAndNamesTheMomentUnderThePointer)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    constexpr int Rate = 8000;
    const auto log = writePositionLog("2026-03-14_09-00-00.wav", 10 * Rate, Rate);
    const std::string name = ":\\logger\\logs\\2026-03-14_09-00-00.wav";
    std::vector<uint8_t> curFile(128, 0);
    curFile[0] = static_cast<uint8_t>(name.size());
    std::copy(name.begin(), name.end(), curFile.begin() + 2);
    writeBytes(loggerDir / "logger/CurFile", curFile);
    mnuMenu& w = openWindow();
    selectLog("2026-03-14_09-00-00.wav");
    ASSERT_TRUE(playSelected());
    auto steps = [&] { return w.loudnessStrip->profile() ? w.loudnessStrip->profile()->steps() : 0; };
    ASSERT_TRUE(waitFor([&] { return steps() >= 100; }));
    EXPECT_EQ(steps(), 100U);

    {
        std::ofstream recording(log, std::ios::binary | std::ios::app);
        const std::vector<char> tenSeconds(10 * Rate * 4, 1);
        recording.write(tenSeconds.data(), static_cast<std::streamsize>(tenSeconds.size()));
    }
    EXPECT_TRUE(waitFor([&] { return steps() >= 200; })) << steps();

    const QPoint at(w.loudnessStrip->width() / 2, w.loudnessStrip->height() / 2);
    QHelpEvent help(QEvent::ToolTip, at, w.loudnessStrip->mapToGlobal(at));
    ASSERT_TRUE(waitFor([&] {
        QApplication::sendEvent(w.loudnessStrip, &help);
        return QToolTip::text().startsWith(QStringLiteral("2026-03-14 09:00:"));
    })) << QToolTip::text().toStdString();
    EXPECT_TRUE(QToolTip::text().contains(QStringLiteral("short-term"))) << QToolTip::text().toStdString();
}

// 8 kHz mono 16-bit: a tone, `silentSeconds` of digital silence, a tone.
std::vector<uint8_t> toneSilenceTone(int silentSeconds)
{
    constexpr int Rate = 8000;
    std::vector<uint8_t> data;
    const int frames = (10 + silentSeconds) * Rate;
    for (int i = 0; i < frames; ++i) {
        const bool silent = i >= 5 * Rate && i < (5 + silentSeconds) * Rate;
        const auto sample = static_cast<int16_t>(silent ? 0 : std::lround(16000 * std::sin(i * 0.785)));
        data.push_back(static_cast<uint8_t>(sample & 0xff));
        data.push_back(static_cast<uint8_t>((sample >> 8) & 0xff));
    }
    return pcmWavImage(Rate, 1, 16, data);
}

// The Silence Report lists the dead air of the span and every log in it, the
// one that cannot be read included, and a double-click on a stretch plays its
// log from two seconds before it.
TEST_F(LoudnessConsoleTest, SilenceReportListsTheSpanAndPlaysFromBeforeAStretch)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    TempDir cache;
    setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
    writeBytes(logs / "2026-03-14_09-00-00.wav", toneSilenceTone(12));
    writeBytes(logs / "2026-03-14_10-00-00.wav", {'R', 'I', 'F', 'F', 1, 2, 3});
    mnuMenu& w = openWindow();
    w.mnuSilenceReport->trigger();
    QPointer<frmSilenceReport> report = frmSilenceReport::instance();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->txtTo->dateTime().toSecsSinceEpoch() - report->txtFrom->dateTime().toSecsSinceEpoch(), 86400);
    report->txtFrom->setDateTime(QDateTime(QDate(2026, 3, 14), QTime(8, 0)));
    report->txtTo->setDateTime(QDateTime(QDate(2026, 3, 14), QTime(11, 0)));
    QSignalSpy reported(report.data(), &frmSilenceReport::reported);
    QTest::mouseClick(report->cmdReport, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !reported.isEmpty(); }, 30000));

    ASSERT_EQ(report->lstSilences->rowCount(), 1);
    EXPECT_EQ(report->lstSilences->item(0, 0)->text(), QStringLiteral("2026-03-14 09:00:05.000"));
    EXPECT_EQ(report->lstSilences->item(0, 1)->text(), QStringLiteral("0:00:12.0"));
    ASSERT_EQ(report->lstLogs->rowCount(), 2);
    EXPECT_EQ(report->lstLogs->item(1, 0)->text(), QStringLiteral("2026-03-14_10-00-00.wav"));
    EXPECT_EQ(report->lstLogs->item(1, 2)->text(), QStringLiteral("cannot be read"));
    EXPECT_TRUE(report->lstLogs->item(1, 4)->text().startsWith(QStringLiteral("321 ")));

    ASSERT_TRUE(QTest::qWaitForWindowExposed(report));
    const QRect cell = report->lstSilences->visualItemRect(report->lstSilences->item(0, 0));
    QTest::mouseClick(report->lstSilences->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(report->lstSilences->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_TRUE(waitForStart());
    ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == -1; }));
    EXPECT_EQ(w.lstLogs->currentIndex().data().toString(), QStringLiteral("2026-03-14_09-00-00.wav"));
    EXPECT_GE(w.WavePlayer->Position(), 3000);
    EXPECT_LT(w.WavePlayer->Position(), 5000);
    report->close();
    unsetenv("XDG_CACHE_HOME");
}

} // namespace
} // namespace tarnveil::test
