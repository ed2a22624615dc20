#pragma once

#include "console/console_state.h"
#include "console/time_display.h"

namespace tarnveil {

struct Module1;
class PlaybackControl;

// The slider's span and travelling window, the clock and time read-outs,
// fast-forward and rewind, Repeat and the replay of the last seconds.
// GUI thread only.
class RangeControl {
public:
    RangeControl(Module1& module, ConsoleState& state, const ConsoleControls& controls,
                 PlaybackControl& playback);

    void optRange_Click(int16_t index);
    void Timer1_Timer();
    void TrackBar_ThumbMoved();

    void cmdFF_Click();
    void cmdRwd_Click();
    void cmdRepeat_Click();

    void mnuPlay5_Click();
    void mnuPlay10_Click();
    void mnuPlay20_Click();

private:
    void replayLast(int16_t rangeIndex, int32_t span);
    int32_t spanInForce() const;

    Module1& module_;
    ConsoleState& state_;
    const ConsoleControls& controls_;
    PlaybackControl& playback_;
    int64_t clockSecond_ = -1; // the second lblclock shows
    LocalClock clock_;
};

} // namespace tarnveil
