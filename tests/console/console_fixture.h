#pragma once

#include "console/main_window.h"
#include "program/module1.h"
#include "platform/drive_map.h"
#include "support/temp_dir.h"

#include <QPointer>
#include <QString>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace tarnveil::test {

// A prefix of its own for every test: c: with the program folder and a settings
// file naming drive L, and l: leading to a logger drive with logger/logs.
class ConsoleTest : public ::testing::Test {
protected:
    ConsoleTest();
    ~ConsoleTest() override;

    // Opens the console on the prepared prefix, shown and active.
    mnuMenu& openWindow();

    // A log of `ms` milliseconds (unsigned 8-bit mono, 1 kHz unless asked otherwise).
    std::filesystem::path writeLog(const std::string& name, int64_t ms, int sampleRate = 1000);
    // A stereo 16-bit log whose samples name their own frame.
    std::filesystem::path writePositionLog(const std::string& name, int64_t frames, int sampleRate);

    void selectLog(const QString& name);
    QStringList listedLogs() const;

    // The error window's text, or a null string when it is not open.
    static QString errorMessage();
    static void closeErrorWindow();

    // Processes events until `condition` holds or `timeoutMs` has passed.
    static bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

    // Processes events until the console's timer has ticked `count` times more:
    // long enough for anything the ticks would change to show.
    bool waitForTicks(int count);

    // Plays on the sound server's null sink at real speed; skips the test without one.
    bool useSoundServer();
    // Plays on the unpaced capture device; skips the test without it.
    bool useCaptureDevice();

    // Clicks cmdPlay and waits for the player's start to be handled.
    bool playSelected();
    // Clicks cmdPlay / waits until a start the console has begun has had its
    // answer from the logger's drive.
    void clickPlay();
    bool waitForStart();

    TempDir prefixDir;
    TempDir loggerDir;
    DriveMap drives;
    Module1 module;
    std::filesystem::path logs;
    QPointer<mnuMenu> window;
    int playDevice = 0;
};

} // namespace tarnveil::test
