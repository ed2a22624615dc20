#pragma once

#include "platform/failure.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarnveil {

// One log as the list shows it. `path` is where it lies below the log folder,
// as the folder gave the bytes ("a.wav", "2026/12/07/16/archive.mp3"); `shown`
// is its name in the list, which for a log in dated folders carries the date
// and hour ("2026-12-07 16 archive.mp3").
struct LogFile {
    std::string path;
    // The name shown when it differs from `path`; most logs lie at the top of
    // the folder, and a hundred thousand of them need not be held twice.
    std::string label;
    // What the list orders by when it differs from the name shown: a date and
    // hour written "2026-12-07-16" and "2026-12-07 16" must sort as the same hour.
    std::string order;

    const std::string& shown() const { return label.empty() ? path : label; }
    const std::string& orderKey() const { return order.empty() ? shown() : order; }
};

// Ascending by name as shown, dated names in time order; the path decides
// between two logs shown alike.
bool listedBefore(const LogFile& a, const LogFile& b);

// The logs in `folder`: plain files with an audio extension the player reads
// (WAV, MP3, FLAC, Ogg, Opus, AIFF, AU, CAF; any letter case; symbolic links
// count when they lead to a plain file), and the same inside dated folders
// (YYYY/MM/DD/HH, YYYY-MM-DD, or any leading part of them). Sorted by
// listedBefore. Throws Failure when the folder itself cannot be read; a dated
// folder that cannot be read adds nothing.
std::vector<LogFile> listLogs(const std::filesystem::path& folder);

// The log that listLogs(folder) would list last, found without entering any
// but the newest dated folders (dated folders are named by time); std::nullopt
// when there is none. Throws as listLogs does.
std::optional<LogFile> newestLog(const std::filesystem::path& folder);

// One folder of the tree listLogs walks, already open as `folderFd` (O_PATH
// will do, so no path is looked up again on the drive), read without entering
// the dated folders in it. `relative` is "" for the log folder itself, else a
// dated folder's path below it ending in '/' ("2026/12/"). Throws Failure when
// the folder cannot be read or is no dated folder.
struct LogFolderContents {
    std::vector<LogFile> logs;         // unsorted
    std::vector<std::string> datedFolders; // their relative paths, ending in '/'
    int pages = 0; // the pages a share hands the listing out in, with the one that ends it
};
LogFolderContents readLogFolderAt(int folderFd, const std::filesystem::path& logFolder, const std::string& relative);

// The failure of a folder that cannot be read: one that is not there reads as
// a missing path to the operator, not as a missing file.
Failure folderFailure(int errnoValue, const std::filesystem::path& folder);

// The folders new logs arrive in: the log folder and the newest dated folder
// on each level below it.
std::vector<std::filesystem::path> newestLogFolders(const std::filesystem::path& folder,
                                                    const std::vector<LogFile>& logs);

} // namespace tarnveil
