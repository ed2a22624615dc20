#include "console_fixture.h"

#include "catalog/log_catalog.h"
#include "catalog/share_pace.h"
#include "components/level_connector.h"
#include "components/level_meter.h"
#include "components/track_bar.h"
#include "components/wave_player.h"
#include "console/console_colours.h"
#include "console/range_control.h"
#include "console/readout_slot.h"
#include "console/startup.h"
#include "console/time_display.h"
#include "settings/preferences_window.h"
#include "windows/about_window.h"
#include "windows/error_window.h"
#include "windows/help_window.h"
#include "loglist/log_list.h"
#include "loglist/widest_name_delegate.h"
#include "support/audio_env.h"
#include "support/fuse_share.h"
#include "support/wav_fixtures.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <sndfile.h>

#include <fstream>

namespace tarnveil::test {
namespace {

using MainWindowTest = ConsoleTest;

template <typename T>
T* named(QObject* parent, const char* name)
{
    return parent->findChild<T*>(QString::fromLatin1(name));
}

// Counts the layout passes a widget is asked for.
class LayoutRequestCounter : public QObject {
public:
    LayoutRequestCounter(QWidget& widget, int& passes) : passes_(passes) { widget.installEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::LayoutRequest)
            ++passes_;
        return false;
    }

private:
    int& passes_;
};

// Closes the first message box that opens and hands back its text.
class MessageBoxCatcher {
public:
    MessageBoxCatcher()
    {
        QTimer::singleShot(0, [this] { poll(); });
    }
    QString text;

private:
    void poll()
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
                text = box->text();
                box->accept();
                return;
            }
        }
        QTimer::singleShot(10, [this] { poll(); });
    }
};

TEST_F(MainWindowTest, ControlsCarryTheirNamesCaptionsAndTooltips)
{
    mnuMenu& w = openWindow();
    EXPECT_EQ(w.windowTitle(), "Tarnveil");
    EXPECT_EQ(w.objectName(), "mnuMenu");

    struct Button {
        const char* name;
        const char* caption;
        const char* tooltip;
    };
    const Button buttons[] = {
        {"cmdRepeat", "Repeat", ""},
        {"cmdFF", ">", "Fast Forward in increments of track bar range"},
        {"cmdRwd", "<", "Rewind in increments of track bar range"},
        {"cmdPause", "Pause", "Pause playback"},
        {"cmdClose", "&Close", ""},
        {"cmdStop", "&Stop", "Stops playback"},
        {"cmdPlay", "&Play", "Starts playback"},
    };
    for (const Button& b : buttons) {
        auto* button = named<QPushButton>(&w, b.name);
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->text(), b.caption) << b.name;
        EXPECT_EQ(button->toolTip(), b.tooltip) << b.name;
        EXPECT_TRUE(button->font().bold()) << b.name;
        EXPECT_DOUBLE_EQ(button->font().pointSizeF(), 9.75) << b.name;
        EXPECT_FALSE(button->isDefault()) << b.name;
        EXPECT_FALSE(button->autoDefault()) << b.name;
    }

    const char* options[][2] = {
        {"Total", "Slider range is complete wave file"}, {"10 Seconds", "Slider range is 10 seconds"},
        {"1 Minute", "Slider range is one minute"},       {"5 Minutes", "Slider range is 5 minutes"},
        {"30 Minutes", "Slider range is 30 minutes"},     {"1 Hour", "Slide range is one hour"},
    };
    auto* frame = named<QGroupBox>(&w, "Frame1");
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->title(), "TrackBar Range");
    EXPECT_EQ(frame->toolTip(), "Select slider range");
    for (int i = 0; i < 6; ++i) {
        auto* option = named<QRadioButton>(frame, QStringLiteral("optRange%1").arg(i).toLatin1().constData());
        ASSERT_NE(option, nullptr) << i;
        EXPECT_EQ(option->text(), options[i][0]);
        EXPECT_EQ(option->toolTip(), options[i][1]);
        // Stacked in index order, "Total" at the top.
        if (i > 0) {
            EXPECT_GT(option->y(), w.optRange[i - 1]->y());
        }
    }

    for (const char* name : {"lblclock", "lblTime", "lblDown"})
        EXPECT_NE(named<QLabel>(&w, name), nullptr) << name;
    EXPECT_EQ(named<QListView>(&w, "lstLogs")->toolTip(), "");
    EXPECT_NE(named<TrackBar>(&w, "TrackBar"), nullptr);
    EXPECT_NE(named<WavePlayer>(&w, "WavePlayer"), nullptr);
    EXPECT_NE(named<MMLevel>(&w, "MMLevelX2"), nullptr);
    EXPECT_NE(named<MMLevelScale>(&w, "MMLevelScaleX1"), nullptr);
    auto* connector = named<MMConnector>(&w, "MMConnectorX2");
    ASSERT_NE(connector, nullptr);
    EXPECT_EQ(connector->Input(), w.WavePlayer);
    EXPECT_EQ(connector->Level1(), w.MMLevelX2);
    // The scale sits directly under the meter.
    EXPECT_LE(w.MMLevelScaleX1->y() - (w.MMLevelX2->y() + w.MMLevelX2->height()), 1);
}

TEST_F(MainWindowTest, MenusAndTheHiddenPopup)
{
    mnuMenu& w = openWindow();
    QStringList barCaptions;
    for (QAction* action : w.menuBar()->actions())
        barCaptions << action->text();
    EXPECT_EQ(barCaptions, QStringList({"Files", "Setup", "Help", "About"}));
    EXPECT_EQ(named<QAction>(&w, "mnuExit")->text(), "Exit");
    EXPECT_EQ(named<QAction>(&w, "mnuMyPreferences")->text(), "MyPreferences");
    // Help and About act from the bar itself.
    EXPECT_EQ(w.mnuHelp->menu(), nullptr);
    EXPECT_EQ(w.mnuAbout->menu(), nullptr);
    EXPECT_EQ(w.mnuHelp->objectName(), "mnuHelp");
    EXPECT_EQ(w.mnuAbout->objectName(), "mnuAbout");

    auto* popup = named<QMenu>(&w, "mnuHiddenPopupPlay");
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->title(), "HiddenPopupMenu");
    QStringList items;
    for (QAction* action : popup->actions()) {
        items << action->text();
        EXPECT_TRUE(action->shortcut().isEmpty());
        EXPECT_FALSE(action->isCheckable());
    }
    EXPECT_EQ(items, QStringList({"Play Last  5 Seconds", "Play Last 10 Seconds", "Play Last 20 Seconds"}));
}

TEST_F(MainWindowTest, IdleColoursAreDrawnOnTheButtons)
{
    mnuMenu& w = openWindow();
    EXPECT_EQ(buttonColour(w.cmdPlay), QColor(0x00, 0x80, 0x00));
    EXPECT_EQ(buttonColour(w.cmdPause), QColor(0xFF, 0xFF, 0xC0));
    EXPECT_EQ(buttonColour(w.cmdStop), QColor(0xFF, 0xFF, 0xFF));
    for (QPushButton* b : {w.cmdRepeat, w.cmdFF, w.cmdRwd})
        EXPECT_EQ(buttonColour(b), QColor(0xC0, 0xFF, 0xC0));

    // Whatever the style, the face really is filled with the colour.
    const QImage play = w.cmdPlay->grab().toImage();
    EXPECT_EQ(QColor(play.pixel(play.width() / 6, play.height() / 2)), QColor(0x00, 0x80, 0x00));
    const QImage pause = w.cmdPause->grab().toImage();
    EXPECT_EQ(QColor(pause.pixel(pause.width() / 6, pause.height() / 2)), QColor(0xFF, 0xFF, 0xC0));

    for (QLabel* label : {w.lblclock, w.lblTime, w.lblDown}) {
        EXPECT_EQ(label->palette().color(QPalette::Window), QColor(0, 0, 0xFF));
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0xFF, 0xFF, 0xFF));
    }
    EXPECT_EQ(w.Frame1->palette().color(QPalette::Window), QColor(0xFF, 0xC0, 0xC0));
    EXPECT_EQ(w.optRange[0]->palette().color(QPalette::WindowText), QColor(0, 0, 0xFF));
    // Options that do not fit are greyed.
    EXPECT_EQ(w.optRange[3]->palette().color(QPalette::WindowText), QColor(0x80, 0x80, 0x80));
    const QImage window = w.grab().toImage();
    const QPoint inBand = w.centralWidget()->mapTo(&w, QPoint(2, w.centralWidget()->height() - 2));
    EXPECT_EQ(QColor(window.pixel(inBand)), QColor(0, 0, 0xFF));
}

TEST_F(MainWindowTest, FirstVisibleState)
{
    mnuMenu& w = openWindow();
    EXPECT_TRUE(w.optRange[0]->isChecked());
    EXPECT_TRUE(w.optRange[0]->isEnabled());
    for (int i = 1; i < 6; ++i) {
        EXPECT_FALSE(w.optRange[i]->isChecked());
        EXPECT_FALSE(w.optRange[i]->isEnabled());
    }
    EXPECT_FALSE(w.cmdFF->isEnabled());
    EXPECT_FALSE(w.cmdRwd->isEnabled());
    for (QPushButton* b : {w.cmdPlay, w.cmdPause, w.cmdStop, w.cmdRepeat, w.cmdClose})
        EXPECT_TRUE(b->isEnabled());
    EXPECT_EQ(w.RangeIndex, 0);
    EXPECT_EQ(w.RangeLengths, (std::array<int32_t, 9>{0, 10000, 60000, 300000, 1800000, 3600000, 0, 0, 0}));
    EXPECT_EQ(w.Paused, 0);
    EXPECT_EQ(w.RepeatPosition, 0);
    EXPECT_EQ(w.TrackBar->Max(), 0);
    EXPECT_TRUE(w.lblTime->text().trimmed().isEmpty());
    EXPECT_TRUE(w.lblDown->text().trimmed().isEmpty());
    EXPECT_TRUE(w.Timer1->isActive());
    EXPECT_EQ(QApplication::focusWidget(), w.cmdPlay);

    // The first ticks fill the clock with today's weekday.
    const QString today = QLocale::system().dayName(QDate::currentDate().dayOfWeek());
    EXPECT_TRUE(waitFor([&] { return !w.lblclock->text().isEmpty(); }, 2000));
    EXPECT_TRUE(w.lblclock->text().startsWith(today) || w.lblclock->text().startsWith(
        QLocale::system().dayName(QDate::currentDate().addDays(-1).dayOfWeek())));
}

// Idle or paused, the console wakes once a second for its clock; playing,
// every 50 ms. Either way each tick leaves the clock showing the time of its
// own second.
TEST_F(MainWindowTest, ClockShowsTheTimeOfEachTickAndPlaybackTicksQuickly)
{
    writeLog("a.wav", 3000);
    mnuMenu& w = openWindow();
    QStringList shown;
    QStringList expected;
    QList<int> intervals;
    QObject::connect(w.Timer1, &QTimer::timeout, &w, [&] {
        shown << w.lblclock->text();
        expected << clockText(QDateTime::currentDateTime(), QLocale::system());
        intervals << w.Timer1->interval();
    });
    ASSERT_TRUE(waitForTicks(3));
    EXPECT_EQ(shown, expected);
    EXPECT_GT(intervals.last(), 50);

    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    selectLog("a.wav");
    ASSERT_TRUE(playSelected());
    EXPECT_EQ(w.Timer1->interval(), 50);
    ASSERT_TRUE(waitFor([&] { return !w.lblTime->text().trimmed().isEmpty(); }));
    EXPECT_EQ(shown, expected);

    // Paused, the position rests: the ticks fall back to the clock's, and a
    // move (the time of day at the position, the strip's line) is due to
    // show at once, not at the next second.
    QTest::mouseClick(w.cmdPause, Qt::LeftButton);
    ASSERT_TRUE(w.WavePlayer->isPaused());
    // The first slow tick may fall just before a second; the next comes just after one.
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_GT(w.Timer1->interval(), 50);
    w.WavePlayer->setPosition(2000);
    EXPECT_EQ(w.Timer1->remainingTime(), 0);
    ASSERT_TRUE(waitForTicks(1));
    EXPECT_EQ(shown, expected);
}

// The read-outs change every second: the window is laid out again only when a
// text needs another size, and then the label gets that size.
TEST(ReadoutSlotTest, ANewTextLaysTheWindowOutAgainOnlyWhenItNeedsAnotherSize)
{
    QWidget window;
    auto* label = new QLabel(QStringLiteral("00:00:01"));
    auto* row = new QHBoxLayout(&window);
    row->addWidget(new ReadoutSlot(label, &window));
    row->addStretch(1);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    int layoutPasses = 0;
    LayoutRequestCounter counter(window, layoutPasses);
    label->setText(QStringLiteral("00:00:02"));
    QTest::qWait(20);
    EXPECT_EQ(layoutPasses, 0);

    label->setText(QStringLiteral("Wednesday 9 December 2026 00:00:03"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return label->width() >= label->sizeHint().width(); }, 2000));
    EXPECT_GE(layoutPasses, 1);
    EXPECT_EQ(label->geometry(), label->parentWidget()->rect());
}

TEST_F(MainWindowTest, TabWalksTheConsoleInItsOrder)
{
    mnuMenu& w = openWindow();
    QList<QWidget*> expected{w.cmdStop, w.lstLogs, w.cmdClose, w.TrackBar, w.cmdPause, w.optRange[0],
                             w.cmdRepeat, w.cmdPlay};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }

    // With a window range the jump buttons join, after the selected option.
    for (QRadioButton* option : w.optRange)
        option->setEnabled(true);
    QTest::mouseClick(w.optRange[2], Qt::LeftButton);
    w.cmdPlay->setFocus();
    expected = {w.cmdStop, w.lstLogs, w.cmdClose, w.TrackBar, w.cmdPause, w.optRange[2], w.cmdRwd, w.cmdFF,
                w.cmdRepeat, w.cmdPlay};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, EnterAndEscapePressNoButton)
{
    mnuMenu& w = openWindow();
    for (QPushButton* focus : {w.cmdPlay, w.cmdClose, w.cmdStop}) {
        focus->setFocus();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::keyClick(focus, key);
    }
    QTest::qWait(20);
    EXPECT_TRUE(errorMessage().isNull()) << "Play was pressed";
    EXPECT_FALSE(window.isNull()) << "Close was pressed";
    EXPECT_TRUE(w.isVisible());
}

TEST_F(MainWindowTest, AccessKeysPressPlayStopAndClose)
{
    mnuMenu& w = openWindow();
    int stops = 0;
    QObject::connect(w.cmdStop, &QPushButton::clicked, [&] { ++stops; });
    // An access key presses its button (Play and Stop at once, Close with its short animation).
    QTest::keyClick(&w, Qt::Key_P, Qt::AltModifier);
    EXPECT_TRUE(waitFor([] { return errorMessage() == "No Log Selected"; }, 2000));
    closeErrorWindow();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(waitFor([&] { return stops == 1; }, 2000));
    QTest::keyClick(&w, Qt::Key_C, Qt::AltModifier);
    EXPECT_TRUE(waitFor([&] { return window.isNull(); }, 2000));
}

TEST_F(MainWindowTest, OnlyARightReleaseOverPlayShowsThePopup)
{
    mnuMenu& w = openWindow();
    for (QWidget* other : std::initializer_list<QWidget*>{w.lstLogs, w.cmdStop, w.TrackBar, w.lblTime}) {
        QTest::mouseClick(other, Qt::RightButton);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << other->objectName().toStdString();
    }

    QTest::mouseClick(w.cmdPlay, Qt::LeftButton);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(errorMessage(), "No Log Selected");
    closeErrorWindow();

    const QPoint at(5, 7);
    QTest::mouseClick(w.cmdPlay, Qt::RightButton, {}, at);
    ASSERT_TRUE(waitFor([&] { return QApplication::activePopupWidget() == w.mnuHiddenPopupPlay; }, 2000));
    EXPECT_EQ(w.mnuHiddenPopupPlay->pos(), w.cmdPlay->mapToGlobal(at));
    w.mnuHiddenPopupPlay->close();
}

TEST_F(MainWindowTest, PlayWithoutSelectionOnlyReports)
{
    writeLog("a.wav", 2000);
    mnuMenu& w = openWindow();
    // Clicking an entry is not playing it.
    QTest::mouseClick(w.lstLogs->viewport(), Qt::LeftButton, {},
                      w.lstLogs->visualRect(w.lstLogs->model()->index(0, 0)).center());
    EXPECT_EQ(w.lstLogs->selectionModel()->selectedIndexes().size(), 1);
    EXPECT_TRUE(errorMessage().isNull());
    EXPECT_EQ(module.PlayerOpen, 0);

    w.lstLogs->clearSelection();
    QTest::mouseClick(w.cmdPlay, Qt::LeftButton);
    EXPECT_EQ(errorMessage(), "No Log Selected");
    EXPECT_TRUE(w.SelectedLogPath.empty());
    EXPECT_EQ(w.WavePlayer->Wave().Length(), 0);
    EXPECT_EQ(module.PlayerOpen, 0);

    // A replay command sets its range all the same.
    w.range().mnuPlay10_Click();
    EXPECT_EQ(errorMessage(), "No Log Selected");
    EXPECT_EQ(w.RangeIndex, 8);
    EXPECT_EQ(w.RangeLengths[8], 10000);
}

TEST_F(MainWindowTest, LogListHoldsTheLogsInOrder)
{
    writeLog("b.WAV", 100);
    writeLog("a.wav", 100);
    writeLog("2026-01-01_10-00-00.wav", 100);
    std::ofstream(logs / "notes.txt") << "x";
    std::filesystem::create_directory(logs / "folder.wav");
    // Another logger's hour folder, in another format: listed by date and hour,
    // and opened from there.
    std::filesystem::create_directories(logs / "2026" / "12" / "07" / "16");
    writePositionWav(logs / "2026" / "12" / "07" / "16" / "archive.flac", 8000, 8000, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    // The view sizes every row like the last; the longest name comes first here.
    const std::string longName = "0" + std::string(150, 'W') + ".wav";
    writeLog(longName, 100);
    const bool canPlay = useCaptureDevice();
    mnuMenu& w = openWindow();
    EXPECT_EQ(listedLogs(), QStringList({QString::fromStdString(longName), "2026-01-01_10-00-00.wav",
                                         "2026-12-07 16 archive.flac", "a.wav", "b.WAV"}));
    EXPECT_EQ(w.lstLogs->model()->index(2, 0).data(Qt::UserRole).toByteArray(), "2026/12/07/16/archive.flac");
    EXPECT_TRUE(errorMessage().isNull());
    EXPECT_EQ(module.ListIndex, 5);

    // All rows share the size of one, yet the longest name still fits its row whole.
    QTest::qWait(50);
    const QModelIndex longest = w.lstLogs->model()->index(0, 0);
    EXPECT_GE(w.lstLogs->visualRect(longest).width(),
              w.lstLogs->fontMetrics().horizontalAdvance(longest.data().toString()));

    // The quiet word of progress stays across the foot of the list as the window is resized.
    const auto* progress = w.lstLogs->viewport()->findChild<QLabel*>("lblArchiveProgress");
    ASSERT_NE(progress, nullptr);
    for (const QSize size : {QSize(900, 700), QSize(640, 460)}) {
        w.resize(size);
        QApplication::processEvents();
        EXPECT_EQ(progress->geometry().bottomRight(), w.lstLogs->viewport()->rect().bottomRight()) << size.width();
        EXPECT_EQ(progress->x(), 0);
    }

    // The first list is stored once it shows: the next start shows it without a look at the drive.
    EXPECT_TRUE(waitFor([&] {
        LogCatalog nextStart;
        const CatalogLook look = nextStart.look(module.drives.resolve("L:\\logger\\logs"));
        return !look.complete && look.rows->size() == 5;
    }));

    if (canPlay) {
        selectLog("2026-12-07 16 archive.flac");
        EXPECT_TRUE(playSelected()) << errorMessage().toStdString();
        EXPECT_EQ(w.WavePlayer->Wave().Length(), 1000);
    }
}

// The list follows the folder through notification: entries come and go
// while the operator's place in the list stays, and a log that is playing
// keeps its entry until it stops.
TEST_F(MainWindowTest, LogListFollowsTheFolderKeepingTheOperatorsPlace)
{
    auto name = [](int i) { return QStringLiteral("log%1.wav").arg(i, 2, 10, QLatin1Char('0')); };
    for (int i = 0; i < 60; ++i)
        writeLog(name(i).toStdString(), i == 30 ? 30000 : 100);
    // As loggers write it, without the drive.
    const std::string recording = ":\\logger\\logs\\log59.wav";
    std::ofstream(logs.parent_path() / "CurFile", std::ios::binary)
        << static_cast<char>(recording.size()) << '\0' << recording;
    const bool canPlay = useSoundServer();
    mnuMenu& w = openWindow();
    ASSERT_EQ(listedLogs().size(), 60);
    const QAbstractItemModel& rows = *w.lstLogs->model();
    auto setCurrentRow = [&](int row) { w.lstLogs->setCurrentIndex(rows.index(row, 0)); };
    auto topLog = [&] { return w.lstLogs->indexAt(QPoint(0, 0)).data().toString(); };
    auto selectedLogs = [&] {
        QStringList names;
        for (const QModelIndex& index : w.lstLogs->selectionModel()->selectedIndexes())
            names << index.data().toString();
        return names;
    };
    auto shown = [&](const QString& log) {
        QStyleOptionViewItem option;
        const QModelIndex row = w.lstLogs->model()->index(listedLogs().indexOf(log), 0);
        static_cast<WidestNameDelegate*>(w.lstLogs->itemDelegate())->initStyleOption(&option, row);
        return std::make_pair(option.text, option.font.bold());
    };
    EXPECT_EQ(shown(name(59)), std::make_pair(name(59) + WidestNameDelegate::RecordingMark.toString(), false));
    setCurrentRow(30);
    w.lstLogs->scrollTo(rows.index(20, 0), QAbstractItemView::PositionAtTop);
    ASSERT_EQ(topLog(), name(20));
    // An update costs what changed: rows are inserted and removed, never all refilled.
    QSignalSpy refills(&rows, &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&rows, &QAbstractItemModel::rowsInserted);

    writeLog("log05b.wav", 100);
    writeLog("log99.wav", 100);
    std::filesystem::remove(logs / "log10.wav");
    ASSERT_TRUE(waitFor([&] { return listedLogs().contains("log99.wav") && !listedLogs().contains("log10.wav"); }));
    EXPECT_EQ(listedLogs().size(), 61);
    EXPECT_TRUE(listedLogs().contains("log05b.wav"));
    QStringList sorted = listedLogs();
    sorted.sort();
    EXPECT_EQ(listedLogs(), sorted);
    EXPECT_EQ(refills.size(), 0);
    EXPECT_GE(inserts.size(), 1);
    EXPECT_EQ(selectedLogs(), QStringList({name(30)}));
    EXPECT_EQ(w.lstLogs->currentIndex().data().toString(), name(30));
    QTest::qWait(50);
    EXPECT_EQ(topLog(), name(20)) << w.lstLogs->verticalScrollBar()->value();

    // So many new logs at once that the list is refilled: the operator's place stays all the same.
    for (int i = 0; i < 300; ++i)
        writeLog(QStringLiteral("log00_%1.wav").arg(i, 3, 10, QLatin1Char('0')).toStdString(), 100);
    ASSERT_TRUE(waitFor([&] { return listedLogs().size() == 361; }));
    EXPECT_EQ(selectedLogs(), QStringList({name(30)}));
    EXPECT_EQ(w.lstLogs->currentIndex().data().toString(), name(30));
    EXPECT_EQ(topLog(), name(20));

    if (!canPlay)
        return;
    ASSERT_TRUE(playSelected()) << errorMessage().toStdString();
    // The playing log is marked whichever row is selected; the selection stays the operator's.
    setCurrentRow(3);
    EXPECT_EQ(shown(name(30)), std::make_pair(WidestNameDelegate::PlayingMark.toString() + name(30), true));
    EXPECT_EQ(shown(name(3)), std::make_pair(name(3), false));
    setCurrentRow(static_cast<int>(listedLogs().indexOf(name(30))));
    std::filesystem::remove(logs / name(30).toStdString());
    writeLog("log98.wav", 100);
    ASSERT_TRUE(waitFor([&] { return listedLogs().contains("log98.wav"); }));
    EXPECT_TRUE(listedLogs().contains(name(30)));
    QTest::mouseClick(w.cmdPause, Qt::LeftButton);
    QTest::mouseClick(w.cmdPlay, Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return module.PlayerOpen == -1; }));
    EXPECT_TRUE(errorMessage().isNull()) << errorMessage().toStdString();
    QTest::mouseClick(w.cmdStop, Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return module.PlayerOpen == 0; }));
    // Stopped, it goes with the next look.
    EXPECT_TRUE(waitFor([&] { return !listedLogs().contains(name(30)); }, 3 * LogList::PollIntervalMs));
    EXPECT_EQ(shown(name(31)), std::make_pair(name(31), false));
}

// A logger drive behind a user-space file system: notification never comes,
// the poll finds the changes; frozen, it holds up neither the window nor the
// list, and the list fills once it answers again.
TEST_F(MainWindowTest, LogListFollowsAShareWithoutNotificationAndWaitsOutAFrozenOne)
{
    if (const std::string why = FuseShare::unavailable(); !why.empty())
        GTEST_SKIP() << why;
    TempDir source;
    FuseShare share(source.path());
    std::filesystem::remove(prefixDir / "dosdevices" / "l:");
    std::filesystem::create_directory_symlink(share.mountPoint(), prefixDir / "dosdevices" / "l:");
    logs = source / "logger" / "logs";
    std::filesystem::create_directories(logs);

    writeLog("a.wav", 100);
    openWindow();
    EXPECT_EQ(listedLogs(), QStringList({"a.wav"}));
    // A share is looked at again a second per call its last look made.
    const int nextLookWithinMs = static_cast<int>(ShareLookAtLeastEvery.count()) + LogList::PollIntervalMs;
    writeLog("b.wav", 100);
    std::filesystem::remove(logs / "a.wav");
    EXPECT_TRUE(waitFor([&] { return listedLogs() == QStringList({"b.wav"}); }, nextLookWithinMs));
    delete window.data();

    share.freeze();
    window = new mnuMenu(module);
    window->show();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->logList().loading());
    EXPECT_TRUE(waitFor([] { return errorMessage() == "57 Device I/O error: L:\\logger\\logs does not answer"; }))
        << errorMessage().toStdString();
    // The catalog kept from the first window shows what the share last held.
    EXPECT_EQ(listedLogs(), QStringList({"b.wav"}));
    share.thaw();
    EXPECT_TRUE(waitFor([&] { return listedLogs() == QStringList({"b.wav"}); }, nextLookWithinMs));
}

// A first start: the missing drive is reported above the console, the
// preferences open at the drive letter, and Apply fills the list.
TEST_F(MainWindowTest, FirstStartLeadsToTheDriveMapping)
{
    writeLog("a.wav", 100);
    TempDir fresh;
    DriveMap freshDrives(fresh.path());
    Module1 freshModule(freshDrives);
    QPointer<mnuMenu> freshWindow = openConsole(freshDrives, freshModule);
    ASSERT_FALSE(freshWindow.isNull());
    const auto settings = fresh / "drive_c" / "program files" / "Tarnveil" / "ZeVudi.ini";
    EXPECT_TRUE(std::filesystem::exists(settings));
    EXPECT_EQ(std::filesystem::file_size(settings), 0U);
    EXPECT_EQ(freshModule.LoggerDrive, std::string(1, '\0'));
    // Reported once the console is up, so the report is the newer window.
    EXPECT_TRUE(errorMessage().isNull());
    EXPECT_TRUE(freshWindow->isVisible());
    EXPECT_TRUE(waitFor([] { return errorMessage().startsWith("382 "); })) << errorMessage().toStdString();
    EXPECT_EQ(freshWindow->lstLogs->model()->rowCount(), 0);
    EXPECT_FALSE(freshWindow->cmdFF->isEnabled());
    EXPECT_EQ(freshWindow->RangeLengths[5], 3600000);
    EXPECT_EQ(buttonColour(freshWindow->cmdPause), QColor(0xFF, 0xFF, 0xC0));

    frmMyPreferences* preferences = frmMyPreferences::instance();
    ASSERT_NE(preferences, nullptr);
    EXPECT_TRUE(preferences->isVisible());
    EXPECT_EQ(preferences->focusWidget(), preferences->txtDrive);
    EXPECT_FALSE(preferences->frameGeometry().intersects(frmError::instance()->frameGeometry()));
    ASSERT_GT(preferences->lstMM1->count(), 0);
    QTest::keyClicks(preferences->txtDrive, "l");
    preferences->txtFolder->setText(QString::fromStdString(loggerDir.path().string()));
    QTest::mouseClick(preferences->cmdApply, Qt::LeftButton);
    EXPECT_EQ(std::filesystem::read_symlink(fresh / "dosdevices" / "l:"), loggerDir.path());
    EXPECT_EQ(freshModule.LoggerDrive, "L");
    EXPECT_TRUE(waitFor([&] { return freshWindow->lstLogs->model()->rowCount() == 1; }));

    preferences->close();
    delete freshWindow.data();
}

TEST_F(MainWindowTest, UnusableProgramFolderEndsTheStartWithAMessage)
{
    TempDir broken;
    DriveMap brokenDrives(broken.path());
    brokenDrives.ensureSystemDrive();
    std::filesystem::remove(broken / "drive_c" / "program files");
    Module1 brokenModule(brokenDrives);
    MessageBoxCatcher catcher;
    EXPECT_EQ(openConsole(brokenDrives, brokenModule), nullptr);
    EXPECT_TRUE(QRegularExpression("^\\d+ \\S").match(catcher.text).hasMatch()) << catcher.text.toStdString();
}

TEST_F(MainWindowTest, AnOverflowingWindowEndsTheProgramWithAMessage)
{
    mnuMenu& w = openWindow();
    w.optRange[5]->setEnabled(true);
    w.TrackBar->setPosition(2147483000);
    MessageBoxCatcher catcher;
    QTimer::singleShot(0, &w, [&] { QTest::mouseClick(w.optRange[5], Qt::LeftButton); });
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    safety.start(10000);
    // The event loop ends with the failure status once the message has been
    // read, and the console with its player closes before the program ends.
    EXPECT_EQ(runConsole(&w), 1);
    EXPECT_EQ(catcher.text, "6 Overflow");
    EXPECT_TRUE(window.isNull());
}

TEST_F(MainWindowTest, MenuCommandsOpenEachWindowOnceAndTheyOutliveTheConsole)
{
    mnuMenu& w = openWindow();
    w.mnuHelp->trigger();
    w.mnuHelp->trigger();
    w.mnuAbout->trigger();
    w.mnuMyPreferences->trigger();
    int helpWindows = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        helpWindows += qobject_cast<frmHelp*>(widget) != nullptr && widget->isVisible() ? 1 : 0;
    EXPECT_EQ(helpWindows, 1);
    ASSERT_NE(frmAbout::instance(), nullptr);
    ASSERT_NE(frmMyPreferences::instance(), nullptr);

    w.cmdClose->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    ASSERT_NE(frmHelp::instance(), nullptr);
    EXPECT_TRUE(frmHelp::instance()->isVisible());
    EXPECT_TRUE(frmAbout::instance()->isVisible());
    frmHelp::instance()->close();
    frmAbout::instance()->close();
    frmMyPreferences::instance()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(MainWindowTest, JumpsWithoutAFileDoNothing)
{
    mnuMenu& w = openWindow();
    for (int16_t range : {0, 1}) {
        w.RangeIndex = range;
        w.range().cmdFF_Click();
        w.range().cmdRwd_Click();
        EXPECT_EQ(w.WavePlayer->Position(), 0);
        EXPECT_EQ(w.TrackBar->Min(), 0);
        EXPECT_EQ(w.TrackBar->Max(), 0);
        EXPECT_EQ(w.RepeatPosition, 0);
    }
}

} // namespace
} // namespace tarnveil::test
