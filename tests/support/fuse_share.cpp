#include "support/fuse_share.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace tarnveil::test {

namespace {

bool mounted(const std::filesystem::path& folder)
{
    std::ifstream mounts("/proc/self/mounts");
    std::string device;
    std::string point;
    std::string rest;
    while (mounts >> device >> point && std::getline(mounts, rest)) {
        if (point == folder.string())
            return true;
    }
    return false;
}

void detach(const std::filesystem::path& folder)
{
    if (::umount2(folder.c_str(), MNT_DETACH) == 0 || !mounted(folder))
        return;
    // Without the right to unmount, the FUSE helper may.
    const std::string command = "fusermount -uz '" + folder.string() + "' 2>/dev/null";
    [[maybe_unused]] const int ignored = std::system(command.c_str());
}

} // namespace

std::string FuseShare::unavailable(const std::string& program)
{
    const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse < 0)
        return "FUSE cannot run here: /dev/fuse is not usable";
    ::close(fuse);
    if (::access(program.c_str(), X_OK) != 0)
        return "FUSE share tests need " + program + " (scripts/install-deps.sh test; cmake --build)";
    return {};
}

FuseShare::FuseShare(const std::filesystem::path& source)
    : FuseShare(Bindfs, {"-f", "--no-allow-other", "-o", "direct_io", source.string()})
{
}

FuseShare::FuseShare(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<std::string> command{program};
    command.insert(command.end(), arguments.begin(), arguments.end());
    command.push_back(mountPoint().string());
    std::vector<char*> argv;
    for (std::string& word : command)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const pid_t parent = ::getpid();
    server_ = ::fork();
    if (server_ < 0)
        throw std::runtime_error("cannot start " + program);
    if (server_ == 0) {
        // A test that crashes must not leave a share behind that nobody thaws.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!mounted(mountPoint())) {
        int status = 0;
        if (::waitpid(server_, &status, WNOHANG) == server_ || std::chrono::steady_clock::now() > giveUp) {
            ::kill(server_, SIGKILL);
            ::waitpid(server_, nullptr, 0);
            server_ = -1;
            throw std::runtime_error(program + " did not mount " + mountPoint().string());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

FuseShare::~FuseShare()
{
    stopWatchdog();
    if (server_ < 0)
        return;
    // Detached first, so that nothing new walks into the mount; killing the
    // server then fails whatever still waits on it, even while frozen.
    detach(mountPoint());
    ::kill(server_, SIGKILL);
    ::kill(server_, SIGCONT);
    ::waitpid(server_, nullptr, 0);
}

void FuseShare::freeze(std::chrono::seconds thawAfter)
{
    stopWatchdog();
    ::kill(server_, SIGSTOP);
    // The stop takes effect asynchronously; a call made right after must already find it stopped.
    siginfo_t info{};
    ::waitid(P_PID, static_cast<id_t>(server_), &info, WSTOPPED);
    frozen_ = true;
    watchdog_ = std::thread([this, thawAfter] {
        std::unique_lock lock(mutex_);
        if (!wake_.wait_for(lock, thawAfter, [this] { return !frozen_; })) {
            frozen_ = false;
            ::kill(server_, SIGCONT);
        }
    });
}

void FuseShare::thaw()
{
    stopWatchdog();
    ::kill(server_, SIGCONT);
}

bool FuseShare::frozen()
{
    std::lock_guard lock(mutex_);
    return frozen_;
}

void FuseShare::stopWatchdog()
{
    {
        std::lock_guard lock(mutex_);
        frozen_ = false;
    }
    wake_.notify_all();
    if (watchdog_.joinable())
        watchdog_.join();
}

} // namespace tarnveil::test
