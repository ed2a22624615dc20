#include "platform/drive_map.h"
#include "support/temp_dir.h"
#include "windows/about_window.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace tarnveil {
namespace {

void writeFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// What the modal message box showed, if it came up.
struct BoxSeen {
    int shown = 0;
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::Information;
    qsizetype buttons = 0;
    bool okOnly = false;
};

// Watches for the modal message box while the code under test waits in it,
// notes what it shows and presses its OK button.
class MessageBoxWatcher {
public:
    MessageBoxWatcher()
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            ++seen.shown;
            seen.text = box->text();
            seen.title = box->windowTitle();
            seen.icon = box->icon();
            seen.buttons = box->buttons().size();
            seen.okOnly = box->standardButtons() == QMessageBox::Ok;
            box->button(QMessageBox::Ok)->click();
        });
        timer_.start();
    }

    BoxSeen seen;

private:
    QTimer timer_;
};

class AboutWindow : public ::testing::Test {
protected:
    void SetUp() override { drives.ensureSystemDrive(); }
    void TearDown() override
    {
        if (frmAbout* about = frmAbout::instance())
            about->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void writeRegistry(const std::string& body) { writeFile(prefix / "system.reg", "REGEDIT4\n\n" + body); }

    // A stand-in for the tool: a script that leaves a mark when it runs.
    std::filesystem::path makeTool(const std::filesystem::path& path)
    {
        writeFile(path, "#!/bin/sh\necho started > '" + marker().string() + "'\n");
        ::chmod(path.c_str(), 0755);
        return path;
    }
    std::filesystem::path marker() const { return tools / "started"; }

    // The detached tool runs on its own; give it a few seconds to leave its mark.
    bool toolRan() const
    {
        for (int i = 0; i < 500 && !std::filesystem::exists(marker()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return std::filesystem::exists(marker());
    }

    // Runs StartSysInfo and returns what message box it showed.
    BoxSeen runStartSysInfo()
    {
        frmAbout* about = frmAbout::showWindow(drives);
        MessageBoxWatcher watcher;
        about->StartSysInfo();
        return watcher.seen;
    }

    test::TempDir prefix;
    test::TempDir tools;
    DriveMap drives{prefix.path()};
};

TEST_F(AboutWindow, ShowsTitleVersionAndDescription)
{
    frmAbout* about = frmAbout::showWindow(drives);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->windowTitle(), QStringLiteral("About Tarnveil"));
    EXPECT_EQ(about->lblTitle->text(), QStringLiteral("Tarnveil"));
    EXPECT_EQ(about->lblVersion->text(), QStringLiteral("Version %1.%2.%3")
                                             .arg(TARNVEIL_VERSION_MAJOR)
                                             .arg(TARNVEIL_VERSION_MINOR)
                                             .arg(TARNVEIL_VERSION_PATCH));
    EXPECT_EQ(about->lblDescription->text().count(QChar(10)), 1);
    EXPECT_EQ(about->cmdOK->text(), QStringLiteral("OK"));
    EXPECT_EQ(about->cmdSysInfo->text(), QStringLiteral("&System Info..."));

    // The program icon, 32 x 32, comes from the built-in resources.
    ASSERT_FALSE(about->picIcon->pixmap().isNull());
    EXPECT_EQ(about->picIcon->pixmap().size(), QSize(32, 32));
    EXPECT_FALSE(about->windowIcon().isNull());
}

TEST_F(AboutWindow, FixedToolWindowThatKeepsTheProgramAlive)
{
    frmAbout* about = frmAbout::showWindow(drives);
    EXPECT_EQ(about->windowType(), Qt::Tool); // kept off the taskbar
    EXPECT_TRUE(about->testAttribute(Qt::WA_QuitOnClose));
    EXPECT_EQ(about->minimumSize(), QSize(372, 253)); // 5580 x 3795 twips
    EXPECT_EQ(about->maximumSize(), QSize(372, 253));

    EXPECT_TRUE(about->cmdOK->isDefault());
    EXPECT_EQ(about->cmdOK->nextInFocusChain(), about->cmdSysInfo);

    EXPECT_EQ(frmAbout::showWindow(drives), about); // one window
}

TEST_F(AboutWindow, EnterAndEscapeBothClose)
{
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        frmAbout* about = frmAbout::showWindow(drives);
        QTest::keyClick(about, key);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(frmAbout::instance(), nullptr) << key;
    }
}

TEST_F(AboutWindow, NoRegistryMeansTheToolIsUnavailable)
{
    const BoxSeen box = runStartSysInfo();
    EXPECT_EQ(box.shown, 1);
    EXPECT_EQ(box.text, QStringLiteral("System Information Is Unavailable At This Time"));
    EXPECT_EQ(box.title, QStringLiteral("Tarnveil"));
    EXPECT_EQ(box.icon, QMessageBox::NoIcon);
    EXPECT_EQ(box.buttons, 1);
    EXPECT_TRUE(box.okOnly);
}

const std::string PathKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\n";
const std::string FolderKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools Location]\n";

std::string value(const std::string& name, const std::string& text)
{
    return "\"" + name + "\"=\"" + text + "\"\n";
}

TEST_F(AboutWindow, StartsTheToolNamedByPathWithoutWaitingForIt)
{
    writeRegistry(PathKey + value("PATH", makeTool(tools / "sysinfo.sh").string()));
    frmAbout* about = frmAbout::showWindow(drives);
    MessageBoxWatcher box;
    about->cmdSysInfo->click();
    EXPECT_EQ(box.seen.shown, 0);
    EXPECT_TRUE(toolRan());
}

TEST_F(AboutWindow, StartsMsinfo32FromTheFolderOfTheSecondLocation)
{
    const auto onDriveC = prefix / "drive_c" / "Tools";
    std::filesystem::create_directories(onDriveC);
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"no PATH", FolderKey + value("MSINFO", tools.path().string())},
        {"PATH too long for the buffer reads as missing",
         PathKey + value("PATH", std::string(2000, 'x')) + FolderKey + value("MSINFO", tools.path().string())},
        {"folder on a drive letter", FolderKey + value("MSINFO", "C:\\\\Tools")},
    };
    makeTool(tools / "MSINFO32.EXE");
    makeTool(onDriveC / "MSINFO32.EXE");
    for (const auto& [name, registry] : cases) {
        SCOPED_TRACE(name);
        std::filesystem::remove(marker());
        writeRegistry(registry);
        EXPECT_EQ(runStartSysInfo().shown, 0);
        EXPECT_TRUE(toolRan());
    }
}

TEST_F(AboutWindow, EveryDeadEndShowsTheMessage)
{
    // The tool lies ready in `tools`; none of these registries may lead to it.
    makeTool(tools / "MSINFO32.EXE");
    const std::string goodFolder = FolderKey + value("MSINFO", tools.path().string());
    std::filesystem::create_directories(tools / "lower");
    makeTool(tools / "lower" / "msinfo32.exe"); // other letter case: not the tool's file
    std::filesystem::create_directories(tools / "folder" / "MSINFO32.EXE"); // a folder is no program

    const std::vector<std::pair<const char*, std::string>> cases = {
        {"neither value", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n" + value("PATH", "/bin/true")},
        {"PATH names a missing program", PathKey + value("PATH", (tools / "gone").string())},
        // Another type reads as found but empty: starting nothing fails, and the
        // second location is never tried.
        {"expandable PATH", PathKey + "\"PATH\"=hex(2):2f,00,62,00,69,00,6e,00,00,00\n" + goodFolder},
        // Length 0 is a failure inside the lookup: no second try either.
        {"PATH of length 0", PathKey + "\"PATH\"=hex:\n" + goodFolder},
        {"folder without MSINFO32.EXE", FolderKey + value("MSINFO", (tools / "lower").string())},
        {"MSINFO32.EXE is a folder", FolderKey + value("MSINFO", (tools / "folder").string())},
        {"unmapped drive letter", FolderKey + value("MSINFO", "Q:\\\\Tools")},
    };
    for (const auto& [name, registry] : cases) {
        SCOPED_TRACE(name);
        writeRegistry(registry);
        EXPECT_EQ(runStartSysInfo().shown, 1);
    }

    std::filesystem::remove(prefix / "system.reg");
    std::filesystem::create_directory(prefix / "system.reg"); // unreadable
    EXPECT_EQ(runStartSysInfo().shown, 1);
    EXPECT_FALSE(std::filesystem::exists(marker()));
}

} // namespace
} // namespace tarnveil
