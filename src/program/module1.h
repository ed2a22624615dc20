#pragma once

#include <cstdint>
#include <string>

namespace tarnveil {

class DriveMap;

// The program-wide state: one instance for the life of the process, handed to
// every window and routine that needs it (tests build fresh ones).
struct Module1 {
    explicit Module1(const DriveMap& driveMap) : drives(driveMap) {}

    const DriveMap& drives;

    int16_t PlayDevice = 0;       // sound card number (settings record 1)
    std::string LoggerDrive;      // one character as loaded (settings record 2)
    std::string CurrentLogPath;   // the log being recorded, as named by CurFile
    int16_t PlayerOpen = 0;       // -1 while playback runs
    int32_t TimeSeconds = 0;      // input of FormatTime
    std::string TimeText;         // output of FormatTime; file names during the list fill
    int32_t ListIndex = 0;        // loop counter of the log-list fill
    int SettingsFileNumber = 0;   // descriptor of the settings file while it is open
    std::string SettingsRecord;   // last settings record read or written (one character)

    // Start-up: loads the settings (creating the program folder when missing).
    // Defined with the console, which knows the settings file and the help
    // document; everything else here sits below every other part.
    void InitializeProgram();

    // TimeSeconds -> TimeText: "mm:ss" under an hour, "h:mm:ss" with a blank before
    // a single-digit hour, wrapped modulo one day.
    void FormatTime();
};

} // namespace tarnveil
