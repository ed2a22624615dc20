#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarnveil {

struct Module1;

// "c:\program files\Tarnveil": the program folder, holding ZeVudi.ini and help.rtf.
inline constexpr const char* ProgramFolder = "c:\\program files\\Tarnveil";
inline constexpr const char* SettingsFilePath = "c:\\program files\\Tarnveil\\ZeVudi.ini";

// Creates the program folder when missing, then loads PlayDevice (record 1) and
// LoggerDrive (record 2). Throws Failure.
void ReadSettings(Module1& module);

// Stores the device digit and the upper-cased first drive character, and sets
// PlayDevice from the stored digit. Refuses device numbers that one digit cannot
// hold (nothing written). Throws Failure.
void WriteSettings(Module1& module, int32_t deviceNumber, const std::string& driveText);

// The preferences window's view of the file: each record that could be read.
// An empty or short file gives device 0 (a record beyond the end reads as NUL)
// and no drive; a NUL drive record gives an empty text, as the drive box shows it.
// Nothing at all when the file cannot be opened.
struct StoredSettings {
    std::optional<int16_t> device; // numeric value of record 1
    std::optional<std::string> drive; // record 2
};
StoredSettings ReadStoredSettings(Module1& module) noexcept;

} // namespace tarnveil
