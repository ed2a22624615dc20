#pragma once

#include "catalog/catalog_clock.h"
#include "platform/log_folder.h"
#include "platform/unique_fd.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tarnveil {

class CatalogDatabase;
struct FolderLook;

// What placing a log in time found, kept with the size and modification time
// it was found at: when either changes, the log is read again.
struct LogFacts {
    int64_t size = -1;
    int64_t modifiedNs = -1;
    int64_t startMs = 0;
    int64_t frames = 0;
    int sampleRate = 0;
    int channels = 0;
    int format = 0;

    bool known() const { return sampleRate > 0; }
};

// The outcome of one look at the drive through the catalog.
struct CatalogLook {
    // Every log, sorted by listedBefore.
    std::shared_ptr<const std::vector<LogFile>> rows;
    // Something changed since the last look.
    bool changed = false;
    // False while folders are still to be read or checked: look again soon.
    bool complete = true;
    // The dated folder being read ("2025-03"), for a quiet word of progress.
    std::string reading;
    // Calls made on the drive (folder reads and stats).
    int calls = 0;
    // Notification reaches the log folder (a local file system).
    bool local = false;
    // Something changed in this look or the one before: what goes with new
    // logs (the logger's CurFile) is worth a look, as it may lag them a little.
    bool changedLately = false;
    // What this look learnt is not stored yet: storeWhatChanged() stores it.
    bool unsaved = false;
};

// What the console knows about the logs of one log folder, kept between runs
// in the catalog's database, and brought up to date by small looks: a folder
// is read again only when its modification time changed. The log folder and
// the newest dated folder on each level are looked at on every look; older
// dated folders as lookAtOlder() tells. Folders not yet read are read several
// at a time, newest first.
//
// Used from lane threads, one look at a time (the lock is never taken on the
// GUI thread). Each look opens the database on its own thread.
class LogCatalog {
public:
    // `clock` gives seconds on a steady clock, never 0: the hourly looks go by it.
    explicit LogCatalog(std::function<int64_t()> clock = steadySeconds) : clock_(std::move(clock)) {}

    // A look at the drive. A warm start's first look makes no call on the
    // drive: it hands back the stored list and leaves the checking to
    // the looks after it. A look at another folder than the last starts over
    // with that folder's catalog. Throws Failure when the log folder cannot be read.
    CatalogLook look(const std::filesystem::path& logFolder);

    // Every log the catalog knows of in `logFolder`, sorted by listedBefore;
    // looks at the drive first when it has not yet (see look()).
    std::shared_ptr<const std::vector<LogFile>> logs(const std::filesystem::path& logFolder);

    // Reads, in `logFolder`, the dated folders not yet read whose names lead
    // to `datedPaths` ("2026/06/15/12/", "2026-06-15/12/"): a cold catalog
    // knows a moment's logs without waiting for the whole archive.
    void readTowards(const std::filesystem::path& logFolder, const std::vector<std::string>& datedPaths);

    // Stores what the looks learnt and have not stored yet.
    void storeWhatChanged();

    // The facts stored for `path`, if any.
    std::optional<LogFacts> facts(const std::string& path);
    void storeFacts(const std::string& path, const LogFacts& facts);

private:
    struct Folder {
        int64_t modifiedNs = -1; // as when last read; -1 while never read
        int64_t checkedAtS = 0;  // when its time was last looked at; 0: not since start
        // Read within the clock tick of its last change: a change in the same
        // tick would leave its time as it was, so it is read once more.
        bool racy = false;
        std::vector<LogFile> logs;
    };

    enum class Seen { Gone, Unchanged, Changed };

    // What the database lacks. A folder read for the first time, or gone, is
    // stored whole; one that held logs before stores only the logs that came
    // and went, so that a log added to a flat folder of a hundred thousand
    // does not write all of them again.
    struct Unstored {
        std::set<std::string> wholeFolders;
        std::set<std::string> folderTimes;
        std::set<std::string> goneLogs;
        std::map<std::string, std::pair<std::string, LogFile>> newLogs; // path -> folder, log
        bool empty() const
        {
            return wholeFolders.empty() && folderTimes.empty() && goneLogs.empty() && newLogs.empty();
        }
    };

    CatalogLook lookLocked(const std::filesystem::path& logFolder);
    void load();
    void save(CatalogDatabase& database);
    void storeLocked();
    void trustSettledFolders();
    void openRoot(CatalogLook& look);
    void checkNewest(CatalogLook& look);
    void readUnchecked(CatalogLook& look);
    void lookAtOlder(CatalogLook& look);
    FolderLook lookFor(const std::string& key);
    Seen apply(FolderLook& found, CatalogLook& look);
    Seen check(const std::string& key, CatalogLook& look);
    void forgetGoneAbove(const std::string& key, CatalogLook& look);
    void forget(const std::string& key);
    void noteLogsThatCameAndWent(const std::string& key, const std::vector<LogFile>& before,
                                 const std::vector<LogFile>& now);
    std::vector<std::string> children(const std::string& key) const;
    std::optional<std::string> nextUnchecked(const std::set<std::string>& skip) const;
    std::optional<std::string> oldestHoldingLogsAfter(const std::string& after) const;
    std::optional<std::string> nextToSweep(int64_t nowS);
    std::shared_ptr<const std::vector<LogFile>> sortedRows() const;
    std::shared_ptr<const std::vector<LogFile>> rows_ = std::make_shared<const std::vector<LogFile>>();

    std::function<int64_t()> clock_;
    std::filesystem::path logFolder_;
    std::mutex mutex_;
    bool loaded_ = false;
    bool changed_ = false;
    std::map<std::string, Folder> folders_;
    std::map<std::string, LogFacts> facts_;
    Unstored unstored_;
    std::string sweepAfter_;
    // The oldest-first look under way: the last folder it took ("" at its start).
    std::optional<std::string> oldestAfter_;
    int64_t oldestDueS_ = 0;
    bool changedLastLook_ = false;
    std::optional<bool> local_;
    int rootNamesOnShare_ = 0;
    UniqueFd root_; // the log folder, opened anew by each look
};

} // namespace tarnveil
