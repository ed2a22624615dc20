#pragma once

#include "console/console_state.h"

#include <QMainWindow>

#include <memory>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QTimer;

namespace tarnveil {

struct Module1;
class MMConnector;
class MMLevel;
class MMLevelScale;
class LogList;
class LoudnessStrip;
class PlaybackControl;
class RangeControl;
class StripControl;
class TimelineControl;

// The console: the list of logs, the playback buttons, the position slider with
// its range choice, the level meter, clock and time read-outs. This class lays
// the controls out and wires them to the console logic; the logic itself lives
// in PlaybackControl and RangeControl.
class mnuMenu : public QMainWindow, public ConsoleState, public ConsoleControls {
    Q_OBJECT

public:
    // Runs the program's start-up (the settings are read here; a failure there is
    // thrown), builds the window and loads it. Deletes itself when closed.
    explicit mnuMenu(Module1& module);
    ~mnuMenu() override;

    MMLevel* MMLevelX2 = nullptr;
    MMLevelScale* MMLevelScaleX1 = nullptr;
    MMConnector* MMConnectorX2 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QPushButton* cmdClose = nullptr;
    QTimer* Timer1 = nullptr;
    QLabel* lblTimeOfDay = nullptr;
    LoudnessStrip* loudnessStrip = nullptr;

    QMenu* mnuFiles = nullptr;
    QAction* mnuGoToTime = nullptr;
    QAction* mnuSaveClipAs = nullptr;
    QAction* mnuSilenceReport = nullptr;
    QAction* mnuExit = nullptr;
    QMenu* mnuSetup = nullptr;
    QAction* mnuMyPreferences = nullptr;
    QAction* mnuHelp = nullptr;
    QAction* mnuAbout = nullptr;
    QMenu* mnuHiddenPopupPlay = nullptr;
    QAction* mnuPlay5 = nullptr;
    QAction* mnuPlay10 = nullptr;
    QAction* mnuPlay20 = nullptr;

    PlaybackControl& playback() { return *playback_; }
    RangeControl& range() { return *range_; }
    LogList& logList() { return *logList_; }
    TimelineControl& timeline() { return *timeline_; }

    void Form_Load();
    void Form_Unload();
    void cmdClose_Click();
    void mnuExit_Click();
    void mnuMyPreferences_Click();
    void mnuHelp_Click();
    void mnuAbout_Click();
    void mnuSilenceReport_Click();
    // A mouse button released over cmdPlay: the right one offers the replays.
    void cmdPlay_MouseUp(Qt::MouseButton button, const QPoint& globalPosition);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void arrangeControls();
    void createMenus();
    void connectHandlers();
    void setFocusOrder();
    void scheduleTick();
    void fillLogList();
    void openPreferencesForDrive();
    void preferencesApplied(bool remapped, char letter);

    Module1& module_;
    std::unique_ptr<PlaybackControl> playback_;
    std::unique_ptr<RangeControl> range_;
    std::unique_ptr<LogList> logList_;
    std::unique_ptr<TimelineControl> timeline_;
    std::unique_ptr<StripControl> strip_;
};

} // namespace tarnveil
