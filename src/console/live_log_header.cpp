#include "console/live_log_header.h"

#include "console/cur_file.h"
#include "console/module1.h"
#include "console/wave_header.h"
#include "platform/drive_map.h"
#include "platform/failure.h"
#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <vector>

namespace tarnveil {

namespace {

// Reads up to `count` bytes from `offset`, fewer only at the end of the file.
size_t readAt(int fd, uint8_t* into, size_t count, off_t offset, const std::string& name)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd, into + done, count - done, offset + static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw failureFromErrno(errno, name);
        }
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    return done;
}

void writeLe32At(int fd, uint32_t value, uint64_t offset, const std::string& name)
{
    const std::array<uint8_t, 4> bytes{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                       static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                     static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            throw failureFromErrno(errno, name);
        }
        if (put == 0)
            throw Failure(FailureCode::DeviceIoError, name);
        done += static_cast<size_t>(put);
    }
}

bool isFolder(const std::filesystem::path& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The name CurFile gives, or std::nullopt when there is no CurFile in a
// reachable logger folder (the logger is not recording).
std::optional<std::string> readCurFile(const DriveMap& drives, const std::string& loggerDrive)
{
    const std::string curFileName = loggerDrive + ":\\logger\\CurFile";
    const std::filesystem::path curFile = drives.resolve(curFileName);
    // No lock and no write access: the logger keeps CurFile open and rewrites it.
    UniqueFd fd(::open(curFile.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        const int error = errno;
        if (error == ENOENT) {
            const std::string folderName = loggerDrive + ":\\logger";
            if (isFolder(drives.resolve(folderName)))
                return std::nullopt;
            throw Failure(FailureCode::PathNotFound, folderName);
        }
        throw failureFromErrno(error, curFileName);
    }
    std::array<uint8_t, CurFileReadSize> bytes{};
    const size_t got = readAt(fd.get(), bytes.data(), bytes.size(), 0, curFileName);
    return parseCurFile(std::span<const uint8_t>(bytes.data(), got));
}

// Rewrites the RIFF and data sizes from the length now, touching those 8 bytes
// only; the logger may be appending meanwhile, so nothing else is written and
// the file is never lengthened or cut. A header of a shape we do not know is
// left alone: the player decides what to make of such a file.
void rewriteSizes(const DriveMap& drives, const std::string& logPath)
{
    const std::filesystem::path log = drives.resolve(logPath);
    UniqueFd fd(::open(log.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd)
        throw failureFromErrno(errno, logPath);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        throw failureFromErrno(errno, logPath);
    if (!S_ISREG(info.st_mode))
        return;
    const auto length = static_cast<uint64_t>(info.st_size);

    std::vector<uint8_t> head(std::min<uint64_t>(length, WaveHeaderReadLimit));
    head.resize(readAt(fd.get(), head.data(), head.size(), 0, logPath));
    const std::optional<WaveSizeFix> fix = locateWaveSizes(head, length);
    if (!fix)
        return;
    writeLe32At(fd.get(), fix->riffSize, 4, logPath);
    writeLe32At(fd.get(), fix->dataSize, fix->dataSizeOffset, logPath);
}

} // namespace

void FixLiveLogHeader(Module1& module, const std::string& selectedLogPath)
{
    const std::optional<std::string> liveName = readCurFile(module.drives, module.LoggerDrive);
    module.CurrentLogPath = module.LoggerDrive + liveName.value_or(std::string());
    if (!liveName || liveName->empty() || module.CurrentLogPath != selectedLogPath)
        return;
    rewriteSizes(module.drives, selectedLogPath);
}

std::optional<std::filesystem::path> currentLiveLog(const DriveMap& drives, const std::string& loggerDrive)
{
    const std::optional<std::string> liveName = readCurFile(drives, loggerDrive);
    if (!liveName || liveName->empty())
        return std::nullopt;
    return drives.resolve(loggerDrive + *liveName);
}

} // namespace tarnveil
