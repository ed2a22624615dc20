#include "settings/preferences_window.h"

#include "components/wave_out.h"
#include "components/wave_player.h"
#include "program/module1.h"
#include "platform/drive_map.h"
#include "platform/failure.h"
#include "support/audio_env.h"
#include "support/fuse_share.h"
#include "support/temp_dir.h"
#include "support/wav_fixtures.h"
#include "windows/error_window.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <sndfile.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tarnveil {
namespace {

void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

std::vector<uint8_t> bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

QString message(FailureCode code)
{
    return QString::fromStdString(Failure(code).message());
}

// A private drive C: with the program folder, so the window reads and writes a
// settings file of the test's own.
// Two devices of the test's own behind the usual ones, defined out of
// alphabetical order, so that there are always three or more and a list that
// were sorted or filtered would show it.
class PreferencesTest : public ::testing::Test {
protected:
    PreferencesTest()
    {
        static const bool added = [] {
            test::addOutputDevice("tarnveil_zulu");
            test::addOutputDevice("tarnveil_alpha");
            return true;
        }();
        (void)added;
        drives.ensureSystemDrive();
        std::filesystem::create_directories(programFolder);
    }

    static QStringList listed(const frmMyPreferences* window)
    {
        QStringList names;
        for (int i = 0; i < window->lstMM1->count(); ++i)
            names << window->lstMM1->item(i)->text();
        return names;
    }

    void TearDown() override
    {
        if (frmMyPreferences* window = frmMyPreferences::instance())
            window->close();
        if (frmError* window = frmError::instance())
            window->close();
        settle();
    }

    frmMyPreferences* open() { return frmMyPreferences::showWindow(module); }

    static QString errorText()
    {
        frmError* window = frmError::instance();
        return window != nullptr ? window->lblMessage->text() : QString();
    }

    test::TempDir prefix;
    DriveMap drives{prefix.path()};
    Module1 module{drives};
    std::filesystem::path programFolder = prefix / "drive_c" / "program files" / "Tarnveil";
    std::filesystem::path settingsFile = programFolder / "ZeVudi.ini";
};

TEST_F(PreferencesTest, OpensWithCloseFocusedAndTabsByTabIndex)
{
    frmMyPreferences* window = open();
    EXPECT_EQ(window->parentWidget(), nullptr);
    EXPECT_EQ(window->centralWidget()->size(), QSize(294, 171));
    EXPECT_EQ(window->focusWidget(), window->cmdClose);

    // Close, list, Apply, drive box, the folder row after it, and round again;
    // labels and menu take no part.
    QWidget* at = window->cmdClose;
    const std::vector<QWidget*> order{window->lstMM1,   window->cmdApply,  window->txtDrive,
                                      window->txtFolder, window->cmdBrowse, window->cmdClose};
    for (QWidget* next : order) {
        do {
            at = at->nextInFocusChain();
        } while (at->focusPolicy() == Qt::NoFocus || at == window->centralWidget()
                 || qobject_cast<QMenuBar*>(at) != nullptr);
        EXPECT_EQ(at, next);
    }
}

TEST_F(PreferencesTest, ListsTheOutputDevicesInOrderWithTheirNumbers)
{
    frmMyPreferences* window = open();
    const QStringList names = listed(window);
    // The system's default first, once; then the devices in the order the
    // system defines them, not sorted.
    ASSERT_FALSE(names.isEmpty());
    EXPECT_EQ(names.first(), "default");
    EXPECT_EQ(names.count("default"), 1);
    EXPECT_EQ(names.count("tarnveil_zulu"), 1);
    EXPECT_GT(names.indexOf("tarnveil_capture"), 0);
    EXPECT_LT(names.indexOf("tarnveil_capture"), names.indexOf("tarnveil_zulu"));
    EXPECT_EQ(names.indexOf("tarnveil_alpha"), names.indexOf("tarnveil_zulu") + 1);
    for (int i = 0; i < window->lstMM1->count(); ++i)
        EXPECT_EQ(window->lstMM1->item(i)->data(Qt::UserRole).toInt(), i);
    // With the sound server up, its device is among them.
    if (test::soundServerRunning()) {
        EXPECT_TRUE(names.contains("pulse"));
    }
}

TEST_F(PreferencesTest, EachLoadListsTheDevicesAsTheyAreNowWithoutStoppingPlayback)
{
    // Held as the player holds it from its first Play on.
    const PortAudioSession inUse;
    frmMyPreferences* window = open();
    EXPECT_FALSE(listed(window).contains("tarnveil_plugged"));
    window->close();
    settle();

    test::addOutputDevice("tarnveil_plugged");
    window = open();
    EXPECT_TRUE(listed(window).contains("tarnveil_plugged"));
    window->close();
    settle();

    // A sound system that will not start is reported; the window opens all
    // the same, and Apply still sets the drive, keeping the stored card.
    test::writeBytes(settingsFile, bytes("1C"));
    {
        const test::BrokenAudioConfiguration broken;
        window = open();
    }
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->lstMM1->count(), 0);
    EXPECT_TRUE(errorText().startsWith(QString::number(static_cast<int>(FailureCode::DeviceUnavailable)) + " "));
    window->txtDrive->setText("e");
    QTest::mouseClick(window->cmdApply, Qt::LeftButton);
    EXPECT_EQ(test::readBytes(settingsFile), bytes("1E"));
    window->close();
    settle();
    window = open();
    EXPECT_TRUE(listed(window).contains("tarnveil_plugged"));
    window->close();
    settle();

    if (!test::soundServerRunning())
        GTEST_SKIP() << "no sound server";
    test::TempDir audio;
    test::writeToneWav(audio / "tone.wav", 8000, 1, 5.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    WavePlayer player;
    player.setDeviceID(test::pulseDeviceNumber());
    player.setFileName(audio / "tone.wav");
    player.Play();
    ASSERT_TRUE(QTest::qWaitFor([&] { return player.Position() > 0; }, 5000));
    window = open();
    EXPECT_TRUE(player.isPlaying());
    const int32_t before = player.Position();
    EXPECT_TRUE(QTest::qWaitFor([&] { return player.Position() > before; }, 5000)) << "playback stalled";
    player.Stop();
}

TEST_F(PreferencesTest, ShowsTheStoredDeviceAndDrive)
{
    ASSERT_GE(WaveOut().DeviceCount(), 3);
    test::writeBytes(settingsFile, bytes("2E"));
    frmMyPreferences* window = open();
    EXPECT_EQ(window->lstMM1->currentRow(), 2);
    ASSERT_EQ(window->lstMM1->selectedItems().size(), 1);
    EXPECT_EQ(window->lstMM1->selectedItems().first(), window->lstMM1->item(2));
    EXPECT_EQ(window->txtDrive->text(), "E");
    window->close();
    settle();

    // A stored number with no entry leaves the list without a selection.
    if (WaveOut().DeviceCount() <= 9) {
        test::writeBytes(settingsFile, bytes("9D"));
        window = open();
        EXPECT_TRUE(window->lstMM1->selectedItems().isEmpty());
        EXPECT_EQ(window->txtDrive->text(), "D");
    }
}

TEST_F(PreferencesTest, EmptyOrMissingFileSelectsTheFirstDeviceAndNoDrive)
{
    ASSERT_GT(WaveOut().DeviceCount(), 0);
    for (bool exists : {false, true}) {
        SCOPED_TRACE(exists ? "empty file" : "no file");
        if (exists)
            test::writeBytes(settingsFile, {});
        frmMyPreferences* window = open();
        ASSERT_EQ(window->lstMM1->selectedItems().size(), 1);
        EXPECT_EQ(window->lstMM1->selectedItems().first(), window->lstMM1->item(0));
        EXPECT_TRUE(window->txtDrive->text().isEmpty());
        window->close();
        settle();
    }
}

TEST_F(PreferencesTest, ApplyStoresTheDeviceDigitAndTheUpperCasedDrive)
{
    ASSERT_GT(WaveOut().DeviceCount(), 1);
    test::writeBytes(settingsFile, bytes("0C"));
    frmMyPreferences* window = open();
    window->lstMM1->setCurrentRow(1);
    window->txtDrive->clear();
    QTest::keyClicks(window->txtDrive, "e");
    QTest::mouseClick(window->cmdApply, Qt::LeftButton);

    EXPECT_EQ(test::readBytes(settingsFile), bytes("1E"));
    EXPECT_EQ(module.PlayDevice, 1);
    EXPECT_EQ(window->txtDrive->text(), "e"); // kept as typed
    EXPECT_EQ(frmError::instance(), nullptr);
    EXPECT_TRUE(window->isVisible());

    // Applying again writes the same two bytes and stays silent.
    QTest::mouseClick(window->cmdApply, Qt::LeftButton);
    EXPECT_EQ(test::readBytes(settingsFile), bytes("1E"));
    EXPECT_EQ(frmError::instance(), nullptr);

    // Reopened, the window shows what the file holds.
    window->close();
    settle();
    window = open();
    EXPECT_EQ(window->txtDrive->text(), "E");
    EXPECT_EQ(window->lstMM1->currentRow(), 1);
}

TEST_F(PreferencesTest, RefusedApplyReportsTheFailureAndWritesNothing)
{
    test::writeBytes(settingsFile, bytes("0C"));
    frmMyPreferences* window = open();
    ASSERT_GT(window->lstMM1->count(), 0);

    // Nothing selected: the invalid-index failure.
    window->lstMM1->clearSelection();
    QTest::keyClicks(window->txtDrive, "x");
    QTest::mouseClick(window->cmdApply, Qt::LeftButton);
    EXPECT_EQ(errorText(), message(FailureCode::InvalidIndex));
    EXPECT_EQ(test::readBytes(settingsFile), bytes("0C"));
    EXPECT_TRUE(window->isVisible());

    // A device number one digit cannot hold is refused, not cut to "1".
    window->lstMM1->item(0)->setData(Qt::UserRole, 12);
    window->lstMM1->setCurrentRow(0);
    QTest::mouseClick(window->cmdApply, Qt::LeftButton);
    EXPECT_TRUE(errorText().startsWith(QString::number(static_cast<int>(FailureCode::SoundCardNotStorable)) + " "));
    EXPECT_EQ(test::readBytes(settingsFile), bytes("0C"));
    EXPECT_EQ(module.PlayDevice, 0);
}

TEST_F(PreferencesTest, SingleInstanceAndClosingDiscardsUnappliedChanges)
{
    test::writeBytes(settingsFile, bytes("0C"));
    frmMyPreferences* window = open();
    EXPECT_EQ(open(), window);

    window->txtDrive->setText("z");
    window->mnuExit->trigger();
    settle();
    EXPECT_EQ(frmMyPreferences::instance(), nullptr);
    EXPECT_EQ(test::readBytes(settingsFile), bytes("0C"));

    window = open();
    EXPECT_EQ(window->txtDrive->text(), "C");
    window->txtDrive->setText("z");
    QTest::mouseClick(window->cmdClose, Qt::LeftButton);
    settle();
    EXPECT_EQ(frmMyPreferences::instance(), nullptr);
    EXPECT_EQ(test::readBytes(settingsFile), bytes("0C"));
}

// The folder row: Apply gives the letter typed the folder chosen, replacing
// whatever it led to, and says so when the folder lacks the logger's logs.
TEST_F(PreferencesTest, ApplyMapsTheDriveLetterToTheFolder)
{
    test::TempDir first;
    test::TempDir second;
    std::filesystem::create_directories(second / "logger" / "logs");
    const std::filesystem::path link = prefix / "dosdevices" / "l:";
    test::writeBytes(settingsFile, bytes("0L"));
    frmMyPreferences* window = open();
    ASSERT_GT(window->lstMM1->count(), 0);
    EXPECT_EQ(window->txtFolder->text(), "");
    EXPECT_EQ(window->txtFolder->placeholderText(), "(not mapped)");

    // A folder without logger/logs: the link is made all the same, with a warning.
    window->txtFolder->setText(QString::fromStdString(first.path().string()));
    QTest::mouseClick(window->cmdApply, Qt::LeftButton);
    EXPECT_EQ(std::filesystem::read_symlink(link), first.path());
    EXPECT_EQ(test::readBytes(settingsFile), bytes("0L"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->lblFolderWarning->text().contains("logger/logs"); }));
    EXPECT_TRUE(window->lblFolderWarning->text().contains(QString::fromStdString(first.path().string())));
    EXPECT_EQ(frmError::instance(), nullptr);
    // Shown whole, above the buttons and inside the window.
    const QLabel* warning = window->lblFolderWarning;
    EXPECT_GE(warning->height(), warning->heightForWidth(warning->width()));
    EXPECT_LT(warning->geometry().bottom(), window->cmdApply->y());
    EXPECT_LE(window->cmdApply->geometry().bottom(), window->centralWidget()->height());

    // An existing link is replaced; a folder that has the logs draws no warning.
    window->txtFolder->setText(QString::fromStdString(second.path().string()));
    QTest::mouseClick(window->cmdApply, Qt::LeftButton);
    EXPECT_EQ(std::filesystem::read_symlink(link), second.path());
    QTest::qWait(200);
    EXPECT_EQ(window->lblFolderWarning->text(), "");
    EXPECT_TRUE(window->txtFolder->toolTip().contains("L: " + QString::fromStdString(second.path().string())));
    for (const auto& entry : std::filesystem::directory_iterator(prefix / "dosdevices"))
        EXPECT_EQ(entry.path().filename().string().size(), 2U) << "left behind: " << entry.path();

    // Typing another letter shows its folder, or none.
    window->txtDrive->setText("c");
    EXPECT_TRUE(window->txtFolder->isReadOnly());
    EXPECT_FALSE(window->cmdBrowse->isEnabled());
    window->txtDrive->setText("m");
    EXPECT_EQ(window->txtFolder->text(), "");

    // A folder for something that is no letter is refused, and nothing is stored.
    window->txtDrive->setText("1");
    window->txtFolder->setText(QString::fromStdString(first.path().string()));
    QTest::mouseClick(window->cmdApply, Qt::LeftButton);
    EXPECT_EQ(errorText(), message(FailureCode::NoSuchDrive) + ": 1:");
    EXPECT_EQ(test::readBytes(settingsFile), bytes("0L"));
    EXPECT_EQ(std::filesystem::read_symlink(link), second.path());

    // All or nothing: a letter whose entry is a folder of its own is not stored,
    // and the failure says why ...
    std::filesystem::create_directory(prefix / "dosdevices" / "k:");
    window->txtDrive->setText("k");
    window->txtFolder->setText(QString::fromStdString(first.path().string()));
    QTest::mouseClick(window->cmdApply, Qt::LeftButton);
    EXPECT_TRUE(errorText().startsWith(message(FailureCode::PathFileAccessError))) << errorText().toStdString();
    EXPECT_TRUE(errorText().contains("is a folder")) << errorText().toStdString();
    EXPECT_EQ(test::readBytes(settingsFile), bytes("0L"));
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::symlink_status(prefix / "dosdevices" / "k:")));
    // ... and settings that cannot be stored leave the letter's folder as it was.
    window->txtDrive->setText("l");
    window->lstMM1->item(0)->setData(Qt::UserRole, 12);
    window->lstMM1->setCurrentRow(0);
    window->txtFolder->setText(QString::fromStdString(first.path().string()));
    QTest::mouseClick(window->cmdApply, Qt::LeftButton);
    EXPECT_TRUE(errorText().startsWith(message(FailureCode::SoundCardNotStorable)));
    EXPECT_EQ(std::filesystem::read_symlink(link), second.path());
    window->txtDrive->setText("m");
    window->txtFolder->setText(QString::fromStdString(first.path().string()));
    QTest::mouseClick(window->cmdApply, Qt::LeftButton);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(prefix / "dosdevices" / "m:")));
}

// Browse starts at the folder shown, else in the home folder, and never waits
// on a share that does not answer.
TEST_F(PreferencesTest, BrowseStartsAtTheFolderShownWithoutWaitingOnADeadShare)
{
    test::TempDir mapped;
    test::writeBytes(settingsFile, bytes("0L"));
    frmMyPreferences* window = open();
    // The dialog is modal: it is read and dismissed from inside its own loop.
    const auto startOfBrowse = [&] {
        QString start;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                start = dialog->directory().absolutePath();
                dialog->reject();
            }
        });
        poll.start(20);
        QTest::mouseClick(window->cmdBrowse, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !start.isEmpty(); }, 10000));
        return start;
    };

    EXPECT_EQ(startOfBrowse(), QDir::homePath());
    window->txtFolder->setText(QString::fromStdString(mapped.path().string()));
    EXPECT_EQ(startOfBrowse(), QString::fromStdString(mapped.path().string()));
    window->txtFolder->setText(QString::fromStdString((mapped / "gone" / "deeper").string()));
    EXPECT_EQ(startOfBrowse(), QString::fromStdString(mapped.path().string()));

    if (const std::string why = test::FuseShare::unavailable(); !why.empty())
        GTEST_SKIP() << why;
    test::FuseShare share(mapped.path());
    share.freeze(std::chrono::seconds(15));
    window->txtFolder->setText(QString::fromStdString(share.mountPoint().string()));
    EXPECT_EQ(startOfBrowse(), QDir::homePath());
    EXPECT_TRUE(share.frozen()) << "the window waited for the share";
    share.thaw();
}

} // namespace
} // namespace tarnveil
