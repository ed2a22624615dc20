#include "support/bind_mount.h"

#include <signal.h>
#include <sys/mount.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace tarnveil::test {

namespace {

constexpr long FuseMagic = 0x65735546;

bool onFuse(const std::filesystem::path& folder)
{
    struct statfs info {};
    return ::statfs(folder.c_str(), &info) == 0 && info.f_type == FuseMagic;
}

} // namespace

BindMount::BindMount(const std::filesystem::path& source, const std::filesystem::path& mountPoint)
    : mountPoint_(mountPoint)
{
    if (::geteuid() != 0) {
        why_ = "mounting with bindfs needs root";
        return;
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        why_ = "/dev/fuse is not usable here";
        return;
    }
    if (std::system("command -v bindfs >/dev/null 2>&1") != 0) {
        why_ = "bindfs is not installed";
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::execlp("bindfs", "bindfs", "-f", source.c_str(), mountPoint.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 100 && !onFuse(mountPoint); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    mounted_ = onFuse(mountPoint);
    if (!mounted_)
        why_ = "bindfs could not mount (no FUSE in this container?)";
}

BindMount::~BindMount()
{
    thaw();
    if (mounted_)
        ::umount2(mountPoint_.c_str(), MNT_DETACH);
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

void BindMount::freeze()
{
    std::lock_guard lock(mutex_);
    if (frozen_ || pid_ <= 0)
        return;
    ::kill(pid_, SIGSTOP);
    frozen_ = true;
    // Should the test never get to thaw it, the mount must not stay frozen.
    watchdog_ = std::thread([this] {
        std::unique_lock wait(mutex_);
        if (!thawed_.wait_for(wait, std::chrono::seconds(60), [this] { return !frozen_; }))
            ::kill(pid_, SIGCONT);
    });
}

void BindMount::thaw()
{
    {
        std::lock_guard lock(mutex_);
        if (!frozen_)
            return;
        ::kill(pid_, SIGCONT);
        frozen_ = false;
    }
    thawed_.notify_all();
    watchdog_.join();
}

} // namespace tarnveil::test
