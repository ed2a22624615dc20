#pragma once

#include "console/console_state.h"
#include "share/drive_lane.h"

#include <QByteArray>

#include <filesystem>
#include <optional>

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

    // Selects the listed log `rawFileName` and opens it afresh the way PlayFile
    // does, playing from `positionMs`; the slider shows the option's window
    // around that position. Reports its own failures; never throws.
    void playLogAt(const QByteArray& rawFileName, int32_t positionMs);

    void WavePlayer_PlaybackRunning();
    void WavePlayer_PlaybackStopped();
    // The log's drive has stopped answering under playback: the operator is
    // told, and the playback goes on when it answers.
    void WavePlayer_DriveStalled();
    // Playback following the live log has gone on into the next log, named
    // as the log list names it.
    void WavePlayer_LogChanged(const std::string& listedName);

private:
    void takeRangeFromOptions();
    void openSelectedLog(std::optional<int32_t> startMs = std::nullopt);
    void openLogArrived(DriveOutcome<OpenedLog> outcome, const std::filesystem::path& file,
                        std::optional<int32_t> startMs);
    void playOpenedLog(OpenedLog& opened, const std::filesystem::path& file, std::optional<int32_t> startMs);

    Module1& module_;
    ConsoleState& state_;
    const ConsoleControls& controls_;
    DriveLane openLane_;
};

// Enables the range options 1 to 5 that fit a log of `length` milliseconds.
void enableRangeOptions(const ConsoleControls& controls, int32_t length);

} // namespace tarnveil
