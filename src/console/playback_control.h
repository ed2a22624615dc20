#pragma once

#include "console/console_state.h"

#include <QByteArray>

#include <optional>

namespace tarnveil {

struct Module1;

// Play, Pause and Stop, the one way into playback (PlayFile), and the console's
// answer to the player's start and stop notifications. GUI thread only.
class PlaybackControl {
public:
    PlaybackControl(Module1& module, ConsoleState& state, const ConsoleControls& controls);

    void cmdPlay_Click();
    void cmdPause_Click();
    void cmdStop_Click();

    // Resumes a paused log, or opens the selected one afresh and plays it.
    // Reports its own failures in the error window; never throws.
    void PlayFile();

    // Selects the listed log `rawFileName` and opens it afresh the way PlayFile
    // does, playing from `positionMs`; the slider shows the option's window
    // around that position. Reports its own failures; never throws.
    void playLogAt(const QByteArray& rawFileName, int32_t positionMs);

    void WavePlayer_PlaybackRunning();
    void WavePlayer_PlaybackStopped();

private:
    void takeRangeFromOptions();
    void openSelectedLog(std::optional<int32_t> startMs = std::nullopt);

    Module1& module_;
    ConsoleState& state_;
    const ConsoleControls& controls_;
};

} // namespace tarnveil
