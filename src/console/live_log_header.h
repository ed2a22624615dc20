#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tarnveil {

class DriveMap;
struct Module1;

// Where the logger keeps its files, worked out from the settings on the GUI
// thread; the paths may then be used on any thread.
struct LoggerPlaces {
    std::string loggerDrive;            // the drive letter as loaded
    std::filesystem::path loggerFolder; // <drive>:\logger
    std::filesystem::path curFile;      // <drive>:\logger\CurFile
    std::filesystem::path logFolder;    // <drive>:\logger\logs

    // Throws Failure when the drive letter leads nowhere.
    static LoggerPlaces of(const Module1& module);
    static LoggerPlaces of(const DriveMap& drives, const std::string& loggerDrive);

    // For a log as the log list names it (its path below the log folder, '/'
    // between sub-folders): the drive path the operator and CurFile know
    // ("L:\logger\logs\x.wav"), and the file itself. The name is taken as it
    // is: a backslash in it is part of a file name, never a separator.
    std::string drivePath(const std::string& listedName) const;
    std::filesystem::path file(const std::string& listedName) const;
    // The other way: a log file below the log folder as the list names it.
    std::string listedName(const std::filesystem::path& file) const;
    // The log folder as the operator knows it, "L:\logger\logs", as failures name it.
    std::string logFolderDrivePath() const;
    // A drive path below the log folder as the list names it (backslashes
    // between sub-folders become '/'); std::nullopt for one outside it.
    std::optional<std::string> listedNameOf(const std::string& drivePath) const;
};

// Reads the logger's CurFile and, when `selectedLogPath` (a drive path) is the
// log being recorded, rewrites the RIFF and data sizes of `selectedLog`, its
// file, in place from its length now. Returns what CurrentLogPath becomes.
// Touches nothing but the two files, so it may run on any thread. Throws Failure.
std::string fixLiveLogHeader(const LoggerPlaces& places, const std::string& selectedLogPath,
                             const std::filesystem::path& selectedLog);

// The same for a drive path given in full, setting CurrentLogPath.
void FixLiveLogHeader(Module1& module, const std::string& selectedLogPath);

// The file of the log being recorded, as CurFile on `loggerDrive` names it now;
// std::nullopt while the logger records nothing. Reads only, from any thread.
// Throws Failure when CurFile cannot be read.
std::optional<std::filesystem::path> currentLiveLog(const DriveMap& drives, const std::string& loggerDrive);

} // namespace tarnveil
