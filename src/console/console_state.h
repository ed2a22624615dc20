#pragma once

#include "platform/failure.h"

#include <array>
#include <cstdint>
#include <limits>
#include <string>

class QLabel;
class QListView;
class QPushButton;
class QRadioButton;

namespace tarnveil {

class LogListModel;
class TrackBar;
class WavePlayer;

// The main window's own fields. Flags are -1 (true) / 0 (false).
struct ConsoleState {
    int16_t Paused = 0;                   // -1 from a Pause until the next resume or stop
    std::string SelectedLogPath;          // drive path of the log opened last
    std::array<int32_t, 9> RangeLengths{}; // slider span per RangeIndex, milliseconds
    int16_t RangeIndex = 0;               // 0..5 from optRange, 6..8 from the replay commands
    int32_t RepeatPosition = 0;           // where the last fast-forward or rewind landed
};

inline constexpr std::size_t RangeOptionCount = 6;

// The controls the console logic drives; owned by the main window.
struct ConsoleControls {
    QListView* lstLogs = nullptr;
    // What lstLogs shows: each row's listed name and path below the log folder.
    const LogListModel* logRows = nullptr;
    QPushButton* cmdPlay = nullptr;
    QPushButton* cmdPause = nullptr;
    QPushButton* cmdStop = nullptr;
    QPushButton* cmdFF = nullptr;
    QPushButton* cmdRwd = nullptr;
    QPushButton* cmdRepeat = nullptr;
    std::array<QRadioButton*, RangeOptionCount> optRange{};
    ::tarnveil::TrackBar* TrackBar = nullptr;
    ::tarnveil::WavePlayer* WavePlayer = nullptr;
    QLabel* lblclock = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* lblDown = nullptr;
};

// Positions and spans are 32-bit milliseconds; a sum that leaves that range is
// an overflow failure rather than a silent wrap.
inline int32_t checkedMs(int64_t value)
{
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        throw Failure(FailureCode::Overflow);
    return static_cast<int32_t>(value);
}

} // namespace tarnveil
