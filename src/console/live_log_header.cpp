#include "console/live_log_header.h"

#include "console/cur_file.h"
#include "program/module1.h"
#include "console/wave_header.h"
#include "platform/drive_map.h"
#include "platform/failure.h"
#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

struct stat statOf(int fd, const std::string& name)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        throw failureFromErrno(errno, name);
    return info;
}

bool isFolder(const std::filesystem::path& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

uint32_t storedLe32At(int fd, uint64_t offset, const std::string& name)
{
    std::array<uint8_t, 4> bytes{};
    if (readAt(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset), name) < bytes.size())
        throw Failure(FailureCode::InputPastEnd, name);
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8
        | static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The name CurFile gives, or std::nullopt when there is no CurFile in a
// reachable logger folder (the logger is not recording).
std::optional<std::string> readCurFile(const LoggerPlaces& places)
{
    std::optional<std::string> name = readCurFileAt(places.curFile, places.loggerDrive + ":\\logger\\CurFile");
    if (!name && !isFolder(places.loggerFolder))
        throw Failure(FailureCode::PathNotFound, places.loggerDrive + ":\\logger");
    return name;
}

// Rewrites the RIFF and data sizes from the length now, touching those 8 bytes
// only; the logger may be appending meanwhile, so nothing else is written and
// the file is never lengthened or cut. A header of a shape we do not know is
// left alone: the player decides what to make of such a file.
//
// CurFile may still name a log the logger has finished (it stopped before
// rewriting CurFile), and a finished log may carry chunks after its audio:
// sizes worked out from the length would swallow those into the audio for
// good. So a header that already accounts for the whole file is left as it
// is, and so is one to which the logger has meanwhile given sizes at least as
// large as ours: a header never comes to claim less than it did.
void rewriteSizes(const std::string& logPath, const std::filesystem::path& log)
{
    UniqueFd fd(::open(log.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
    if (!fd)
        throw failureFromErrno(errno, logPath);
    const struct stat info = statOf(fd.get(), logPath);
    if (!S_ISREG(info.st_mode))
        return;

    std::vector<uint8_t> head(std::min<uint64_t>(static_cast<uint64_t>(info.st_size), WaveHeaderReadLimit));
    head.resize(readAt(fd.get(), head.data(), head.size(), 0, logPath));
    // The sizes come from the length of this moment and the fields are read
    // again now, as late as can be: the logger may finish the log at any time
    // (reading the head from a share takes a while), and its sizes must stand.
    const auto length = static_cast<uint64_t>(statOf(fd.get(), logPath).st_size);
    const std::optional<WaveSizeFix> fix = locateWaveSizes(head, length);
    if (!fix)
        return;
    if (storedLe32At(fd.get(), 4, logPath) >= fix->riffSize
        || storedLe32At(fd.get(), fix->dataSizeOffset, logPath) >= fix->dataSize)
        return;
    // The two fields are never adjacent (the format chunk lies between them),
    // and the bytes between are not ours to write back: two writes.
    writeLe32At(fd.get(), fix->riffSize, 4, logPath);
    writeLe32At(fd.get(), fix->dataSize, fix->dataSizeOffset, logPath);
}

} // namespace

LoggerPlaces LoggerPlaces::of(const Module1& module)
{
    return of(module.drives, module.LoggerDrive);
}

LoggerPlaces LoggerPlaces::of(const DriveMap& drives, const std::string& loggerDrive)
{
    const std::string logger = loggerDrive + ":\\logger";
    return LoggerPlaces{loggerDrive, drives.resolve(logger), drives.resolve(logger + "\\CurFile"),
                        drives.resolve(logger + "\\logs")};
}

std::string LoggerPlaces::drivePath(const std::string& listedName) const
{
    std::string path = logFolderDrivePath() + "\\" + listedName;
    std::replace(path.end() - static_cast<std::ptrdiff_t>(listedName.size()), path.end(), '/', '\\');
    return path;
}

std::string LoggerPlaces::logFolderDrivePath() const
{
    return loggerDrive + ":\\logger\\logs";
}

std::optional<std::string> LoggerPlaces::listedNameOf(const std::string& drivePath) const
{
    const std::string folder = logFolderDrivePath() + "\\";
    if (!drivePath.starts_with(folder))
        return std::nullopt;
    std::string name = drivePath.substr(folder.size());
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

std::filesystem::path LoggerPlaces::file(const std::string& listedName) const
{
    return logFolder / listedName;
}

std::string LoggerPlaces::listedName(const std::filesystem::path& file) const
{
    const std::filesystem::path below = file.lexically_relative(logFolder);
    if (below.empty() || *below.begin() == "..")
        return file.filename().string();
    return below.generic_string();
}

std::string fixLiveLogHeader(const LoggerPlaces& places, const std::string& selectedLogPath,
                             const std::filesystem::path& selectedLog)
{
    const std::optional<std::string> liveName = readCurFile(places);
    const std::string currentLogPath = places.loggerDrive + liveName.value_or(std::string());
    if (liveName && !liveName->empty() && currentLogPath == selectedLogPath)
        rewriteSizes(selectedLogPath, selectedLog);
    return currentLogPath;
}

void FixLiveLogHeader(Module1& module, const std::string& selectedLogPath)
{
    const LoggerPlaces places = LoggerPlaces::of(module);
    // A drive path that leads nowhere names no file. It is no failure unless
    // CurFile names it, and then opening the empty path fails in its place.
    std::filesystem::path selectedLog;
    try {
        selectedLog = module.drives.resolve(selectedLogPath);
    } catch (const Failure&) {
    }
    module.CurrentLogPath = fixLiveLogHeader(places, selectedLogPath, selectedLog);
}

std::optional<std::filesystem::path> currentLiveLog(const DriveMap& drives, const std::string& loggerDrive)
{
    const std::optional<std::string> liveName = readCurFile(LoggerPlaces::of(drives, loggerDrive));
    if (!liveName || liveName->empty())
        return std::nullopt;
    return drives.resolve(loggerDrive + *liveName);
}

} // namespace tarnveil
