#include "loglist/log_listing.h"

#include "platform/drive_call.h"
#include "platform/failure.h"

#include <algorithm>

namespace tarnveil {

namespace {

bool kept(const std::vector<std::string>& keep, const LogFile& log)
{
    return std::find(keep.begin(), keep.end(), log.path) != keep.end();
}

} // namespace

LogListing takeListing(const DriveMap& drives, const std::string& drive, LogCatalog& catalog,
                       std::shared_ptr<const LogRows> before, const std::vector<std::string>& keep,
                       RecordingReader readRecording)
{
    const std::filesystem::path folder = drives.resolve(drive + ":\\logger\\logs");
    const CatalogLook look = catalog.look(folder);
    const LogRows& old = *before;

    LogListing listing;
    listing.calls = look.calls;
    // The logger names a new log in CurFile as it starts it, so on a share
    // CurFile is read only when the logs changed lately, not at every idle look.
    if (look.complete && (look.local || look.changedLately) && readRecording != nullptr) {
        // A CurFile that cannot be read marks no log; the header fix-up reports it.
        listing.recording.emplace();
        try {
            driveCall();
            // Two names, an open, a read, a flush and a close.
            listing.calls += 6;
            listing.recording = readRecording(drives.resolve(drive + ":\\logger\\CurFile"));
        } catch (const Failure&) {
        }
    }
    listing.complete = look.complete;
    listing.unsaved = look.unsaved;
    listing.reading = look.reading;
    if (look.local)
        listing.watch = newestLogFolders(folder, *look.rows);
    // Nothing new and nothing held back: the list stays as it is.
    if (!look.changed && old.size() == look.rows->size()) {
        listing.rows = std::move(before);
        return listing;
    }
    // The first listing is the catalog's list as it is.
    if (old.empty()) {
        listing.rows = look.rows;
        listing.rebuild = true;
        return listing;
    }
    auto now = std::make_shared<LogRows>(*look.rows);

    // One walk along both sorted lists gives the edits.
    LogRows rows;
    rows.reserve(now->size() + keep.size());
    size_t i = 0;
    size_t j = 0;
    while (i < old.size() || j < now->size()) {
        if ((i + j) % 4096 == 0)
            ownWorkGoesOn();
        const bool takeOld = j == now->size() || (i < old.size() && listedBefore(old[i], (*now)[j]));
        const bool takeNew = i == old.size() || (j < now->size() && listedBefore((*now)[j], old[i]));
        if (takeOld) {
            if (kept(keep, old[i]))
                rows.push_back(old[i]);
            else
                listing.removed.push_back(static_cast<int>(i));
            ++i;
        } else if (takeNew) {
            listing.added.push_back(static_cast<int>(rows.size()));
            rows.push_back(std::move((*now)[j]));
            ++j;
        } else {
            rows.push_back(std::move((*now)[j]));
            ++i;
            ++j;
        }
    }

    // Each single insertion shifts every row below it; past a few hundred a
    // refill is cheaper.
    constexpr size_t RebuildAbove = 256;
    if (listing.added.size() > RebuildAbove) {
        listing.rebuild = true;
        listing.removed.clear();
        listing.added.clear();
    }
    listing.rows = std::make_shared<const LogRows>(std::move(rows));
    return listing;
}

} // namespace tarnveil
