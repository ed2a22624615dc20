#include "console/cur_file.h"

#include "platform/failure.h"
#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace tarnveil {

std::string parseCurFile(std::span<const uint8_t> bytes)
{
    if (bytes.empty())
        return {};
    // A count cut short after its first byte reads its missing byte as 0, the
    // way any byte beyond the end of a record file does.
    const size_t count = bytes[0] | (bytes.size() > 1 ? static_cast<size_t>(bytes[1]) << 8 : 0);
    if (count > CurFileMaxName)
        throw Failure(FailureCode::InvalidFileFormat, "CurFile names " + std::to_string(count) + " characters");
    if (count == 0)
        return {};
    if (bytes.size() < 2 + count)
        throw Failure(FailureCode::InputPastEnd, "CurFile");
    return std::string(reinterpret_cast<const char*>(bytes.data()) + 2, count);
}

std::optional<std::string> readCurFileAt(const std::filesystem::path& curFile, const std::string& shown)
{
    // No lock and no write access: the logger keeps CurFile open and rewrites it.
    UniqueFd fd(::open(curFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        if (errno == ENOENT)
            return std::nullopt;
        throw failureFromErrno(errno, shown);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        throw failureFromErrno(errno, shown);
    if (!S_ISREG(info.st_mode))
        throw Failure(FailureCode::InvalidFileFormat, shown + " is not a regular file");
    std::array<uint8_t, CurFileReadSize> bytes{};
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t read = ::pread(fd.get(), bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
        if (read < 0 && errno == EINTR)
            continue;
        if (read < 0)
            throw failureFromErrno(errno, shown);
        if (read == 0)
            break;
        got += static_cast<size_t>(read);
    }
    return parseCurFile(std::span<const uint8_t>(bytes.data(), got));
}

} // namespace tarnveil
