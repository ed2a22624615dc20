#pragma once

#include "console/console_state.h"
#include "share/drive_lane.h"

#include <filesystem>

#include <filesystem>

namespace tarnveil {

struct Module1;
struct OpenedLog;

// Play, Pause and Stop, the one way into playback (PlayFile), and the console's
// answer to the player's start and stop notifications. GUI thread only.
class PlaybackControl {
public:
    PlaybackControl(Module1& module, ConsoleState& state, const ConsoleControls& controls);

    void cmdPlay_Click();
    void cmdPause_Click();
    void cmdStop_Click();

    // Resumes a paused log, or opens the selected one afresh and plays it.
    // Reports its own failures in the error window; never throws. The file
    // work of a new start runs off the GUI thread: the start completes when
    // the logger's drive has answered, and a newer start or Stop supersedes it.
    void PlayFile();

    // A new start is waiting for the logger's drive to answer.
    bool startPending() const { return openLane_.busy(); }

    void WavePlayer_PlaybackRunning();
    void WavePlayer_PlaybackStopped();
    // Playback following the live log has gone on into the next log.
    void WavePlayer_LogChanged(const std::filesystem::path& file);

private:
    void openSelectedLog();
    void openLogArrived(DriveOutcome<OpenedLog> outcome, const std::filesystem::path& file);
    void playOpenedLog(OpenedLog& opened, const std::filesystem::path& file);

    Module1& module_;
    ConsoleState& state_;
    const ConsoleControls& controls_;
    DriveLane openLane_;
};

// Enables the range options 1 to 5 that fit a log of `length` milliseconds.
void enableRangeOptions(const ConsoleControls& controls, int32_t length);

} // namespace tarnveil
