#include "console/playback_control.h"

#include "components/sound_file.h"
#include "components/track_bar.h"
#include "components/wave_player.h"
#include "console/console_colours.h"
#include "console/live_log_header.h"
#include "console/log_opening.h"
#include "console/newest_growing_log.h"
#include "loglist/log_list_model.h"
#include "program/module1.h"
#include "platform/drive_map.h"
#include "windows/error_window.h"

#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <exception>

namespace tarnveil {

namespace {
// Above these lengths (strictly) the range options 1 to 5 have room in the file.
constexpr std::array<int32_t, RangeOptionCount> RangeOptionThresholds{0, 10000, 60000, 300000, 1800000,
                                                                       3600000};

// Whatever went wrong (file gone, drive unreachable, player refusing the file),
// the operator gets one plain sentence; steps already done stay done.
void reportUnplayable()
{
    frmError::report(QStringLiteral("Wave file does not exist or has been damaged"));
}
} // namespace

void enableRangeOptions(const ConsoleControls& controls, int32_t length)
{
    for (std::size_t i = 1; i < RangeOptionCount; ++i)
        controls.optRange[i]->setEnabled(length > RangeOptionThresholds[i]);
}

PlaybackControl::PlaybackControl(Module1& module, ConsoleState& state, const ConsoleControls& controls)
    : module_(module), state_(state), controls_(controls)
{
}

void PlaybackControl::cmdPlay_Click()
{
    takeRangeFromOptions();
    PlayFile();
}

void PlaybackControl::takeRangeFromOptions()
{
    for (std::size_t i = 0; i < RangeOptionCount; ++i) {
        if (controls_.optRange[i]->isChecked())
            state_.RangeIndex = static_cast<int16_t>(i);
    }
}

void PlaybackControl::playLogAt(const QByteArray& rawFileName, int32_t positionMs)
{
    const int row = controls_.logRows->rowOf(rawFileName);
    if (row < 0) {
        frmError::report(QStringLiteral("Wave file does not exist or has been damaged"));
        return;
    }
    controls_.lstLogs->setCurrentIndex(controls_.logRows->index(row));
    takeRangeFromOptions();
    try {
        openSelectedLog(positionMs);
    } catch (const std::exception&) {
        frmError::report(QStringLiteral("Wave file does not exist or has been damaged"));
    }
}

void PlaybackControl::PlayFile()
{
    if (!controls_.lstLogs->selectionModel()->hasSelection()) {
        frmError::report(QStringLiteral("No Log Selected"));
        return;
    }
    try {
        if (state_.Paused == -1) {
            controls_.WavePlayer->Resume();
            state_.Paused = 0;
            setButtonColour(controls_.cmdPause, colours::PauseIdle);
            return;
        }
        openSelectedLog();
    } catch (const std::exception&) {
        reportUnplayable();
    }
}

void PlaybackControl::openSelectedLog(std::optional<int32_t> startMs)
{
    if (module_.PlayerOpen != 0)
        controls_.WavePlayer->Stop();

    // The list keeps each log's name as the folder gave it, so a name that is
    // not valid text still opens the right file.
    const QModelIndex selected = controls_.lstLogs->selectionModel()->selectedIndexes().constFirst();
    const std::string listedName = selected.data(Qt::UserRole).toByteArray().toStdString();
    const LoggerPlaces places = LoggerPlaces::of(module_);
    state_.SelectedLogPath = places.drivePath(listedName);

    const std::filesystem::path file = places.file(listedName);
    const bool newestListed = selected.row() == controls_.logRows->rowCount() - 1;
    openLane_.start(
        state_.SelectedLogPath,
        [places, path = state_.SelectedLogPath, file, newestListed] { return openLog(places, path, file, newestListed); },
        [this, file, startMs](DriveOutcome<OpenedLog> outcome) { openLogArrived(std::move(outcome), file, startMs); });
}

// The drive has answered (or not, by the deadline): the new start goes on
// from where the file work left it.
void PlaybackControl::openLogArrived(DriveOutcome<OpenedLog> outcome, const std::filesystem::path& file,
                                     std::optional<int32_t> startMs)
{
    try {
        if (const Failure* unanswered = std::get_if<Failure>(&outcome)) {
            frmError::report(QString::fromStdString(unanswered->message()));
            return;
        }
        OpenedLog& opened = std::get<OpenedLog>(outcome);
        if (opened.fixUpFailure)
            throw *opened.fixUpFailure;
        module_.CurrentLogPath = opened.currentLogPath;
        playOpenedLog(opened, file, startMs);
    } catch (const std::exception&) {
        reportUnplayable();
    }
}

void PlaybackControl::playOpenedLog(OpenedLog& opened, const std::filesystem::path& file,
                                    std::optional<int32_t> startMs)
{
    WavePlayer& player = *controls_.WavePlayer;
    TrackBar& slider = *controls_.TrackBar;

    player.setDeviceID(static_cast<int32_t>(module_.PlayDevice));
    LiveLogSource liveLog;
    if (module_.CurrentLogPath == state_.SelectedLogPath) {
        // The player asks on its reader thread, which may outlive the console
        // (a released reader on a frozen share): it gets copies of everything.
        liveLog = [drives = module_.drives, drive = module_.LoggerDrive] { return currentLiveLog(drives, drive); };
    } else if (opened.followNewestIn) {
        liveLog = NewestGrowingLog(*opened.followNewestIn);
    }
    player.setFileName(file, std::move(opened.file), std::move(liveLog));
    if (opened.openFailure)
        throw *opened.openFailure;

    const int32_t span = state_.RangeLengths.at(static_cast<std::size_t>(state_.RangeIndex));
    const int32_t length = player.Wave().Length();
    slider.setMin(0);
    slider.setMax(state_.RangeIndex != 0 ? span : length);

    if (state_.RangeIndex > 5) {
        // Replay of the last seconds. A log shorter than the span starts at its
        // beginning rather than at a position before it.
        slider.setMax(length);
        slider.setMin(std::max(0, checkedMs(int64_t{length} - span)));
        player.setPosition(slider.Min());
    }

    if (startMs) {
        // A moment asked for by the operator: the window centres on it, so that
        // what led up to it is in reach as well.
        if (state_.RangeIndex != 0) {
            const int32_t windowStart = std::max(0, checkedMs(int64_t{*startMs} - span / 2));
            slider.setMin(windowStart);
            slider.setMax(checkedMs(int64_t{windowStart} + span));
        }
        player.setPosition(*startMs);
        slider.setPosition(player.Position());
    }

    enableRangeOptions(controls_, length);

    player.Play();
}

void PlaybackControl::cmdPause_Click()
{
    if (module_.PlayerOpen == 0)
        return;
    state_.Paused = -1;
    controls_.WavePlayer->Pause();
    setButtonColour(controls_.cmdPause, colours::PausePaused);
    setButtonColour(controls_.cmdPlay, colours::PlayIdle);
    module_.PlayerOpen = 0;
}

void PlaybackControl::cmdStop_Click()
{
    // A start still waiting for the drive is called off too: Stop means silence.
    openLane_.cancel();
    controls_.WavePlayer->Stop();
}

void PlaybackControl::WavePlayer_PlaybackRunning()
{
    module_.PlayerOpen = -1;
    // Repeat plays a paused log on, so running means not paused; unless a Pause
    // came after the start this notification reports.
    if (!controls_.WavePlayer->isPaused()) {
        state_.Paused = 0;
        setButtonColour(controls_.cmdPause, colours::PauseIdle);
    }
    setButtonColour(controls_.cmdPlay, colours::PlayRunning);
    controls_.cmdStop->setFocus();
}

void PlaybackControl::WavePlayer_PlaybackStopped()
{
    controls_.TrackBar->setPosition(controls_.WavePlayer->Position());
    module_.PlayerOpen = 0;
    state_.Paused = 0;
    setButtonColour(controls_.cmdPlay, colours::PlayIdle);
    setButtonColour(controls_.cmdPause, colours::PauseIdle);
    controls_.lblDown->setText(QStringLiteral("     "));
    controls_.lblTime->setText(QStringLiteral("    "));
    controls_.cmdPlay->setFocus();
}

void PlaybackControl::WavePlayer_DriveStalled()
{
    frmError::report(QString::fromStdString(
        Failure(FailureCode::DeviceIoError, state_.SelectedLogPath + " does not answer").message()));
}

void PlaybackControl::WavePlayer_LogChanged(const std::string& listedName)
{
    state_.SelectedLogPath = LoggerPlaces::of(module_).drivePath(listedName);

    // The slider starts over on the new log, as when a log is opened.
    WavePlayer& player = *controls_.WavePlayer;
    const int32_t length = player.Wave().Length();
    controls_.TrackBar->setMin(0);
    controls_.TrackBar->setMax(state_.RangeIndex != 0 ? state_.RangeLengths.at(static_cast<std::size_t>(state_.RangeIndex))
                                                     : length);
    enableRangeOptions(controls_, length);
}

} // namespace tarnveil
