#include "catalog/folder_look.h"

#include "platform/drive_call.h"
#include "platform/modified_time.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace tarnveil {

UniqueFd lookAtFolder(int fromFd, const std::string& path, const std::filesystem::path& logFolder,
                      FolderLook& look)
{
    const std::filesystem::path folder = logFolder / look.key;
    driveCall();
    look.calls += static_cast<int>(std::count(path.begin(), path.end(), '/'))
        + (path == "." || path.ends_with('/') ? 0 : 1);
    UniqueFd held(::openat(fromFd, path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!held) {
        look.failure = folderFailure(errno, folder);
        return {};
    }
    struct stat info {};
    driveCall();
    ++look.calls;
    if (::fstat(held.get(), &info) != 0 || info.st_nlink == 0) {
        // A folder removed while held open still answers, with no links left.
        look.failure = folderFailure(info.st_nlink == 0 ? ENOENT : errno, folder);
        return {};
    }
    look.modifiedNs = tarnveil::modifiedNs(info);
    if (look.modifiedNs == look.readAtNs && !look.readAnyway)
        return held;
    try {
        look.contents = readLogFolderAt(held.get(), logFolder, look.key);
        // Opening it, the look at it that opening a listing takes, and closing it.
        look.calls += 3 + look.contents->pages;
    } catch (const Failure& failure) {
        look.failure = failure;
        return {};
    }
    return held;
}

} // namespace tarnveil
