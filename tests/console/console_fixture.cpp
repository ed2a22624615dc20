#include "console_fixture.h"

#include "components/wave_player.h"
#include "console/playback_control.h"
#include "loglist/log_list.h"
#include "support/audio_env.h"
#include "support/wav_fixtures.h"
#include "windows/error_window.h"

#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <sndfile.h>

#include <fstream>

namespace tarnveil::test {

ConsoleTest::ConsoleTest() : drives(prefixDir.path()), module(drives)
{
    drives.ensureSystemDrive();
    const auto programFolder = prefixDir / "drive_c" / "program files" / "Tarnveil";
    std::filesystem::create_directories(programFolder);
    std::ofstream(programFolder / "ZeVudi.ini", std::ios::binary) << "0L";
    std::filesystem::create_directory_symlink(loggerDir.path(), prefixDir / "dosdevices" / "l:");
    logs = loggerDir / "logger" / "logs";
    std::filesystem::create_directories(logs);
}

ConsoleTest::~ConsoleTest()
{
    delete window.data();
    closeErrorWindow();
}

mnuMenu& ConsoleTest::openWindow()
{
    window = new mnuMenu(module);
    module.PlayDevice = static_cast<int16_t>(playDevice);
    window->show();
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.data()));
    // The list fills when the folder answers, after the window has shown.
    EXPECT_TRUE(waitFor([this] { return window.isNull() || !window->logList().loading(); }));
    return *window;
}

std::filesystem::path ConsoleTest::writeLog(const std::string& name, int64_t ms, int sampleRate)
{
    const auto file = logs / name;
    writePositionWav(file, sampleRate, ms * sampleRate / 1000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_U8);
    return file;
}

std::filesystem::path ConsoleTest::writePositionLog(const std::string& name, int64_t frames, int sampleRate)
{
    const auto file = logs / name;
    writePositionWav(file, sampleRate, frames);
    return file;
}

void ConsoleTest::selectLog(const QString& name)
{
    const int row = static_cast<int>(listedLogs().indexOf(name));
    ASSERT_GE(row, 0) << name.toStdString();
    window->lstLogs->setCurrentIndex(window->lstLogs->model()->index(row, 0));
}

QStringList ConsoleTest::listedLogs() const
{
    QStringList names;
    const QAbstractItemModel& rows = *window->lstLogs->model();
    for (int row = 0; row < rows.rowCount(); ++row)
        names << rows.index(row, 0).data().toString();
    return names;
}

QString ConsoleTest::errorMessage()
{
    frmError* errorWindow = frmError::instance();
    return errorWindow != nullptr ? errorWindow->lblMessage->text() : QString();
}

void ConsoleTest::closeErrorWindow()
{
    if (frmError* errorWindow = frmError::instance())
        errorWindow->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool ConsoleTest::waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

bool ConsoleTest::waitForTicks(int count)
{
    QSignalSpy ticks(window->Timer1, &QTimer::timeout);
    return waitFor([&] { return ticks.count() >= count; });
}

bool ConsoleTest::useSoundServer()
{
    playDevice = soundServerRunning() ? pulseDeviceNumber() : -1;
    return playDevice >= 0;
}

bool ConsoleTest::useCaptureDevice()
{
    playDevice = captureDeviceNumber();
    return playDevice >= 0;
}

bool ConsoleTest::playSelected()
{
    QTest::mouseClick(window->cmdPlay, Qt::LeftButton);
    return waitFor([this] { return module.PlayerOpen == -1; });
}

void ConsoleTest::clickPlay()
{
    QTest::mouseClick(window->cmdPlay, Qt::LeftButton);
    EXPECT_TRUE(waitForStart());
}

bool ConsoleTest::waitForStart()
{
    return waitFor([this] { return !window->playback().startPending(); });
}

} // namespace tarnveil::test
