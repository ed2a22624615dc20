#pragma once

#include "components/sound_file.h"
#include "loudness/loudness_meter.h"
#include "loudness/measure_control.h"

#include <atomic>
#include <filesystem>

namespace tarnveil {

// One log being measured, through the same reading path as playback. A log
// the logger is still recording is read on as it grows.
//
// The thread that measures owns it; nothing of it may be used on the GUI thread,
// since every read may wait on the logger's drive.
class LogMeasurement {
public:
    // Throws Failure when the log cannot be opened or measured.
    LogMeasurement(const std::filesystem::path& file, bool live);

    // Measures what the log holds beyond what was measured before, checking
    // for a cancel between reads, each read a DriveCall. False when it was
    // cancelled first.
    bool readOn(MeasureControl& control);

    // Everything measured so far; a finished log's last short step included.
    LoudnessProfile profile();

    bool live() const { return live_; }

private:
    template <typename Sample>
    bool readOnAs(MeasureControl& control);

    SoundFile file_;
    LoudnessMeter meter_;
    bool live_;
};

} // namespace tarnveil
