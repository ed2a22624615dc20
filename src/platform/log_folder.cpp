#include "platform/log_folder.h"

#include "platform/drive_call.h"
#include "platform/failure.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

namespace tarnveil {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The formats libsndfile opens, under the extensions loggers give them.
bool hasAudioExtension(std::string_view name)
{
    static constexpr std::array<std::string_view, 12> Extensions{
        "wav", "mp3", "flac", "ogg", "oga", "opus", "aif", "aiff", "aifc", "au", "snd", "caf"};
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || name.size() - dot - 1 > 4)
        return false;
    char ext[5] = {};
    for (size_t i = dot + 1; i < name.size(); ++i)
        ext[i - dot - 1] = lowerAscii(name[i]);
    return std::find(Extensions.begin(), Extensions.end(), std::string_view(ext)) != Extensions.end();
}

// How far down the dated folders a walk has come; each level names the one
// below it: year, then month, day, hour. "YYYY-MM-DD" stands for three levels.
enum class Level { Logs, Year, Month, Day, Hour };

bool digitsOnly(std::string_view text, size_t count)
{
    return text.size() == count && std::all_of(text.begin(), text.end(), isDigit);
}

bool isDayFolder(std::string_view name)
{
    return name.size() == 10 && digitsOnly(name.substr(0, 4), 4) && name[4] == '-'
        && digitsOnly(name.substr(5, 2), 2) && name[7] == '-' && digitsOnly(name.substr(8, 2), 2);
}

// The level a sub-folder called `name` opens below `level`, or none.
bool datedLevelBelow(Level level, std::string_view name, Level& below)
{
    switch (level) {
    case Level::Logs:
        if (digitsOnly(name, 4)) {
            below = Level::Year;
            return true;
        }
        if (isDayFolder(name)) {
            below = Level::Day;
            return true;
        }
        return false;
    case Level::Year: below = Level::Month; return digitsOnly(name, 2);
    case Level::Month: below = Level::Day; return digitsOnly(name, 2);
    case Level::Day: below = Level::Hour; return digitsOnly(name, 2);
    case Level::Hour: return false;
    }
    return false;
}

// "2026-12-07 16" style text of a dated folder below `date` (the parent's text).
std::string datedText(const std::string& date, Level below, std::string_view name)
{
    if (below == Level::Hour)
        return date + ' ' + std::string(name);
    if (date.empty())
        return std::string(name);
    return date + '-' + std::string(name);
}

// A name that begins with a date and an hour ("2026-12-07-16...", "2026-12-07_16...")
// orders with the hour after a blank, as names from hour folders are written.
std::string orderKeyOf(const std::string& shown)
{
    if (shown.size() >= 13 && isDayFolder(std::string_view(shown).substr(0, 10)) && shown[10] != ' '
        && isDigit(shown[11]) && isDigit(shown[12])) {
        std::string key = shown;
        key[10] = ' ';
        return key;
    }
    return {};
}

struct Walk {
    std::vector<LogFile> logs;
    // Only the newest dated folder of each kind is entered on each level, as
    // far as one that holds a log: enough to find the newest log.
    bool newestOnly = false;
    // No dated folder is entered; they are only named, in `shallowFolders`.
    bool shallow = false;
    std::vector<std::string> shallowFolders;
    // The size of the listing as a share sends it (each entry's name, padded,
    // after a 24-byte head): what it costs in pages.
    int64_t listedBytes = 0;

    // Lists `folder` (already open as `dir`); `relative` is its path below the
    // log folder ("" or "2026/12/"), `date` the date its dated folders give.
    void list(DIR* dir, const std::filesystem::path& folder, const std::string& relative, Level level,
              const std::string& date)
    {
        const int dirFd = ::dirfd(dir);
        std::vector<std::pair<Level, std::string>> datedFolders;
        for (;;) {
            driveCall();
            errno = 0;
            const dirent* entry = ::readdir(dir);
            if (entry == nullptr) {
                if (errno != 0)
                    throw folderFailure(errno, folder);
                break;
            }
            const std::string_view name(entry->d_name);
            listedBytes += static_cast<int64_t>((24 + name.size() + 7) & ~size_t{7});
            if (name == "." || name == "..")
                continue;
            Level below{};
            const bool audio = hasAudioExtension(name);
            const bool dated = !audio && datedLevelBelow(level, name, below);
            if (!audio && !dated)
                continue;

            // The entry type saves a stat per file on most file systems; links
            // and file systems that do not report the type need a look at the target.
            unsigned char type = entry->d_type;
            if (type == DT_LNK || type == DT_UNKNOWN) {
                struct stat info {};
                driveCall();
                type = ::fstatat(dirFd, entry->d_name, &info, 0) != 0 ? DT_UNKNOWN
                    : S_ISREG(info.st_mode)                          ? DT_REG
                    : S_ISDIR(info.st_mode)                          ? DT_DIR
                                                                     : DT_UNKNOWN;
            }
            if (audio && type == DT_REG)
                addFile(relative, level, date, name);
            else if (dated && type == DT_DIR && shallow)
                shallowFolders.push_back(relative + std::string(name) + '/');
            else if (dated && type == DT_DIR && newestOnly)
                datedFolders.emplace_back(below, std::string(name));
            else if (dated && type == DT_DIR)
                descend(dirFd, folder, relative, below, datedText(date, below, name), name);
        }
        descendNewest(dirFd, folder, relative, date, datedFolders);
    }

    void descendNewest(int dirFd, const std::filesystem::path& folder, const std::string& relative,
                       const std::string& date, std::vector<std::pair<Level, std::string>>& datedFolders)
    {
        // Newest first within each kind (year folders, day folders, ...); the
        // newest that holds a log ends its kind.
        std::sort(datedFolders.begin(), datedFolders.end(), std::greater<>());
        std::optional<Level> kindFound;
        for (const auto& [below, name] : datedFolders) {
            if (kindFound == below)
                continue;
            const size_t before = logs.size();
            descend(dirFd, folder, relative, below, datedText(date, below, name), name);
            if (logs.size() > before)
                kindFound = below;
        }
    }

    void addFile(const std::string& relative, Level level, const std::string& date, std::string_view name)
    {
        LogFile log;
        log.path = relative + std::string(name);
        // A name that already tells its day needs no date in front of it.
        if (level != Level::Logs) {
            if (date.size() >= 10 && name.substr(0, 10) == std::string_view(date).substr(0, 10))
                log.label = std::string(name);
            else
                log.label = date + ' ' + std::string(name);
        }
        log.order = orderKeyOf(log.shown());
        logs.push_back(std::move(log));
    }

    void descend(int parentFd, const std::filesystem::path& parent, const std::string& relative, Level level,
                 const std::string& date, std::string_view name)
    {
        driveCall();
        const int fd = ::openat(parentFd, std::string(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return;
        DirHandle dir(::fdopendir(fd));
        if (!dir) {
            ::close(fd);
            return;
        }
        try {
            list(dir.get(), parent / std::string(name), relative + std::string(name) + '/', level, date);
        } catch (const Failure&) {
            // One unreadable dated folder does not hide the others.
        }
    }
};

} // namespace

Failure folderFailure(int errnoValue, const std::filesystem::path& folder)
{
    if (errnoValue == ENOENT || errnoValue == ENOTDIR)
        return Failure(FailureCode::PathNotFound, folder.native());
    return failureFromErrno(errnoValue, folder.native());
}

bool listedBefore(const LogFile& a, const LogFile& b)
{
    if (const int order = a.orderKey().compare(b.orderKey()); order != 0)
        return order < 0;
    if (const int shown = a.shown().compare(b.shown()); shown != 0)
        return shown < 0;
    return a.path < b.path;
}

std::vector<LogFile> listLogs(const std::filesystem::path& folder)
{
    driveCall();
    DirHandle dir(::opendir(folder.c_str()));
    if (!dir)
        throw folderFailure(errno, folder);
    Walk walk;
    walk.list(dir.get(), folder, std::string(), Level::Logs, std::string());
    std::sort(walk.logs.begin(), walk.logs.end(), listedBefore);
    return std::move(walk.logs);
}

std::optional<LogFile> newestLog(const std::filesystem::path& folder)
{
    driveCall();
    DirHandle dir(::opendir(folder.c_str()));
    if (!dir)
        throw folderFailure(errno, folder);
    Walk walk;
    walk.newestOnly = true;
    walk.list(dir.get(), folder, std::string(), Level::Logs, std::string());
    if (walk.logs.empty())
        return std::nullopt;
    return *std::max_element(walk.logs.begin(), walk.logs.end(), listedBefore);
}

LogFolderContents readLogFolderAt(int folderFd, const std::filesystem::path& logFolder, const std::string& relative)
{
    // The level and date of a dated folder follow from the names above it.
    Level level = Level::Logs;
    std::string date;
    std::string_view rest = relative;
    for (size_t slash = rest.find('/'); slash != std::string_view::npos; slash = rest.find('/')) {
        const std::string_view name = rest.substr(0, slash);
        Level below{};
        if (!datedLevelBelow(level, name, below))
            throw Failure(FailureCode::PathNotFound, (logFolder / relative).native());
        date = datedText(date, below, name);
        level = below;
        rest.remove_prefix(slash + 1);
    }
    const std::filesystem::path folder = logFolder / relative;
    driveCall();
    const int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw folderFailure(errno, folder);
    DirHandle dir(::fdopendir(fd));
    if (!dir) {
        const int error = errno;
        ::close(fd);
        throw folderFailure(error, folder);
    }
    Walk walk;
    walk.shallow = true;
    walk.list(dir.get(), folder, relative, level, date);
    // A share hands a listing out a page at a time, and one more page to say it ended.
    constexpr int64_t PageBytes = 4096;
    const int pages = static_cast<int>(walk.listedBytes / PageBytes) + 2;
    return LogFolderContents{std::move(walk.logs), std::move(walk.shallowFolders), pages};
}

std::vector<std::filesystem::path> newestLogFolders(const std::filesystem::path& folder,
                                                    const std::vector<LogFile>& logs)
{
    std::vector<std::filesystem::path> folders{folder};
    // The list is in time order, so the last dated log lies in the newest folders.
    const auto newest = std::find_if(logs.rbegin(), logs.rend(),
                                     [](const LogFile& log) { return log.path.find('/') != std::string::npos; });
    if (newest == logs.rend())
        return folders;
    std::filesystem::path below = folder;
    std::string_view rest = newest->path;
    for (size_t slash = rest.find('/'); slash != std::string_view::npos; slash = rest.find('/')) {
        below /= std::string(rest.substr(0, slash));
        folders.push_back(below);
        rest.remove_prefix(slash + 1);
    }
    return folders;
}

} // namespace tarnveil
