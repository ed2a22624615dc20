#include "catalog/log_catalog.h"

#include "catalog/folder_lanes.h"
#include "platform/drive_call.h"
#include "platform/failure.h"
#include "platform/modified_time.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <string_view>
#include <utility>

namespace tarnveil {

namespace {

// A look on a share reads unread folders for about this long, then hands back
// what it has, so that the newest logs show while older folders are read.
constexpr std::chrono::milliseconds ReadSlice{250};
// Folders read at once: a share serves several calls at a time, and a local
// disk gains little from more than two.
constexpr int ShareLanes = 8;
constexpr int LocalLanes = 2;
// Folders held open at once while reading, well below a process's files.
constexpr size_t MaxHeldAbove = 256;

// File systems stamp times from a clock that ticks every few milliseconds, and
// a share's clock may stray from ours: a folder changed this recently may
// change again without its time moving.
constexpr int64_t RacyNs = 2'000'000'000;
// A folder unchanged this long before the newest change the catalog saw has
// settled: the logger writes only into its newest folders.
constexpr int64_t SettledNs = 2 * 86'400 * 1'000'000'000LL;

int64_t wallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Changes made on another machine, or behind a user-space file system, never
// reach inotify: there the catalog relies on its looks alone.
bool notificationArrives(const std::filesystem::path& folder)
{
    static constexpr std::array<unsigned long, 10> Remote{
        0x6969,     // NFS
        0x517B,     // SMB
        0xFF534D42, // CIFS
        0xFE534D42, // SMB2
        0x65735546, // FUSE
        0x01021997, // 9P
        0x00C36400, // Ceph
        0x5346414F, // AFS
        0x73757245, // Coda
        0x564C,     // NCP
    };
    struct statfs info {};
    driveCall();
    if (::statfs(folder.c_str(), &info) != 0)
        return false;
    return std::find(Remote.begin(), Remote.end(), static_cast<unsigned long>(info.f_type)) == Remote.end();
}

// The names on the path to `folder` that lie on its own file system: on a
// share, each is a call whenever the path is walked.
int namesOnItsFileSystem(const std::filesystem::path& folder)
{
    struct stat info {};
    driveCall();
    if (::stat(folder.c_str(), &info) != 0)
        return 0;
    int names = 0;
    for (std::filesystem::path above = folder.parent_path(); above != folder.root_path();
         above = above.parent_path()) {
        struct stat aboveInfo {};
        driveCall();
        if (::stat(above.c_str(), &aboveInfo) != 0 || aboveInfo.st_dev != info.st_dev)
            break;
        ++names;
    }
    return names;
}

// "2025/03/" -> "2025-03", as the operator reads a date.
std::string dateOfFolder(const std::string& key)
{
    std::string text = key;
    if (!text.empty() && text.back() == '/')
        text.pop_back();
    std::replace(text.begin(), text.end(), '/', '-');
    return text;
}

bool isBelow(const std::string& key, const std::string& parent)
{
    return key.size() > parent.size() && key.starts_with(parent);
}

} // namespace

CatalogLook LogCatalog::look(const std::filesystem::path& logFolder)
{
    const std::lock_guard lock(mutex_);
    return lookLocked(logFolder);
}

std::shared_ptr<const std::vector<LogFile>> LogCatalog::logs(const std::filesystem::path& logFolder)
{
    const std::lock_guard lock(mutex_);
    if ((!loaded_ || logFolder != logFolder_) && lookLocked(logFolder).unsaved)
        storeLocked();
    return rows_;
}

CatalogLook LogCatalog::lookLocked(const std::filesystem::path& logFolder)
{
    if (logFolder != logFolder_) {
        // The drive letter leads elsewhere now: another archive, another catalog.
        logFolder_ = logFolder;
        loaded_ = false;
        changed_ = true;
        rows_ = std::make_shared<const std::vector<LogFile>>();
        folders_.clear();
        facts_.clear();
        unstored_ = {};
        sweepAfter_.clear();
        oldestAfter_.reset();
        oldestDueS_ = 0;
        local_.reset();
    }
    CatalogLook look;
    if (!loaded_) {
        loaded_ = true;
        load();
        if (!folders_.empty()) {
            // A warm start: the stored list at once, the drive after.
            rows_ = sortedRows();
            look.rows = rows_;
            look.changed = true;
            look.complete = false;
            return look;
        }
    }
    if (!local_) {
        local_ = notificationArrives(logFolder_);
        rootNamesOnShare_ = namesOnItsFileSystem(logFolder_);
        look.calls += 1 + rootNamesOnShare_;
        if (!*local_)
            trustSettledFolders();
    }
    look.local = *local_;

    const bool nothingListedYet = rows_->empty();
    openRoot(look);
    checkNewest(look);
    readUnchecked(look);
    if (nextUnchecked({})) {
        look.complete = false;
    } else {
        look.reading.clear();
        lookAtOlder(look);
    }
    // The first list is not held up by storing what it holds: the operator
    // waits for the list, not for the database (storeWhatChanged()).
    if (nothingListedYet && changed_)
        look.unsaved = true;
    else
        storeLocked();
    if (changed_)
        rows_ = sortedRows();
    look.rows = rows_;
    look.changed = std::exchange(changed_, false);
    look.changedLately = look.changed || std::exchange(changedLastLook_, look.changed);
    return look;
}

// On a share, a warm start does not look at every stored folder again, which
// with years of hour folders is tens of thousands of calls on the logger's
// file server. Settled folders are left to the hourly looks: the oldest-first
// one for the logger's clean-up, the slow round for the rest. Folders created
// while the console was closed are still read at once, found where the folder
// above them changed. A local disk is looked at whole: it costs nothing.
void LogCatalog::trustSettledFolders()
{
    int64_t newest = -1;
    for (const auto& [key, folder] : folders_)
        newest = std::max(newest, folder.modifiedNs);
    const int64_t now = clock_();
    for (auto& [key, folder] : folders_) {
        if (!key.empty() && folder.modifiedNs >= 0 && folder.modifiedNs < newest - SettledNs)
            folder.checkedAtS = now;
    }
}

// The log folder, held open for the look (O_PATH costs a share nothing): the
// look starts from it instead of walking its path on the share for each folder.
// It is opened anew for each look, so that a drive letter mapped elsewhere
// leads there at once.
void LogCatalog::openRoot(CatalogLook& look)
{
    driveCall();
    look.calls += rootNamesOnShare_;
    UniqueFd root(::open(logFolder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root)
        throw folderFailure(errno, logFolder_);
    root_ = std::move(root);
}

// The log folder and the newest dated folder on each level, where new logs
// arrive: each reached from the one above it, one call for its name and one
// for its time.
void LogCatalog::checkNewest(CatalogLook& look)
{
    FolderLook top = lookFor("");
    UniqueFd above = lookAtFolder(root_.get(), ".", logFolder_, top);
    apply(top, look);
    for (std::string key; above;) {
        const std::vector<std::string> below = children(key);
        if (below.empty())
            return;
        const std::string newest = *std::max_element(below.begin(), below.end());
        FolderLook next = lookFor(newest);
        above = lookAtFolder(above.get(), newest.substr(key.size()), logFolder_, next);
        if (apply(next, look) == Seen::Gone)
            return;
        key = newest;
    }
}

// Folders never read, and on a warm start those not looked at since, newest
// first and several at a time, for a slice of time on a share (so that the
// newest logs show while older folders are read) and all at once on a local disk.
void LogCatalog::readUnchecked(CatalogLook& look)
{
    if (!nextUnchecked({}))
        return;
    const int lanes = look.local ? LocalLanes : ShareLanes;
    FolderLanes reads(root_.get(), logFolder_, lanes);
    std::set<std::string> posted;
    // Folders read in this slice that hold dated folders, held open: a folder
    // below one is reached by its own name alone, not by every name from the
    // log folder down, which on a share is a call each.
    std::map<std::string, std::shared_ptr<const UniqueFd>> heldAbove;
    const auto until = std::chrono::steady_clock::now() + ReadSlice;
    auto post = [&] {
        while (reads.pending() < 2 * lanes && (look.local || std::chrono::steady_clock::now() < until)) {
            const std::optional<std::string> next = nextUnchecked(posted);
            if (!next)
                return;
            posted.insert(*next);
            look.reading = dateOfFolder(*next);
            FolderLook folder = lookFor(*next);
            const size_t parentEnd = next->empty() ? 0 : next->rfind('/', next->size() - 2) + 1;
            if (const auto above = heldAbove.find(next->substr(0, parentEnd)); above != heldAbove.end()) {
                folder.from = above->second;
                folder.path = next->substr(parentEnd);
            }
            reads.post(std::move(folder));
        }
    };
    post();
    while (std::optional<FolderLook> done = reads.next()) {
        posted.erase(done->key);
        // A local disk asks nothing per name, and reads all at once: too many to hold.
        if (done->held && !look.local && heldAbove.size() < MaxHeldAbove)
            heldAbove[done->key] = std::move(done->held);
        // A folder forgotten meanwhile, with a folder above it, stays forgotten.
        if (folders_.contains(done->key))
            apply(*done, look);
        else
            look.calls += done->calls;
        post();
    }
}

// A look at `key` that reads it when its time is not the one it was read at.
FolderLook LogCatalog::lookFor(const std::string& key)
{
    const Folder& folder = folders_[key];
    FolderLook look;
    look.key = key;
    look.readAtNs = folder.modifiedNs;
    look.readAnyway = folder.racy;
    return look;
}

// What a look at a folder found goes into the catalog: a folder that is gone
// is forgotten with everything below it, one read anew replaces its logs and
// names its dated folders.
LogCatalog::Seen LogCatalog::apply(FolderLook& found, CatalogLook& look)
{
    look.calls += found.calls;
    const std::string& key = found.key;
    if (found.failure) {
        if (key.empty())
            throw *found.failure;
        forget(key);
        return Seen::Gone;
    }
    Folder& entry = folders_[key];
    entry.checkedAtS = clock_();
    if (!found.contents)
        return Seen::Unchanged;
    LogFolderContents& contents = *found.contents;
    for (const std::string& below : children(key)) {
        if (std::find(contents.datedFolders.begin(), contents.datedFolders.end(), below)
            == contents.datedFolders.end())
            forget(below);
    }
    const int64_t now = clock_();
    for (const std::string& below : contents.datedFolders) {
        if (folders_.try_emplace(below).second) {
            folders_[below].checkedAtS = now; // unread: modifiedNs -1 reads it
            unstored_.wholeFolders.insert(below);
        }
    }
    Folder& read = folders_[key];
    if (read.logs.empty())
        unstored_.wholeFolders.insert(key);
    else
        noteLogsThatCameAndWent(key, read.logs, contents.logs);
    // Kept, and so stored, in list order: a warm start then needs no sort.
    std::sort(contents.logs.begin(), contents.logs.end(), listedBefore);
    read.logs = std::move(contents.logs);
    read.modifiedNs = found.modifiedNs;
    read.racy = wallClockNs() - found.modifiedNs < RacyNs;
    unstored_.folderTimes.insert(key);
    changed_ = true;
    return Seen::Changed;
}

// Looks at one folder from the log folder, reading it again when its time
// changed. A dated folder that has gone takes with it the highest folder above
// it that has gone too, so that a removed year costs a few calls, not one per hour.
LogCatalog::Seen LogCatalog::check(const std::string& key, CatalogLook& look)
{
    FolderLook found = lookFor(key);
    lookAtFolder(root_.get(), key.empty() ? std::string(".") : key, logFolder_, found);
    if (found.failure && !key.empty() && found.failure->code() == FailureCode::PathNotFound)
        forgetGoneAbove(key, look);
    return apply(found, look);
}

void LogCatalog::forgetGoneAbove(const std::string& key, CatalogLook& look)
{
    for (size_t slash = key.find('/'); slash + 1 < key.size(); slash = key.find('/', slash + 1)) {
        const std::string above = key.substr(0, slash + 1);
        struct stat info {};
        driveCall();
        look.calls += static_cast<int>(std::count(above.begin(), above.end(), '/')) + 1;
        if (::fstatat(root_.get(), above.c_str(), &info, 0) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
            forget(above);
            return;
        }
    }
}

void LogCatalog::forget(const std::string& key)
{
    for (auto it = folders_.lower_bound(key); it != folders_.end() && (it->first == key || isBelow(it->first, key));) {
        for (const LogFile& log : it->second.logs)
            facts_.erase(log.path);
        unstored_.wholeFolders.insert(it->first);
        it = folders_.erase(it);
    }
    changed_ = true;
}

std::vector<std::string> LogCatalog::children(const std::string& key) const
{
    std::vector<std::string> below;
    for (auto it = folders_.upper_bound(key); it != folders_.end() && isBelow(it->first, key); ++it) {
        const std::string_view rest = std::string_view(it->first).substr(key.size());
        if (rest.find('/') == rest.size() - 1)
            below.push_back(it->first);
    }
    return below;
}

// Newest first: dated folders are named by time.
std::optional<std::string> LogCatalog::nextUnchecked(const std::set<std::string>& skip) const
{
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
        if ((it->second.modifiedNs < 0 || it->second.checkedAtS == 0) && !skip.contains(it->first))
            return it->first;
    }
    return std::nullopt;
}

std::shared_ptr<const std::vector<LogFile>> LogCatalog::sortedRows() const
{
    auto rows = std::make_shared<std::vector<LogFile>>();
    for (const auto& [key, folder] : folders_)
        rows->insert(rows->end(), folder.logs.begin(), folder.logs.end());
    ownWorkGoesOn();
    // Folders come in time order and each holds its logs sorted, so the list
    // mostly needs no sort at all.
    if (!std::is_sorted(rows->begin(), rows->end(), listedBefore))
        std::sort(rows->begin(), rows->end(), listedBefore);
    ownWorkGoesOn();
    return rows;
}

void LogCatalog::readTowards(const std::filesystem::path& logFolder, const std::vector<std::string>& datedPaths)
{
    const std::lock_guard lock(mutex_);
    if ((!loaded_ || logFolder != logFolder_) && lookLocked(logFolder).unsaved)
        storeLocked();
    CatalogLook look;
    openRoot(look);
    for (bool found = true; found;) {
        found = false;
        for (const auto& [key, folder] : folders_) {
            const bool leads = std::any_of(datedPaths.begin(), datedPaths.end(),
                                           [&](const std::string& path) { return path.starts_with(key); });
            if (folder.modifiedNs < 0 && leads) {
                check(key, look);
                found = true;
                break;
            }
        }
    }
    if (changed_) {
        rows_ = sortedRows();
        // The list learns of them with its next look.
        storeLocked();
    }
}

void LogCatalog::storeWhatChanged()
{
    const std::lock_guard lock(mutex_);
    storeLocked();
}

std::optional<LogFacts> LogCatalog::facts(const std::string& path)
{
    const std::lock_guard lock(mutex_);
    const auto found = facts_.find(path);
    if (found == facts_.end())
        return std::nullopt;
    return found->second;
}

} // namespace tarnveil
