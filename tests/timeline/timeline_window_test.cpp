#include "console_fixture.h"

#include "components/track_bar.h"
#include "components/wave_player.h"
#include "support/audio_env.h"
#include "support/wav_fixtures.h"
#include "timeline/go_to_time_window.h"
#include "timeline/moment_field.h"
#include "timeline/save_clip_window.h"
#include "windows/error_window.h"
#include "windows/quiet_notice.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include <sndfile.h>

#include <algorithm>


namespace tarnveil::test {
namespace {

namespace fs = std::filesystem;

QDateTime at(int h, int m, int s)
{
    return QDateTime(QDate(2026, 12, 7), QTime(h, m, s), Qt::LocalTime);
}

// Two consecutive logs of a minute each, 14:00 and 14:01, samples naming their frame.
class TimelineWindowTest : public ConsoleTest {
protected:
    static constexpr int Rate = 48000;

    void writeMinuteLogs()
    {
        writePositionLog("2026-12-07_14-00-00.wav", 60 * Rate, Rate);
        writePositionLog("2026-12-07_14-01-00.wav", 60 * Rate, Rate);
    }

    // A menu shortcut, pressed while the console is the active window.
    void pressOnConsole(Qt::Key key)
    {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.data()));
        QTest::keyClick(window.data(), key, Qt::ControlModifier);
    }

    // Go To Time through its window: Ctrl+G, the moment typed in, Enter.
    void goTo(const QDateTime& moment)
    {
        pressOnConsole(Qt::Key_G);
        frmGoToTime* go = frmGoToTime::instance();
        ASSERT_NE(go, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowActive(go));
        ASSERT_EQ(QApplication::focusWidget(), go->txtMoment);
        QTest::keyClicks(go->txtMoment, moment.toString("yyyy-MM-dd HH:mm:ss"));
        QTest::keyClick(go->txtMoment, Qt::Key_Return);
    }
};

TEST_F(TimelineWindowTest, GoToTimePlaysTheLogHoldingTheMomentFromItsSample)
{
    if (!useCaptureDevice())
        GTEST_SKIP() << "no capture device";
    writeMinuteLogs();
    mnuMenu& w = openWindow();
    QSignalSpy stopped(w.WavePlayer, &WavePlayer::PlaybackStopped);
    const auto playThrough = [&] {
        stopped.clear();
        return waitFor([&] { return !stopped.isEmpty() && module.PlayerOpen == 0 && w.WavePlayer->Position() > 0; });
    };

    // Nothing plays: the window opens one minute back.
    pressOnConsole(Qt::Key_G);
    ASSERT_NE(frmGoToTime::instance(), nullptr);
    EXPECT_EQ(frmGoToTime::instance()->windowTitle(), "Go To Time");
    EXPECT_LE(std::abs(frmGoToTime::instance()->txtMoment->dateTime().secsTo(
                  QDateTime::currentDateTime().addSecs(-60))),
              2);
    // Escape cancels.
    QTest::keyClick(frmGoToTime::instance()->txtMoment, Qt::Key_Escape);
    EXPECT_TRUE(waitFor([] { return frmGoToTime::instance() == nullptr; }, 2000));

    goTo(at(14, 0, 30));
    ASSERT_TRUE(playThrough());
    EXPECT_EQ(w.lstLogs->currentIndex().data().toString(), "2026-12-07_14-00-00.wav");
    HeardFrames h = heardPositionFrames();
    EXPECT_EQ(h.first, 30 * Rate);
    EXPECT_EQ(h.last, 60 * Rate - 1);

    // The last second of a log.
    goTo(at(14, 0, 59));
    ASSERT_TRUE(playThrough());
    h = heardPositionFrames();
    EXPECT_EQ(h.first, 59 * Rate);
    EXPECT_EQ(h.frames, Rate);

    // The first second of the next log.
    goTo(at(14, 1, 0));
    ASSERT_TRUE(playThrough());
    EXPECT_EQ(w.lstLogs->currentIndex().data().toString(), "2026-12-07_14-01-00.wav");
    h = heardPositionFrames();
    EXPECT_EQ(h.first, 1);
    EXPECT_EQ(h.last, 60 * Rate - 1);
    EXPECT_TRUE(errorMessage().isNull()) << errorMessage().toStdString();

    // A moment after the last log: the error names the nearest log before it.
    goTo(at(14, 5, 0));
    ASSERT_TRUE(waitFor([] { return !errorMessage().isNull(); }));
    EXPECT_EQ(errorMessage(), "423 No log holds that time: 2026-12-07 14:05:00; before it: "
                              "2026-12-07_14-01-00.wav (2026-12-07 14:01:00 to 2026-12-07 14:02:00); "
                              "after it: none");
}

TEST_F(TimelineWindowTest, TheTimeOfDayShowsAndAClipIsSavedFromTheSlidersWindow)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeMinuteLogs();
    mnuMenu& w = openWindow();
    EXPECT_GT(w.lblTimeOfDay->mapTo(&w, QPoint()).y(), w.lblDown->mapTo(&w, QPoint()).y());
    EXPECT_TRUE(w.lblTimeOfDay->text().isEmpty());

    goTo(at(14, 0, 30));
    ASSERT_TRUE(waitFor([&] { return w.lblTimeOfDay->text().startsWith("14:00:3"); }, 5000))
        << w.lblTimeOfDay->text().toStdString();
    EXPECT_EQ(w.TrackBar->Min(), 0);
    EXPECT_EQ(w.TrackBar->Max(), 60000);
    // With "10 Seconds" the slider's window is centred on the moment.
    QTest::mouseClick(w.optRange[1], Qt::LeftButton);
    goTo(at(14, 0, 30));
    ASSERT_TRUE(waitFor([&] { return w.TrackBar->Min() == 25000; }, 5000));
    EXPECT_EQ(w.TrackBar->Max(), 35000);
    QTest::mouseClick(w.cmdPause, Qt::LeftButton);

    pressOnConsole(Qt::Key_S);
    frmSaveClip* save = frmSaveClip::instance();
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->txtFrom->dateTime(), at(14, 0, 25));
    EXPECT_EQ(save->txtTo->dateTime(), at(14, 0, 35));

    // A target folder that is not there: the error window says so, nothing is written.
    save->txtFile->setText(QString::fromStdString((loggerDir / "missing" / "clip.wav").string()));
    QTest::mouseClick(save->cmdSave, Qt::LeftButton);
    ASSERT_TRUE(waitFor([] { return !errorMessage().isNull(); }));
    EXPECT_TRUE(errorMessage().startsWith("53 File not found")) << errorMessage().toStdString();
    closeErrorWindow();

    // Across the hour's files, in FLAC; the suffix is added to a bare name.
    save->txtFrom->setDateTime(at(14, 0, 58));
    save->txtTo->setDateTime(at(14, 1, 2));
    save->cboFormat->setCurrentIndex(save->cboFormat->findText("FLAC"));
    const fs::path clip = loggerDir / "clip.flac";
    save->txtFile->setText(QString::fromStdString((loggerDir / "clip").string()));
    QTest::mouseClick(save->cmdSave, Qt::LeftButton);
    ASSERT_TRUE(waitFor([] { return frmSaveClip::instance() == nullptr; }));
    EXPECT_TRUE(errorMessage().isNull()) << errorMessage().toStdString();
    SF_INFO info{};
    SNDFILE* handle = sf_open(clip.c_str(), SFM_READ, &info);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(info.frames, 4 * Rate);
    std::vector<short> samples(static_cast<size_t>(2 * info.frames));
    sf_readf_short(handle, samples.data(), info.frames);
    sf_close(handle);
    EXPECT_EQ(frameOf(samples[0], samples[1]), 58 * Rate);
    EXPECT_EQ(frameOf(samples[4 * Rate - 2], samples[4 * Rate - 1]), 60 * Rate - 1);
    EXPECT_EQ(frameOf(samples[4 * Rate], samples[4 * Rate + 1]), 0);
    EXPECT_EQ(frameOf(samples[8 * Rate - 2], samples[8 * Rate - 1]), 2 * Rate - 1);

    // Stopped: no time of day.
    QTest::mouseClick(w.cmdStop, Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return w.lblTimeOfDay->text().isEmpty(); }, 2000));
}

// A first day at the console: Go To Time says what it wants, a long message is
// shown whole, Save Clip asks before replacing a file and remembers where and
// how it saved, and closing the console mid-save leaves nothing behind.
TEST_F(TimelineWindowTest, GoToTimeSaysWhatItWantsMessagesShowWholeAndSaveClipReplacesNothingUnasked)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeMinuteLogs();
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    writeLog(today.toStdString() + "_13-00-00.wav", 60000);
    writeLog(today.toStdString() + "_15-00-00.wav", 60000);
    mnuMenu& w = openWindow();

    pressOnConsole(Qt::Key_G);
    frmGoToTime* go = frmGoToTime::instance();
    ASSERT_NE(go, nullptr);
    EXPECT_TRUE(go->lblForm->text().contains("YYYY-MM-DD hh:mm:ss")) << go->lblForm->text().toStdString();
    ASSERT_TRUE(QTest::qWaitForWindowActive(go));
    QTest::keyClicks(go->txtMoment, "2026-12-07 14:3");
    QTest::keyClick(go->txtMoment, Qt::Key_Return);
    EXPECT_TRUE(errorMessage().startsWith("428 Not a date and time: \"2026-12-07 14:3\"")) << errorMessage().toStdString();
    ASSERT_EQ(frmGoToTime::instance(), go);
    EXPECT_EQ(go->txtMoment->text(), "2026-12-07 14:3");
    closeErrorWindow();

    // A time alone is today's; between two logs the message names both, and all of it shows.
    go->txtMoment->setText("14:00:30");
    QTest::mouseClick(go->cmdOK, Qt::LeftButton);
    ASSERT_TRUE(waitFor([] { return !errorMessage().isNull(); }));
    EXPECT_TRUE(errorMessage().startsWith("423 No log holds that time: " + today + " 14:00:30"));
    EXPECT_TRUE(errorMessage().endsWith(today + " 15:01:00)")) << errorMessage().toStdString();
    const frmError* error = frmError::instance();
    EXPECT_GE(error->lblMessage->height(), error->lblMessage->heightForWidth(error->lblMessage->width()));
    EXPECT_GE(error->OKButton->y(), error->lblMessage->geometry().bottom());
    closeErrorWindow();

    goTo(at(14, 0, 30));
    ASSERT_TRUE(waitFor([&] { return w.lblTimeOfDay->text().startsWith("14:00:3"); }, 5000));
    QTest::mouseClick(w.cmdPause, Qt::LeftButton);
    const fs::path clip = loggerDir / "clip.wav";
    const std::vector<uint8_t> kept{'k', 'e', 'e', 'p'};
    writeBytes(clip, kept);
    pressOnConsole(Qt::Key_S);
    frmSaveClip* save = frmSaveClip::instance();
    ASSERT_NE(save, nullptr);
    save->txtFrom->setDateTime(at(14, 0, 10));
    save->txtTo->setDateTime(at(14, 0, 12));
    save->cboFormat->setCurrentIndex(save->cboFormat->findText("WAV 16-bit PCM"));
    save->txtFile->setText(QString::fromStdString(clip.string()));
    const auto answer = [&](QMessageBox::StandardButton button) {
        QPointer<QMessageBox> question;
        ASSERT_TRUE(waitFor([&] {
            question = save->findChild<QMessageBox*>("msgReplace");
            return question && question->isVisible();
        }));
        EXPECT_TRUE(question->text().startsWith(QString::fromStdString(clip.string()) + " already exists"));
        question->button(button)->click();
        ASSERT_TRUE(waitFor([&] { return question.isNull(); }));
    };
    QTest::mouseClick(save->cmdSave, Qt::LeftButton);
    answer(QMessageBox::No);
    EXPECT_EQ(readBytes(clip), kept);
    ASSERT_EQ(frmSaveClip::instance(), save);
    QTest::mouseClick(save->cmdSave, Qt::LeftButton);
    answer(QMessageBox::Yes);
    ASSERT_TRUE(waitFor([] { return frmSaveClip::instance() == nullptr; }));
    EXPECT_TRUE(errorMessage().isNull()) << errorMessage().toStdString();
    ASSERT_NE(QuietNotice::instance(), nullptr);
    EXPECT_EQ(QuietNotice::instance()->text(), "Clip saved as " + QString::fromStdString(clip.string()));
    SF_INFO info{};
    SNDFILE* handle = sf_open(clip.c_str(), SFM_READ, &info);
    ASSERT_NE(handle, nullptr);
    sf_close(handle);
    EXPECT_EQ(info.frames, 2 * Rate);

    // The next clip starts from the same folder and format. Closing the
    // console while it is being saved cancels it and leaves no file behind.
    pressOnConsole(Qt::Key_S);
    save = frmSaveClip::instance();
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->txtFile->text(), QString::fromStdString(loggerDir.path().string()) + "/");
    EXPECT_EQ(save->cboFormat->currentText(), "WAV 16-bit PCM");
    save->txtFrom->setDateTime(at(14, 0, 0));
    save->txtTo->setDateTime(at(14, 2, 0));
    save->cboFormat->setCurrentIndex(save->cboFormat->findText("Ogg Vorbis"));
    save->txtFile->setText(save->txtFile->text() + "long");
    QTest::mouseClick(save->cmdSave, Qt::LeftButton);
    ASSERT_TRUE(waitFor([] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* progress = qobject_cast<QProgressDialog*>(widget); progress && progress->value() > 0)
                return true;
        }
        return false;
    }));
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(window.isNull());
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(loggerDir.path()))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"clip.wav", "logger"})) << "left: " << ::testing::PrintToString(left);
    save->close();
}

} // namespace
} // namespace tarnveil::test
