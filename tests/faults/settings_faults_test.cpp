// Settings that cannot be written: the start-up ends with the failure's number
// and description in a message box, the preferences window's Apply reports it
// in the error window, and in every case the stored bytes stay as they were.

#include "fault_support.h"

#include "console/main_window.h"
#include "program/module1.h"
#include "console/startup.h"
#include "platform/drive_map.h"
#include "platform/failure.h"
#include "settings/preferences_window.h"
#include "support/temp_dir.h"
#include "support/wav_fixtures.h"
#include "windows/error_window.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace tarnveil::test {
namespace {

namespace fs = std::filesystem;

const char* const SettingsName = "c:\\program files\\Tarnveil\\ZeVudi.ini";
const char* const ProgramFolderName = "c:\\program files\\Tarnveil";

std::vector<uint8_t> bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

QString message(FailureCode code, const char* detail)
{
    return QString::fromStdString(Failure(code, detail).message());
}

void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

class SettingsFaultTest : public ::testing::Test {
protected:
    SettingsFaultTest()
    {
        drives.ensureSystemDrive();
        fs::create_directories(programFolder);
        fs::create_directories(loggerDir / "logger" / "logs");
        fs::create_directory_symlink(loggerDir.path(), prefix / "dosdevices" / "l:");
    }

    void TearDown() override
    {
        if (frmMyPreferences* window = frmMyPreferences::instance())
            window->close();
        if (frmError* window = frmError::instance())
            window->close();
        settle();
    }

    static QString errorText()
    {
        frmError* window = frmError::instance();
        return window != nullptr ? window->lblMessage->text() : QString();
    }

    TempDir prefix;
    TempDir loggerDir;
    DriveMap drives{prefix.path()};
    Module1 module{drives};
    fs::path programFiles = prefix / "drive_c" / "program files";
    fs::path programFolder = programFiles / "Tarnveil";
    fs::path settingsFile = programFolder / "ZeVudi.ini";
};

struct StartCase {
    const char* name;
    // Breaks the installation; returns what must stay unwritable meanwhile (or nothing).
    std::function<std::unique_ptr<Unwritable>(const fs::path& programFolder)> breakIt;
    FailureCode expected;
    const char* detail;
};

// Start-up with settings that cannot be opened for writing: a clear message,
// no console, nothing created or changed; once the cause is gone the program
// starts with the settings as they were.
TEST_F(SettingsFaultTest, StartUpEndsWithTheFailureAndLosesNothing)
{
    const StartCase cases[] = {
        {"read-only settings file",
         [](const fs::path& folder) {
             writeBytes(folder / "ZeVudi.ini", bytes("3L"));
             return std::make_unique<Unwritable>(folder / "ZeVudi.ini");
         },
         FailureCode::PermissionDenied, SettingsName},
        {"program folder that cannot be created",
         [](const fs::path& folder) {
             fs::remove(folder);
             return std::make_unique<Unwritable>(folder.parent_path());
         },
         FailureCode::PermissionDenied, ProgramFolderName},
        {"settings file that cannot be created",
         [](const fs::path& folder) { return std::make_unique<Unwritable>(folder); },
         FailureCode::PermissionDenied, SettingsName},
        {"settings file that is a folder",
         [](const fs::path& folder) {
             fs::create_directory(folder / "ZeVudi.ini");
             return std::unique_ptr<Unwritable>();
         },
         FailureCode::PathFileAccessError, SettingsName},
        {"settings file linked to a folder that does not exist",
         [](const fs::path& folder) {
             fs::create_symlink(folder / "gone" / "ZeVudi.ini", folder / "ZeVudi.ini");
             return std::unique_ptr<Unwritable>();
         },
         FailureCode::FileNotFound, SettingsName},
    };
    for (const StartCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir casePrefix;
        DriveMap caseDrives(casePrefix.path());
        caseDrives.ensureSystemDrive();
        const fs::path folder = casePrefix / "drive_c" / "program files" / "Tarnveil";
        fs::create_directories(folder);
        std::unique_ptr<Unwritable> lock = c.breakIt(folder);
        if (lock && !lock->applied())
            GTEST_SKIP() << "cannot make a path unwritable on this file system";

        Module1 caseModule(caseDrives);
        {
            MessageBoxCatcher catcher;
            EXPECT_EQ(openConsole(caseDrives, caseModule), nullptr);
            EXPECT_EQ(catcher.text, message(c.expected, c.detail));
        }
        settle();
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            EXPECT_EQ(qobject_cast<mnuMenu*>(widget), nullptr) << "a console was left behind";
        }
        if (fs::is_regular_file(folder / "ZeVudi.ini")) {
            EXPECT_EQ(readBytes(folder / "ZeVudi.ini"), bytes("3L"));
        }

        if (lock) {
            // The cause removed, the next start works with what was stored.
            lock->release();
            mnuMenu* console = openConsole(caseDrives, caseModule);
            ASSERT_NE(console, nullptr);
            if (std::string_view(c.name) == "read-only settings file") {
                EXPECT_EQ(caseModule.PlayDevice, 3);
                EXPECT_EQ(caseModule.LoggerDrive, "L");
            }
            delete console;
            if (frmError* window = frmError::instance())
                window->close(); // the log folder of a fresh file's drive is reported
            settle();
        }
    }
}

// Apply on a settings file that cannot be written: the error window shows the
// number and description, the file and the device in use stay as they were,
// the window stays open, and Apply works again once the file can be written.
TEST_F(SettingsFaultTest, ApplyReportsAnUnwritableFileAndChangesNothing)
{
    writeBytes(settingsFile, bytes("3L"));
    module.PlayDevice = 3;
    frmMyPreferences* window = frmMyPreferences::showWindow(module);
    if (window->lstMM1->count() == 0)
        GTEST_SKIP() << "no output device listed";
    window->lstMM1->setCurrentRow(0);
    window->txtDrive->setText("m");

    {
        Unwritable lock(settingsFile);
        if (!lock.applied())
            GTEST_SKIP() << "cannot make a file unwritable on this file system";
        QTest::mouseClick(window->cmdApply, Qt::LeftButton);
        EXPECT_EQ(errorText(), message(FailureCode::PermissionDenied, SettingsName));
        EXPECT_EQ(readBytes(settingsFile), bytes("3L"));
        EXPECT_EQ(module.PlayDevice, 3);
        EXPECT_EQ(module.SettingsFileNumber, 0);
        EXPECT_TRUE(window->isVisible());
    }
    frmError::instance()->close();
    settle();

    QTest::mouseClick(window->cmdApply, Qt::LeftButton);
    EXPECT_TRUE(errorText().isNull()) << errorText().toStdString();
    EXPECT_EQ(readBytes(settingsFile), bytes("0M"));
    EXPECT_EQ(module.PlayDevice, 0);
}

// The settings file turned into something that is not a file while the window
// is open: reported the same way, and nothing inside it is touched.
TEST_F(SettingsFaultTest, ApplyReportsASettingsFileThatBecameAFolder)
{
    writeBytes(settingsFile, bytes("3L"));
    frmMyPreferences* window = frmMyPreferences::showWindow(module);
    if (window->lstMM1->count() == 0)
        GTEST_SKIP() << "no output device listed";
    fs::remove(settingsFile);
    fs::create_directory(settingsFile);
    writeBytes(settingsFile / "keep", bytes("x"));

    window->lstMM1->setCurrentRow(0);
    QTest::mouseClick(window->cmdApply, Qt::LeftButton);
    EXPECT_EQ(errorText(), message(FailureCode::PathFileAccessError, SettingsName));
    EXPECT_EQ(readBytes(settingsFile / "keep"), bytes("x"));
    EXPECT_TRUE(window->isVisible());
}

} // namespace
} // namespace tarnveil::test
