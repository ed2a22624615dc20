#include "console/range_control.h"

#include "components/track_bar.h"
#include "components/wave_player.h"
#include "program/module1.h"
#include "console/playback_control.h"
#include "console/time_display.h"
#include "windows/error_window.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

#include <algorithm>

namespace tarnveil {

RangeControl::RangeControl(Module1& module, ConsoleState& state, const ConsoleControls& controls,
                           PlaybackControl& playback)
    : module_(module), state_(state), controls_(controls), playback_(playback)
{
}

int32_t RangeControl::spanInForce() const
{
    return state_.RangeLengths.at(static_cast<std::size_t>(state_.RangeIndex));
}

void RangeControl::optRange_Click(int16_t index)
{
    state_.RangeIndex = index;
    TrackBar& slider = *controls_.TrackBar;
    if (index == 0) {
        // Total shows the whole file, so its start as well as its end.
        slider.setMin(0);
        slider.setMax(controls_.WavePlayer->Wave().Length());
        controls_.cmdRwd->setEnabled(false);
        controls_.cmdFF->setEnabled(false);
        return;
    }
    controls_.cmdRwd->setEnabled(true);
    controls_.cmdFF->setEnabled(true);
    const int32_t position = slider.Position();
    slider.setMin(position);
    slider.setMax(checkedMs(int64_t{position} + spanInForce()));
}

void RangeControl::Timer1_Timer()
{
    // The clock's text changes once a second; the quick ticks of playback
    // need not format the date twenty times over.
    const qint64 second = QDateTime::currentSecsSinceEpoch();
    if (second != clockSecond_) {
        clockSecond_ = second;
        controls_.lblclock->setText(clockText(clock_.at(second), QLocale::system()));
    }
    if (module_.PlayerOpen == 0)
        return;

    WavePlayer& player = *controls_.WavePlayer;
    TrackBar& slider = *controls_.TrackBar;

    module_.TimeSeconds = roundHalfEvenMs(player.Position());
    module_.FormatTime();
    controls_.lblTime->setText(QString::fromStdString(module_.TimeText));

    module_.TimeSeconds = roundHalfEvenMs(checkedMs(int64_t{player.Wave().Length()} - player.Position()));
    module_.FormatTime();
    controls_.lblDown->setText(QString::fromStdString(module_.TimeText));

    if (player.isFollowing()) {
        // The log is still being recorded: its length grows from tick to tick.
        const int32_t length = player.Wave().Length();
        if (state_.RangeIndex == 0)
            slider.setMax(length);
        enableRangeOptions(controls_, length);
    }

    slider.setPosition(player.Position());
    const int32_t position = slider.Position();
    if (position >= slider.Max()) {
        slider.setMin(position);
        slider.setMax(checkedMs(int64_t{position} + spanInForce()));
    }
}

void RangeControl::TrackBar_ThumbMoved()
{
    controls_.WavePlayer->setPosition(controls_.TrackBar->Position());
}

void RangeControl::cmdFF_Click()
{
    WavePlayer& player = *controls_.WavePlayer;
    TrackBar& slider = *controls_.TrackBar;
    const int32_t span = spanInForce();
    // A jump that would reach or pass the end is refused, not shortened.
    if (int64_t{player.Position()} + span < player.Wave().Length()) {
        player.setPosition(checkedMs(int64_t{player.Position()} + span));
        slider.setMin(checkedMs(int64_t{slider.Min()} + span));
        slider.setMax(checkedMs(int64_t{slider.Max()} + span));
        state_.RepeatPosition = player.Position();
    }
}

void RangeControl::cmdRwd_Click()
{
    WavePlayer& player = *controls_.WavePlayer;
    TrackBar& slider = *controls_.TrackBar;
    const int32_t span = spanInForce();
    if (int64_t{player.Position()} - span > 0) {
        player.setPosition(checkedMs(int64_t{player.Position()} - span));
        slider.setMin(checkedMs(int64_t{slider.Min()} - span));
        slider.setMax(checkedMs(int64_t{slider.Max()} - span));
        state_.RepeatPosition = player.Position();
    }
}

void RangeControl::cmdRepeat_Click()
{
    try {
        WavePlayer& player = *controls_.WavePlayer;
        if (state_.RangeIndex <= 5) {
            player.setPosition(state_.RepeatPosition);
        } else {
            TrackBar& slider = *controls_.TrackBar;
            const int32_t length = player.Wave().Length();
            slider.setMax(length);
            slider.setMin(std::max(0, checkedMs(int64_t{length} - spanInForce())));
            player.setPosition(slider.Min());
        }
        player.Play();
    } catch (const std::exception& error) {
        frmError::report(error);
    }
}

void RangeControl::replayLast(int16_t rangeIndex, int32_t span)
{
    state_.RangeIndex = rangeIndex;
    state_.RangeLengths.at(static_cast<std::size_t>(rangeIndex)) = span;
    playback_.PlayFile();
}

void RangeControl::mnuPlay5_Click()
{
    replayLast(6, 5000);
}

void RangeControl::mnuPlay20_Click()
{
    replayLast(7, 20000);
}

void RangeControl::mnuPlay10_Click()
{
    replayLast(8, 10000);
}

} // namespace tarnveil
