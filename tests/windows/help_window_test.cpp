#include "platform/drive_map.h"
#include "support/temp_dir.h"
#include "windows/error_window.h"
#include "windows/help_document.h"
#include "windows/help_window.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTextEdit>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

namespace tarnveil {
namespace {

void writeFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void closeAndDelete(QWidget* window)
{
    if (window)
        window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class HelpWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        drives.ensureSystemDrive();
        std::filesystem::create_directories(programFolder());
    }
    void TearDown() override
    {
        closeAndDelete(frmHelp::instance());
        closeAndDelete(frmError::instance());
    }
    std::filesystem::path programFolder() const { return prefix / "drive_c" / "program files" / "Tarnveil"; }
    void writeGuide(const std::string& rtf) { writeFile(programFolder() / "help.rtf", rtf); }

    test::TempDir prefix;
    DriveMap drives{prefix.path()};
};

TEST_F(HelpWindow, ShowsTheGuideReadOnlyInItsDefaultFont)
{
    writeGuide("{\\rtf1 Plain words {\\b strong}\\par}");
    frmHelp* help = frmHelp::showWindow(drives);
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->windowTitle(), QStringLiteral("Tarnveil Help"));
    EXPECT_EQ(help->RichTextBox1->toPlainText(), QStringLiteral("Plain words strong\n"));
    EXPECT_TRUE(help->RichTextBox1->isReadOnly());
    EXPECT_EQ(help->RichTextBox1->textCursor().position(), 0); // opens at the top
    EXPECT_EQ(frmError::instance(), nullptr);

    // Unformatted text shows in the box's 12-point sans-serif face.
    QTextCursor cursor(help->RichTextBox1->document());
    cursor.setPosition(1);
    const QFont shown = cursor.charFormat().font().resolve(help->RichTextBox1->document()->defaultFont());
    EXPECT_EQ(shown.pointSize(), 12);
    EXPECT_EQ(shown.styleHint(), QFont::SansSerif);
    EXPECT_EQ(shown.weight(), QFont::Normal);

    EXPECT_EQ(help->mnuFiles->title(), QStringLiteral("Files"));
    EXPECT_EQ(help->mnuExit->text(), QStringLiteral("Exit"));
    EXPECT_TRUE(help->menuBar()->actions().contains(help->mnuFiles->menuAction()));
}

TEST_F(HelpWindow, TextAreaKeepsItsPlaceWhenTheWindowIsResized)
{
    writeGuide("{\\rtf1 x}");
    frmHelp* help = frmHelp::showWindow(drives);
    const QRect designed(16, 16, 433, 239); // 240, 240, 6495 x 3585 twips
    EXPECT_EQ(help->RichTextBox1->geometry(), designed);
    EXPECT_EQ(help->centralWidget()->size(), QSize(471, 274)); // 7065 x 4110 twips
    help->resize(900, 700);
    QApplication::processEvents();
    EXPECT_EQ(help->RichTextBox1->geometry(), designed);
    EXPECT_GT(help->centralWidget()->width(), 471);
}

TEST_F(HelpWindow, MissingGuideIsReportedAndTheWindowOpensEmpty)
{
    frmHelp* help = frmHelp::showWindow(drives);
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_TRUE(help->RichTextBox1->toPlainText().isEmpty());
    ASSERT_NE(frmError::instance(), nullptr);
    EXPECT_TRUE(frmError::instance()->lblMessage->text().startsWith("53 File not found"))
        << frmError::instance()->lblMessage->text().toStdString();
}

TEST_F(HelpWindow, UnreadableGuideIsReportedWithItsNumber)
{
    const auto guide = programFolder() / "help.rtf";
    const auto showsOnly = [&](const char* number) {
        frmHelp* help = frmHelp::showWindow(drives);
        EXPECT_TRUE(help->RichTextBox1->toPlainText().isEmpty());
        ASSERT_NE(frmError::instance(), nullptr);
        EXPECT_TRUE(frmError::instance()->lblMessage->text().startsWith(number))
            << frmError::instance()->lblMessage->text().toStdString();
        closeAndDelete(help);
        closeAndDelete(frmError::instance());
    };
    std::filesystem::create_directory(guide); // a folder cannot be read as a file
    showsOnly("75 ");
    std::filesystem::remove(guide);
    // Nobody writes into this pipe: reading it would wait for ever.
    ASSERT_EQ(::mkfifo(guide.c_str(), 0644), 0);
    showsOnly("75 ");
    std::filesystem::remove(guide);
    writeGuide("{\\rtf1 ");
    std::filesystem::resize_file(guide, (std::uintmax_t{16} << 20) + 1);
    showsOnly("384 ");
}

TEST_F(HelpWindow, UnmappedSystemDriveIsReported)
{
    test::TempDir bare;
    const DriveMap nothing(bare.path());
    frmHelp* help = frmHelp::showWindow(nothing);
    EXPECT_TRUE(help->isVisible());
    ASSERT_NE(frmError::instance(), nullptr);
    EXPECT_TRUE(frmError::instance()->lblMessage->text().startsWith("382 "));
}

TEST_F(HelpWindow, OneWindowThatReloadsOnlyAfterClosing)
{
    writeGuide("{\\rtf1 first}");
    frmHelp* help = frmHelp::showWindow(drives);
    writeGuide("{\\rtf1 second}");
    EXPECT_EQ(frmHelp::showWindow(drives), help);
    EXPECT_EQ(help->RichTextBox1->toPlainText(), QStringLiteral("first"));
    int helpWindows = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        helpWindows += qobject_cast<frmHelp*>(w) != nullptr;
    EXPECT_EQ(helpWindows, 1);

    help->mnuExit->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(frmHelp::instance(), nullptr);

    frmHelp* again = frmHelp::showWindow(drives);
    EXPECT_EQ(again->RichTextBox1->toPlainText(), QStringLiteral("second"));
}

TEST(HelpDocument, CopiesTheFirstShippedGuideAndNeverOverwrites)
{
    test::TempDir shipped;
    test::TempDir folder;
    writeFile(shipped / "second.rtf", "{\\rtf1 second}");
    writeFile(shipped / "first.rtf", "{\\rtf1 first}");
    const std::vector<std::filesystem::path> sources = {shipped / "missing.rtf", shipped / "first.rtf",
                                                        shipped / "second.rtf"};

    installHelpDocument(folder.path(), sources);
    EXPECT_EQ(readFile(folder / "help.rtf"), "{\\rtf1 first}");

    writeFile(folder / "help.rtf", "edited by the station");
    installHelpDocument(folder.path(), sources);
    EXPECT_EQ(readFile(folder / "help.rtf"), "edited by the station");
}

TEST(HelpDocument, NothingToCopyOrNowhereToCopyIsNoFailure)
{
    test::TempDir folder;
    installHelpDocument(folder.path(), {folder / "none.rtf"});
    EXPECT_FALSE(std::filesystem::exists(folder / "help.rtf"));

    test::TempDir shipped;
    writeFile(shipped / "help.rtf", "x");
    installHelpDocument(folder / "no" / "such" / "folder", {shipped / "help.rtf"});
    EXPECT_FALSE(std::filesystem::exists(folder / "no"));
}

} // namespace
} // namespace tarnveil
