#pragma once

#include "platform/failure.h"
#include "platform/log_folder.h"
#include "platform/unique_fd.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tarnveil {

// One look at one folder of the archive: its modification time, and what it
// holds when that time is not the one it was last read at.
struct FolderLook {
    std::string key;          // "" for the log folder, else "2026/12/"
    int64_t readAtNs = -1;    // the time it was last read at; -1: never read
    bool readAnyway = false;  // read even when its time is as before
    // Where a lane reaches it from: the folder above it held open, or the log
    // folder when that is null; `path` leads from there.
    std::shared_ptr<const UniqueFd> from;
    std::string path;

    std::optional<Failure> failure;            // it is gone or cannot be read
    int64_t modifiedNs = -1;                   // as found
    std::optional<LogFolderContents> contents; // read by this look
    int calls = 0;                             // calls as a share counts them
    std::shared_ptr<const UniqueFd> held;      // the folder held open, once read
};

// Looks at `look.key`, reached from the open folder `fromFd` by `path` ("."
// for `fromFd` itself, "12" for a folder in it, "2026/12/" two levels down).
// Each name on the path is one call on a share, the time another; a listing
// costs its pages, the opening with its look at the time, and the closing. Returns the folder held open
// with O_PATH (which costs a share nothing) for looking further down, or an
// empty handle when it failed. Throws DriveCallCancelled only.
UniqueFd lookAtFolder(int fromFd, const std::string& path, const std::filesystem::path& logFolder,
                      FolderLook& look);

} // namespace tarnveil
