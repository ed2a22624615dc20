#pragma once

#include "catalog/log_catalog.h"
#include "loglist/log_list_model.h"
#include "platform/drive_map.h"
#include "platform/log_folder.h"

#include <QByteArray>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnveil {

// One look at the log folder, taken on a lane's thread and handed to the GUI
// thread: what the list must become, and the edits that take it there from
// the rows it held when the look began.
struct LogListing {
    std::shared_ptr<const LogRows> rows;
    // Many changes at once (the first listing above all): the list is refilled
    // whole rather than edited row by row.
    bool rebuild = false;
    // Rows of the old list to remove, ascending.
    std::vector<int> removed;
    // Rows of the new list to insert once the removals are made, ascending.
    std::vector<int> added;
    // Notification reaches these folders (a local file system); empty on a share.
    std::vector<std::filesystem::path> watch;
    // What the catalog's look said: whether to look again at once, what it
    // is reading, the calls it made.
    bool complete = true;
    std::string reading;
    int calls = 0;
    // The log being recorded, as the logger names it ("" for none); not
    // known when CurFile was not read this time.
    std::optional<QByteArray> recording;
    // The catalog has not stored this listing yet.
    bool unsaved = false;
};

// Reads the name of the log being recorded, relative to the log folder, from
// the logger's CurFile ("" when it names none). May throw Failure.
using RecordingReader = QByteArray (*)(const std::filesystem::path& curFile);

// Looks at the log folder of `drive` ('L') through `drives` and `catalog`, and
// compares what the catalog lists with `before`. Logs in `keep` stay even when
// the folder no longer has them. Runs on a lane's thread: owns all it touches.
// Throws Failure.
LogListing takeListing(const DriveMap& drives, const std::string& drive, LogCatalog& catalog,
                       std::shared_ptr<const LogRows> before, const std::vector<std::string>& keep,
                       RecordingReader readRecording);

} // namespace tarnveil
