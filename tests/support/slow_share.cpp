#include "support/slow_share.h"

#include <fcntl.h>
#include <unistd.h>

namespace tarnveil::test {

namespace {

const char* const Server = SLOW_SHARE_SERVER;

std::filesystem::path counterFile(const TempDir& folder)
{
    return folder / "calls";
}

} // namespace

std::string SlowShare::unavailable()
{
    return FuseShare::unavailable(Server);
}

SlowShare::SlowShare(const std::filesystem::path& source, std::chrono::milliseconds delay, Access access)
    : share_(Server, {access == Access::ReadOnly ? "--read-only" : "--read-write", "--delay-ms",
                      std::to_string(delay.count()), "--counter", counterFile(counterDir_).string(),
                      source.string()})
{
}

std::uint64_t SlowShare::calls() const
{
    std::uint64_t count = 0;
    const int fd = ::open(counterFile(counterDir_).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        if (::pread(fd, &count, sizeof count, 0) != sizeof count)
            count = 0;
        ::close(fd);
    }
    return count;
}

} // namespace tarnveil::test
