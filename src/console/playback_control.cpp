#include "console/playback_control.h"

#include "components/track_bar.h"
#include "components/wave_player.h"
#include "console/console_colours.h"
#include "console/live_log_header.h"
#include "console/module1.h"
#include "platform/drive_map.h"
#include "windows/error_window.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <exception>

namespace tarnveil {

namespace {
// Above these lengths (strictly) the range options 1 to 5 have room in the file.
constexpr std::array<int32_t, RangeOptionCount> RangeOptionThresholds{0, 10000, 60000, 300000, 1800000,
                                                                       3600000};
} // namespace

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
    QListWidget& list = *controls_.lstLogs;
    QListWidgetItem* entry = nullptr;
    for (int i = 0; i < list.count() && entry == nullptr; ++i) {
        if (list.item(i)->data(Qt::UserRole).toByteArray() == rawFileName)
            entry = list.item(i);
    }
    if (entry == nullptr) {
        frmError::report(QStringLiteral("Wave file does not exist or has been damaged"));
        return;
    }
    list.setCurrentItem(entry);
    takeRangeFromOptions();
    try {
        openSelectedLog(positionMs);
    } catch (const std::exception&) {
        frmError::report(QStringLiteral("Wave file does not exist or has been damaged"));
    }
}

void PlaybackControl::PlayFile()
{
    if (controls_.lstLogs->selectedItems().isEmpty()) {
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
        // Whatever went wrong (file gone, drive unreachable, player refusing the
        // file), the operator gets one plain sentence; steps already done stay done.
        frmError::report(QStringLiteral("Wave file does not exist or has been damaged"));
    }
}

void PlaybackControl::openSelectedLog(std::optional<int32_t> startMs)
{
    WavePlayer& player = *controls_.WavePlayer;
    TrackBar& slider = *controls_.TrackBar;

    if (module_.PlayerOpen != 0)
        player.Stop();

    // The list keeps each file's name as the folder gave it, so a name that is
    // not valid text still opens the right file.
    const QListWidgetItem* selected = controls_.lstLogs->selectedItems().constFirst();
    const QByteArray fileName = selected->data(Qt::UserRole).toByteArray();
    state_.SelectedLogPath = module_.LoggerDrive + ":\\logger\\logs\\" + fileName.toStdString();

    FixLiveLogHeader(module_, state_.SelectedLogPath);
    player.setDeviceID(static_cast<int32_t>(module_.PlayDevice));
    player.setFileName(module_.drives.resolve(state_.SelectedLogPath));

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

    for (std::size_t i = 1; i < RangeOptionCount; ++i)
        controls_.optRange[i]->setEnabled(length > RangeOptionThresholds[i]);

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

} // namespace tarnveil
