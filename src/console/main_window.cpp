#include "console/main_window.h"

#include "components/level_connector.h"
#include "components/level_meter.h"
#include "components/track_bar.h"
#include "components/wave_player.h"
#include "console/console_colours.h"
#include "console/live_log_header.h"
#include "program/module1.h"
#include "console/playback_control.h"
#include "console/range_control.h"
#include "console/readout_slot.h"
#include "console/time_display.h"
#include "loglist/log_list.h"
#include "loudness/loudness_strip.h"
#include "loudness/strip_control.h"
#include "platform/drive_map.h"
#include "reports/silence_report_window.h"
#include "settings/preferences_window.h"
#include "settings/settings_file.h"
#include "timeline/timeline_control.h"
#include "windows/about_window.h"
#include "windows/error_window.h"
#include "windows/handler_guard.h"
#include "windows/help_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcutEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace tarnveil {

namespace {

constexpr int TimerIntervalMs = 50;

struct RangeOption {
    const char* caption;
    const char* tooltip;
};
constexpr std::array<RangeOption, RangeOptionCount> RangeOptions{{
    {"Total", "Slider range is complete wave file"},
    {"10 Seconds", "Slider range is 10 seconds"},
    {"1 Minute", "Slider range is one minute"},
    {"5 Minutes", "Slider range is 5 minutes"},
    {"30 Minutes", "Slider range is 30 minutes"},
    {"1 Hour", "Slide range is one hour"},
}};

constexpr std::array<int32_t, RangeOptionCount> OptionSpans{0, 10000, 60000, 300000, 1800000, 3600000};

// The buttons' stored face is "MS Sans Serif" 9.75 pt bold; the nearest sans face
// stands in where it is not installed.
QFont buttonFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(9.75);
    font.setBold(true);
    return font;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QString& tooltip)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(tooltip);
    button->setFont(buttonFont());
    // Enter and Escape press no button on this window.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QLabel* makeLabel(QWidget* parent, const char* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, colours::WindowBlue);
    palette.setColor(QPalette::WindowText, colours::LabelText);
    label->setPalette(palette);
    return label;
}

// Wraps a handler so that a failure it does not catch itself ends the program
// with a message instead of unwinding through the event loop.
template <typename Handler>
auto guarded(Handler handler)
{
    return [handler]() { runHandler(handler); };
}

} // namespace

mnuMenu::mnuMenu(Module1& module) : module_(module)
{
    module_.InitializeProgram();

    setObjectName(QStringLiteral("mnuMenu"));
    setWindowTitle(QStringLiteral("Tarnveil"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Only cmdPlay has a pop-up menu; no other right-click offers one.
    setContextMenuPolicy(Qt::PreventContextMenu);

    playback_ = std::make_unique<PlaybackControl>(module_, *this, *this);
    range_ = std::make_unique<RangeControl>(module_, *this, *this, *playback_);

    createControls();
    timeline_ = std::make_unique<TimelineControl>(module_, *this, *playback_, *lblTimeOfDay, logList_->catalog());
    strip_ = std::make_unique<StripControl>(module_, *this, *loudnessStrip, *timeline_);
    arrangeControls();
    createMenus();
    connectHandlers();
    setFocusOrder();
    // The first tick fills the clock at once; scheduleTick() times the rest.
    Timer1->start();

    Form_Load();
    cmdPlay->setFocus();
}

mnuMenu::~mnuMenu()
{
    // A listing that arrives late finds no list to fill.
    logList_.reset();
    // The player goes first, while the handlers it might still reach exist.
    Timer1->stop();
    delete MMConnectorX2;
    WavePlayer->disconnect(this);
    delete WavePlayer;
    WavePlayer = nullptr;
}

void mnuMenu::createControls()
{
    // The audio components first, as the window has always created them.
    MMLevelScaleX1 = new MMLevelScale(this);
    MMLevelScaleX1->setObjectName(QStringLiteral("MMLevelScaleX1"));
    MMConnectorX2 = new MMConnector(this);
    MMConnectorX2->setObjectName(QStringLiteral("MMConnectorX2"));
    MMLevelX2 = new MMLevel(this);
    MMLevelX2->setObjectName(QStringLiteral("MMLevelX2"));
    TrackBar = new ::tarnveil::TrackBar(this);
    TrackBar->setObjectName(QStringLiteral("TrackBar"));
    loudnessStrip = new LoudnessStrip(*TrackBar, this);
    loudnessStrip->setObjectName(QStringLiteral("loudnessStrip"));
    WavePlayer = new ::tarnveil::WavePlayer(this);
    WavePlayer->setObjectName(QStringLiteral("WavePlayer"));
    MMConnectorX2->setInput(WavePlayer);
    MMConnectorX2->setLevel1(MMLevelX2);

    cmdRepeat = makeButton(this, "cmdRepeat", QStringLiteral("Repeat"), QString());
    cmdFF = makeButton(this, "cmdFF", QStringLiteral(">"),
                       QStringLiteral("Fast Forward in increments of track bar range"));
    cmdRwd = makeButton(this, "cmdRwd", QStringLiteral("<"), QStringLiteral("Rewind in increments of track bar range"));
    setButtonColour(cmdRepeat, colours::JumpButtons);
    setButtonColour(cmdFF, colours::JumpButtons);
    setButtonColour(cmdRwd, colours::JumpButtons);

    Frame1 = new QGroupBox(QStringLiteral("TrackBar Range"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setToolTip(QStringLiteral("Select slider range"));
    Frame1->setAutoFillBackground(true);
    QPalette rangePalette = Frame1->palette();
    rangePalette.setColor(QPalette::Window, colours::RangeBackground);
    rangePalette.setColor(QPalette::WindowText, colours::RangeText);
    rangePalette.setColor(QPalette::Button, colours::RangeBackground);
    rangePalette.setColor(QPalette::ButtonText, colours::RangeText);
    // An option that does not fit the open log must look unavailable.
    rangePalette.setColor(QPalette::Disabled, QPalette::WindowText, colours::RangeTextDisabled);
    rangePalette.setColor(QPalette::Disabled, QPalette::ButtonText, colours::RangeTextDisabled);
    Frame1->setPalette(rangePalette);
    for (std::size_t i = 0; i < RangeOptionCount; ++i) {
        auto* option = new QRadioButton(QString::fromLatin1(RangeOptions[i].caption), Frame1);
        option->setObjectName(QStringLiteral("optRange%1").arg(i));
        option->setToolTip(QString::fromLatin1(RangeOptions[i].tooltip));
        option->setAutoFillBackground(true);
        // Until a log is open there is no length for a window to fit into.
        option->setEnabled(i == 0);
        optRange[i] = option;
    }

    cmdPause = makeButton(this, "cmdPause", QStringLiteral("Pause"), QStringLiteral("Pause playback"));
    setButtonColour(cmdPause, colours::PauseIdle);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(TimerIntervalMs);
    Timer1->setSingleShot(true);

    cmdClose = makeButton(this, "cmdClose", QStringLiteral("&Close"), QString());

    lstLogs = new QListView(this);
    lstLogs->setObjectName(QStringLiteral("lstLogs"));
    lstLogs->setSelectionMode(QAbstractItemView::SingleSelection);
    logList_ = std::make_unique<LogList>(module_, *lstLogs, &readLiveLogName);
    logRows = &logList_->model();

    cmdStop = makeButton(this, "cmdStop", QStringLiteral("&Stop"), QStringLiteral("Stops playback"));
    setButtonColour(cmdStop, colours::StopButton);
    cmdPlay = makeButton(this, "cmdPlay", QStringLiteral("&Play"), QStringLiteral("Starts playback"));
    setButtonColour(cmdPlay, colours::PlayIdle);
    cmdPlay->installEventFilter(this);
    cmdStop->installEventFilter(this);

    lblclock = makeLabel(this, "lblclock");
    lblDown = makeLabel(this, "lblDown");
    lblTime = makeLabel(this, "lblTime");
    lblTimeOfDay = makeLabel(this, "lblTimeOfDay");
}

void mnuMenu::arrangeControls()
{
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("consoleArea"));
    central->setAutoFillBackground(true);
    QPalette palette = central->palette();
    palette.setColor(QPalette::Window, colours::WindowBlue);
    central->setPalette(palette);
    setCentralWidget(central);
    // The blue is the console's own; the list, slider, meter and scale keep the
    // system's colours, as components do.
    for (QWidget* component : std::initializer_list<QWidget*>{lstLogs, TrackBar, MMLevelX2, MMLevelScaleX1}) {
        // Setting each role explicitly keeps Qt from resolving them back to the blue parent.
        QPalette own = QApplication::palette(component);
        for (const auto role : {QPalette::Window, QPalette::WindowText, QPalette::Base, QPalette::Text})
            own.setColor(role, own.color(role));
        component->setPalette(own);
        component->setAutoFillBackground(true);
    }
    resize(640, 500);

    auto* column = new QVBoxLayout(central);

    auto* top = new QHBoxLayout;
    top->addStretch(1);
    lblclock->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    top->addWidget(new ReadoutSlot(lblclock, central), 1);
    column->addLayout(top);

    // The scale belongs directly under the meter, without a gap.
    auto* meter = new QVBoxLayout;
    meter->setSpacing(0);
    meter->addWidget(MMLevelX2);
    meter->addWidget(MMLevelScaleX1);
    column->addLayout(meter);

    auto* middle = new QHBoxLayout;
    middle->addWidget(lstLogs, 3);
    auto* options = new QVBoxLayout(Frame1);
    for (QRadioButton* option : optRange)
        options->addWidget(option);
    options->addStretch(1);
    middle->addWidget(Frame1, 0);
    auto* readouts = new QVBoxLayout;
    lblTime->setAlignment(Qt::AlignCenter);
    lblDown->setAlignment(Qt::AlignCenter);
    lblTime->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral(" 00:00:00 ")) * 2);
    lblTimeOfDay->setAlignment(Qt::AlignCenter);
    for (QLabel* readout : {lblTime, lblDown, lblTimeOfDay})
        readouts->addWidget(new ReadoutSlot(readout, central));
    readouts->addStretch(1);
    middle->addLayout(readouts, 1);
    column->addLayout(middle, 1);

    // The strip sits on the slider, so that its columns line up with the slider's travel.
    auto* slider = new QVBoxLayout;
    slider->setSpacing(0);
    slider->addWidget(loudnessStrip);
    slider->addWidget(TrackBar);
    column->addLayout(slider);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {cmdPause, cmdRwd, cmdRepeat, cmdFF, cmdPlay, cmdStop})
        buttons->addWidget(button);
    column->addLayout(buttons);

    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    closeRow->addWidget(cmdClose);
    closeRow->addStretch(1);
    column->addLayout(closeRow);
}

void mnuMenu::createMenus()
{
    mnuFiles = menuBar()->addMenu(QStringLiteral("Files"));
    mnuFiles->setObjectName(QStringLiteral("mnuFiles"));
    mnuGoToTime = mnuFiles->addAction(QStringLiteral("Go To Time..."));
    mnuGoToTime->setObjectName(QStringLiteral("mnuGoToTime"));
    mnuGoToTime->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    mnuSaveClipAs = mnuFiles->addAction(QStringLiteral("Save Clip As..."));
    mnuSaveClipAs->setObjectName(QStringLiteral("mnuSaveClipAs"));
    mnuSaveClipAs->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    mnuSilenceReport = mnuFiles->addAction(QStringLiteral("Silence Report..."));
    mnuSilenceReport->setObjectName(QStringLiteral("mnuSilenceReport"));
    mnuExit = mnuFiles->addAction(QStringLiteral("Exit"));
    mnuExit->setObjectName(QStringLiteral("mnuExit"));
    mnuSetup = menuBar()->addMenu(QStringLiteral("Setup"));
    mnuSetup->setObjectName(QStringLiteral("mnuSetup"));
    mnuMyPreferences = mnuSetup->addAction(QStringLiteral("MyPreferences"));
    mnuMyPreferences->setObjectName(QStringLiteral("mnuMyPreferences"));
    // Help and About act straight from the menu bar; they hold no items.
    mnuHelp = menuBar()->addAction(QStringLiteral("Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuAbout = menuBar()->addAction(QStringLiteral("About"));
    mnuAbout->setObjectName(QStringLiteral("mnuAbout"));

    // Never on the menu bar: cmdPlay shows it on a right-button release.
    mnuHiddenPopupPlay = new QMenu(QStringLiteral("HiddenPopupMenu"), this);
    mnuHiddenPopupPlay->setObjectName(QStringLiteral("mnuHiddenPopupPlay"));
    mnuPlay5 = mnuHiddenPopupPlay->addAction(QStringLiteral("Play Last  5 Seconds"));
    mnuPlay5->setObjectName(QStringLiteral("mnuPlay5"));
    mnuPlay10 = mnuHiddenPopupPlay->addAction(QStringLiteral("Play Last 10 Seconds"));
    mnuPlay10->setObjectName(QStringLiteral("mnuPlay10"));
    mnuPlay20 = mnuHiddenPopupPlay->addAction(QStringLiteral("Play Last 20 Seconds"));
    mnuPlay20->setObjectName(QStringLiteral("mnuPlay20"));
}

void mnuMenu::connectHandlers()
{
    PlaybackControl* playback = playback_.get();
    RangeControl* range = range_.get();

    connect(cmdPlay, &QPushButton::clicked, this, guarded([playback] { playback->cmdPlay_Click(); }));
    connect(cmdPause, &QPushButton::clicked, this, guarded([playback] { playback->cmdPause_Click(); }));
    connect(cmdStop, &QPushButton::clicked, this, guarded([playback] { playback->cmdStop_Click(); }));
    connect(WavePlayer, &WavePlayer::PlaybackRunning, this, guarded([this, playback] {
                playback->WavePlayer_PlaybackRunning();
                logList_->setPlaying(QByteArray::fromStdString(
                    LoggerPlaces::of(module_).listedName(WavePlayer->FileName())));
            }));
    connect(WavePlayer, &WavePlayer::PlaybackStopped, this, guarded([this, playback] {
                playback->WavePlayer_PlaybackStopped();
                logList_->setPlaying({});
            }));
    connect(WavePlayer, &WavePlayer::DriveStalled, this,
            guarded([playback] { playback->WavePlayer_DriveStalled(); }));
    connect(WavePlayer, &WavePlayer::LogChanged, this, [this, playback](const std::filesystem::path& file) {
        runHandler([this, playback, &file] {
            const std::string listedName = LoggerPlaces::of(module_).listedName(file);
            logList_->selectLog(QByteArray::fromStdString(listedName));
            logList_->setPlaying(QByteArray::fromStdString(listedName));
            playback->WavePlayer_LogChanged(listedName);
        });
    });

    for (std::size_t i = 0; i < RangeOptionCount; ++i) {
        const auto index = static_cast<int16_t>(i);
        connect(optRange[i], &QRadioButton::clicked, this, guarded([range, index] { range->optRange_Click(index); }));
    }
    connect(Timer1, &QTimer::timeout, this, guarded([range] { range->Timer1_Timer(); }));
    TimelineControl* timeline = timeline_.get();
    connect(Timer1, &QTimer::timeout, this, guarded([timeline] { timeline->Timer1_Timer(); }));
    StripControl* strip = strip_.get();
    connect(Timer1, &QTimer::timeout, this, guarded([strip] { strip->Timer1_Timer(); }));
    connect(Timer1, &QTimer::timeout, this, &mnuMenu::scheduleTick);
    connect(WavePlayer, &WavePlayer::PlaybackRunning, this, &mnuMenu::scheduleTick);
    // Paused, what follows the position (the time of day, the strip's line)
    // would wait for the next slow tick: a move shows at once instead.
    connect(WavePlayer, &WavePlayer::PositionMoved, this, [this] {
        if (WavePlayer->isPaused())
            Timer1->start(0);
    });
    connect(mnuGoToTime, &QAction::triggered, this, guarded([timeline] { timeline->mnuGoToTime_Click(); }));
    connect(mnuSaveClipAs, &QAction::triggered, this, guarded([timeline] { timeline->mnuSaveClipAs_Click(); }));
    connect(mnuSilenceReport, &QAction::triggered, this, guarded([this] { mnuSilenceReport_Click(); }));
    connect(TrackBar, &TrackBar::ThumbMoved, this, guarded([range] { range->TrackBar_ThumbMoved(); }));
    connect(cmdFF, &QPushButton::clicked, this, guarded([range] { range->cmdFF_Click(); }));
    connect(cmdRwd, &QPushButton::clicked, this, guarded([range] { range->cmdRwd_Click(); }));
    connect(cmdRepeat, &QPushButton::clicked, this, guarded([range] { range->cmdRepeat_Click(); }));
    connect(mnuPlay5, &QAction::triggered, this, guarded([range] { range->mnuPlay5_Click(); }));
    connect(mnuPlay10, &QAction::triggered, this, guarded([range] { range->mnuPlay10_Click(); }));
    connect(mnuPlay20, &QAction::triggered, this, guarded([range] { range->mnuPlay20_Click(); }));

    connect(cmdClose, &QPushButton::clicked, this, guarded([this] { cmdClose_Click(); }));
    connect(mnuExit, &QAction::triggered, this, guarded([this] { mnuExit_Click(); }));
    connect(mnuMyPreferences, &QAction::triggered, this, guarded([this] { mnuMyPreferences_Click(); }));
    connect(mnuHelp, &QAction::triggered, this, guarded([this] { mnuHelp_Click(); }));
    connect(mnuAbout, &QAction::triggered, this, guarded([this] { mnuAbout_Click(); }));
    connect(logList_.get(), &LogList::noDrive, this, guarded([this] { openPreferencesForDrive(); }));
}

// With a log playing the slider and the times follow it every 50 ms;
// otherwise only the clock moves, once a second, and the console sleeps in
// between. Playback's start brings the quick ticks back at once.
void mnuMenu::scheduleTick()
{
    if (WavePlayer->isPlaying()) {
        // Coarse: Qt lets it fire together with the meter's polls.
        Timer1->setTimerType(Qt::CoarseTimer);
        Timer1->start(TimerIntervalMs);
    } else {
        // A coarse timer may fire early, before the second it is meant to show.
        Timer1->setTimerType(Qt::PreciseTimer);
        Timer1->start(msUntilNextSecond(QDateTime::currentMSecsSinceEpoch()));
    }
}

void mnuMenu::setFocusOrder()
{
    QWidget* order[] = {cmdPlay, cmdStop, lstLogs, cmdClose, TrackBar, cmdPause, optRange[0], optRange[1],
                        optRange[2], optRange[3], optRange[4], optRange[5], cmdRwd, cmdFF, cmdRepeat};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void mnuMenu::Form_Load()
{
    try {
        optRange[0]->setChecked(true);
        range_->optRange_Click(0);
        for (std::size_t i = 1; i < RangeOptionCount; ++i)
            RangeLengths[i] = OptionSpans[i];
        setButtonColour(cmdPause, colours::PauseIdle);
        Paused = 0;
        WavePlayer->setDeviceID(static_cast<int32_t>(module_.PlayDevice));
        fillLogList();
    } catch (const std::exception& error) {
        frmError::report(error);
    }
}

// The log folder is listed on a lane of its own: the window shows at once,
// and the list fills when the folder answers or its failure is reported.
void mnuMenu::fillLogList()
{
    logList_->reload();
}

// Without a drive behind the letter there is nothing to list: the operator is
// taken straight to the place where a letter gets its folder.
void mnuMenu::openPreferencesForDrive()
{
    frmMyPreferences* preferences = frmMyPreferences::showWindow(module_);
    connect(preferences, &frmMyPreferences::applied, this, &mnuMenu::preferencesApplied, Qt::UniqueConnection);
    // The error window stays readable beside it.
    if (const frmError* error = frmError::instance()) {
        const QRect taken = error->frameGeometry();
        if (preferences->frameGeometry().intersects(taken)) {
            QPoint beside = taken.topRight() + QPoint(16, 0);
            if (const QScreen* screen = error->screen()) {
                const QRect room = screen->availableGeometry();
                if (beside.x() + preferences->frameGeometry().width() > room.right())
                    beside = taken.bottomLeft() + QPoint(0, 16);
            }
            preferences->move(beside);
        }
    }
    preferences->txtDrive->setFocus();
}

// A letter that named no drive has now been given one (or the logger's letter
// a new folder): the list follows without a restart.
void mnuMenu::preferencesApplied(bool remapped, char letter)
{
    const bool adopt = logList_->driveMissing();
    if (adopt) {
        if (const std::optional<std::string> drive = ReadStoredSettings(module_).drive; drive && !drive->empty())
            module_.LoggerDrive = *drive;
    }
    const bool logDrive = !module_.LoggerDrive.empty() && (module_.LoggerDrive[0] | 0x20) == (letter | 0x20);
    if (adopt || (remapped && logDrive))
        logList_->reload();
}

void mnuMenu::Form_Unload()
{
    module_.PlayerOpen = 0;
}

void mnuMenu::cmdClose_Click()
{
    close();
}

void mnuMenu::mnuExit_Click()
{
    close();
}

void mnuMenu::mnuMyPreferences_Click()
{
    frmMyPreferences* preferences = frmMyPreferences::showWindow(module_);
    connect(preferences, &frmMyPreferences::applied, this, &mnuMenu::preferencesApplied, Qt::UniqueConnection);
}

void mnuMenu::mnuHelp_Click()
{
    frmHelp::showWindow(module_.drives);
}

void mnuMenu::mnuAbout_Click()
{
    frmAbout::showWindow(module_.drives);
}

void mnuMenu::mnuSilenceReport_Click()
{
    try {
        const LoggerPlaces places = LoggerPlaces::of(module_);
        // The report window outlives the console; a stretch it plays after the console closed is dropped.
        const QPointer<mnuMenu> console(this);
        frmSilenceReport::showWindow(logList_->catalog(), places.logFolder, places.curFile, places.logFolderDrivePath(),
                                     [console](const QByteArray& name, int32_t positionMs) {
                                         if (console)
                                             runHandler([&] { console->playback().playLogAt(name, positionMs); });
                                     });
    } catch (const Failure& failure) {
        frmError::report(QString::fromStdString(failure.message()));
    }
}

void mnuMenu::cmdPlay_MouseUp(Qt::MouseButton button, const QPoint& globalPosition)
{
    if (button == Qt::RightButton)
        mnuHiddenPopupPlay->popup(globalPosition);
}

void mnuMenu::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

bool mnuMenu::eventFilter(QObject* watched, QEvent* event)
{
    // Play and Stop answer their access keys at once: Qt's own answer shows the
    // button pressed for a tenth of a second before clicking it, and the
    // operator hears the start that much later than after a mouse click.
    if ((watched == cmdPlay || watched == cmdStop) && event->type() == QEvent::Shortcut &&
        !static_cast<QShortcutEvent*>(event)->isAmbiguous()) {
        static_cast<QPushButton*>(watched)->click();
        return true;
    }
    if (watched == cmdPlay && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const Qt::MouseButton button = mouse->button();
        const QPoint at = mouse->globalPosition().toPoint();
        runHandler([this, button, at] { cmdPlay_MouseUp(button, at); });
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace tarnveil
