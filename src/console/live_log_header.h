#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tarnveil {

class DriveMap;
struct Module1;

// Reads the logger's CurFile, sets CurrentLogPath and, when `selectedLogPath`
// (a drive path such as "L:\logger\logs\x.wav") is the log being recorded,
// rewrites the RIFF and data sizes of its header in place from its length now.
// Throws Failure.
void FixLiveLogHeader(Module1& module, const std::string& selectedLogPath);

// The file of the log being recorded, as CurFile on `loggerDrive` names it now;
// std::nullopt while the logger records nothing. Reads only, from any thread.
// Throws Failure when CurFile cannot be read.
std::optional<std::filesystem::path> currentLiveLog(const DriveMap& drives, const std::string& loggerDrive);

} // namespace tarnveil
