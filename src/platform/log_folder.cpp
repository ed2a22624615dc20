#include "platform/log_folder.h"

#include "platform/failure.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace tarnveil {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

bool hasWaveExtension(const char* name, size_t length)
{
    if (length < 4)
        return false;
    const char* ext = name + length - 4;
    auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); };
    return ext[0] == '.' && lower(ext[1]) == 'w' && lower(ext[2]) == 'a' && lower(ext[3]) == 'v';
}

// A folder that is not there reads as a missing path to the operator, not as a
// missing file.
Failure folderFailure(int errnoValue, const std::filesystem::path& folder)
{
    if (errnoValue == ENOENT || errnoValue == ENOTDIR)
        return Failure(FailureCode::PathNotFound, folder.native());
    return failureFromErrno(errnoValue, folder.native());
}

} // namespace

std::vector<std::string> listWaveFiles(const std::filesystem::path& folder)
{
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir)
        throw folderFailure(errno, folder);
    const int dirFd = ::dirfd(dir.get());

    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0)
                throw folderFailure(errno, folder);
            break;
        }
        const size_t length = std::char_traits<char>::length(entry->d_name);
        if (!hasWaveExtension(entry->d_name, length))
            continue;

        // The entry type saves a stat per file on most file systems; links and
        // file systems that do not report the type need a look at the target.
        bool plainFile = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat info {};
            plainFile = ::fstatat(dirFd, entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
        }
        if (plainFile)
            names.emplace_back(entry->d_name, length);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace tarnveil
