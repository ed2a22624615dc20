// A FUSE passthrough that answers like a share across a building: every call
// waits a fixed delay before it is served, and every call is counted in a
// file outside the mount, so that whoever watches the share can read how busy
// a program keeps it without making calls on it.
//
// Usage: slow_share --read-only|--read-write --delay-ms N --counter FILE SOURCE MOUNTPOINT
//
// It runs in the foreground and dies with the process that started it; the
// mount goes with it (auto_unmount), however it dies. SIGTERM unmounts cleanly.

#define FUSE_USE_VERSION 312
#include <fuse.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Share {
    int root = -1;
    std::chrono::milliseconds delay{0};
    std::uint64_t* calls = nullptr;
};

Share share;

// Every call the kernel passes on costs the delay, as a round trip would.
void answerSlowly()
{
    std::atomic_ref<std::uint64_t>(*share.calls).fetch_add(1, std::memory_order_relaxed);
    std::this_thread::sleep_for(share.delay);
}

// Paths come as "/a/b"; everything is served relative to the source folder.
const char* below(const char* path)
{
    return path[1] != '\0' ? path + 1 : ".";
}

int result(int returned)
{
    return returned < 0 ? -errno : 0;
}

struct Entry {
    std::string name;
    mode_t type;
};

// A folder's listing is taken whole at opendir and handed out page by page, so
// that each page the kernel asks for is one call, as on a real share.
using Listing = std::vector<Entry>;

void* init(fuse_conn_info*, fuse_config* config)
{
    // Nothing is remembered by the kernel: every look at a file and every read
    // reaches the share, so a frozen share stalls whoever touches it.
    config->entry_timeout = 0;
    config->attr_timeout = 0;
    config->negative_timeout = 0;
    config->direct_io = 1;
    return nullptr;
}

int getattr(const char* path, struct stat* st, fuse_file_info* file)
{
    answerSlowly();
    if (file)
        return result(::fstat(static_cast<int>(file->fh), st));
    return result(::fstatat(share.root, below(path), st, AT_SYMLINK_NOFOLLOW));
}

int access(const char* path, int mask)
{
    answerSlowly();
    return result(::faccessat(share.root, below(path), mask, 0));
}

int readlink(const char* path, char* buffer, size_t size)
{
    answerSlowly();
    const ssize_t length = ::readlinkat(share.root, below(path), buffer, size - 1);
    if (length < 0)
        return -errno;
    buffer[length] = '\0';
    return 0;
}

int mkdir(const char* path, mode_t mode)
{
    answerSlowly();
    return result(::mkdirat(share.root, below(path), mode));
}

int unlink(const char* path)
{
    answerSlowly();
    return result(::unlinkat(share.root, below(path), 0));
}

int rmdir(const char* path)
{
    answerSlowly();
    return result(::unlinkat(share.root, below(path), AT_REMOVEDIR));
}

int symlink(const char* target, const char* path)
{
    answerSlowly();
    return result(::symlinkat(target, share.root, below(path)));
}

int rename(const char* from, const char* to, unsigned int flags)
{
    answerSlowly();
    if (flags != 0)
        return -EINVAL;
    return result(::renameat(share.root, below(from), share.root, below(to)));
}

int chmod(const char* path, mode_t mode, fuse_file_info*)
{
    answerSlowly();
    return result(::fchmodat(share.root, below(path), mode, 0));
}

int truncate(const char* path, off_t size, fuse_file_info* file)
{
    answerSlowly();
    if (file)
        return result(::ftruncate(static_cast<int>(file->fh), size));
    const int fd = ::openat(share.root, below(path), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    const int done = result(::ftruncate(fd, size));
    ::close(fd);
    return done;
}

int utimens(const char* path, const timespec times[2], fuse_file_info*)
{
    answerSlowly();
    return result(::utimensat(share.root, below(path), times, AT_SYMLINK_NOFOLLOW));
}

int open(const char* path, fuse_file_info* file)
{
    answerSlowly();
    const int fd = ::openat(share.root, below(path), file->flags | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    file->fh = static_cast<uint64_t>(fd);
    return 0;
}

int create(const char* path, mode_t mode, fuse_file_info* file)
{
    answerSlowly();
    const int fd = ::openat(share.root, below(path), file->flags | O_CREAT | O_CLOEXEC, mode);
    if (fd < 0)
        return -errno;
    file->fh = static_cast<uint64_t>(fd);
    return 0;
}

int read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* file)
{
    answerSlowly();
    const ssize_t got = ::pread(static_cast<int>(file->fh), buffer, size, offset);
    return got < 0 ? -errno : static_cast<int>(got);
}

int write(const char*, const char* buffer, size_t size, off_t offset, fuse_file_info* file)
{
    answerSlowly();
    const ssize_t put = ::pwrite(static_cast<int>(file->fh), buffer, size, offset);
    return put < 0 ? -errno : static_cast<int>(put);
}

int statfs(const char*, struct statvfs* info)
{
    answerSlowly();
    return result(::fstatvfs(share.root, info));
}

int release(const char*, fuse_file_info* file)
{
    answerSlowly();
    ::close(static_cast<int>(file->fh));
    return 0;
}

int fsync(const char*, int dataOnly, fuse_file_info* file)
{
    answerSlowly();
    const int fd = static_cast<int>(file->fh);
    return result(dataOnly ? ::fdatasync(fd) : ::fsync(fd));
}

int opendir(const char* path, fuse_file_info* file)
{
    answerSlowly();
    const int fd = ::openat(share.root, below(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::fdopendir(fd), ::closedir);
    if (!folder) {
        ::close(fd);
        return -errno;
    }
    auto listing = std::make_unique<Listing>();
    while (const dirent* entry = ::readdir(folder.get()))
        listing->push_back({entry->d_name, static_cast<mode_t>(DTTOIF(entry->d_type))});
    file->fh = reinterpret_cast<uint64_t>(listing.release());
    return 0;
}

int readdir(const char*, void* buffer, fuse_fill_dir_t fill, off_t offset, fuse_file_info* file,
            fuse_readdir_flags)
{
    answerSlowly();
    const Listing& listing = *reinterpret_cast<const Listing*>(file->fh);
    for (std::size_t i = static_cast<std::size_t>(offset); i < listing.size(); ++i) {
        struct stat st {};
        st.st_mode = listing[i].type;
        if (fill(buffer, listing[i].name.c_str(), &st, static_cast<off_t>(i + 1), fuse_fill_dir_flags{}) != 0)
            break;
    }
    return 0;
}

int releasedir(const char*, fuse_file_info* file)
{
    answerSlowly();
    delete reinterpret_cast<Listing*>(file->fh);
    return 0;
}

fuse_operations operations()
{
    fuse_operations ops{};
    ops.init = init;
    ops.getattr = getattr;
    ops.access = access;
    ops.readlink = readlink;
    ops.mkdir = mkdir;
    ops.unlink = unlink;
    ops.rmdir = rmdir;
    ops.symlink = symlink;
    ops.rename = rename;
    ops.chmod = chmod;
    ops.truncate = truncate;
    ops.utimens = utimens;
    ops.open = open;
    ops.create = create;
    ops.read = read;
    ops.write = write;
    ops.statfs = statfs;
    ops.release = release;
    ops.fsync = fsync;
    ops.opendir = opendir;
    ops.readdir = readdir;
    ops.releasedir = releasedir;
    return ops;
}

struct Options {
    enum { Unset, ReadOnly, ReadWrite } access = Unset;
    long delayMs = -1;
    const char* counter = nullptr;
    const char* source = nullptr;
    const char* mountPoint = nullptr;
};

bool parse(int argc, char** argv, Options& options)
{
    std::vector<const char*> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--read-only")
            options.access = Options::ReadOnly;
        else if (arg == "--read-write")
            options.access = Options::ReadWrite;
        else if (arg == "--delay-ms" && i + 1 < argc)
            options.delayMs = std::strtol(argv[++i], nullptr, 10);
        else if (arg == "--counter" && i + 1 < argc)
            options.counter = argv[++i];
        else
            positional.push_back(argv[i]);
    }
    if (positional.size() != 2 || options.access == Options::Unset || options.delayMs < 0 || !options.counter)
        return false;
    options.source = positional[0];
    options.mountPoint = positional[1];
    return true;
}

// The count lives in a mapped file, so a reader sees it current without a call to us.
std::uint64_t* mapCounter(const char* path)
{
    const int fd = ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::ftruncate(fd, sizeof(std::uint64_t)) != 0)
        return nullptr;
    void* mapped = ::mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    return mapped == MAP_FAILED ? nullptr : static_cast<std::uint64_t*>(mapped);
}

// fusermount3's unmount helper, forked by the mount, complains on its way out
// that the mount is already gone; it gets a silent stderr, our messages keep theirs.
FILE* messages = stderr;

void logToMessages(fuse_log_level, const char* format, va_list arguments)
{
    std::vfprintf(messages, format, arguments);
}

void silenceHelpers()
{
    const int kept = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (kept < 0 || null < 0)
        return;
    ::fcntl(kept, F_SETFD, FD_CLOEXEC);
    messages = ::fdopen(kept, "w");
    ::dup2(null, STDERR_FILENO);
    ::close(null);
    fuse_set_log_func(logToMessages);
}

struct FuseDeleter {
    void operator()(fuse* f) const { fuse_destroy(f); }
};

struct LoopConfigDeleter {
    void operator()(fuse_loop_config* c) const { fuse_loop_cfg_destroy(c); }
};

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s --read-only|--read-write --delay-ms N --counter FILE SOURCE MOUNTPOINT\n", argv[0]);
        return 2;
    }
    // A share nobody owns any more would hold up whoever walks into it; the
    // kill reaches a frozen server too, and auto_unmount takes the mount away.
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        return 1;

    share.root = ::open(options.source, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    share.delay = std::chrono::milliseconds(options.delayMs);
    share.calls = mapCounter(options.counter);
    if (share.root < 0 || !share.calls) {
        std::fprintf(stderr, "slow_share: cannot use %s or %s: %s\n", options.source, options.counter,
                     std::strerror(errno));
        return 1;
    }

    std::string mountOptions = "auto_unmount,fsname=slowshare";
    if (options.access == Options::ReadOnly)
        mountOptions += ",ro";
    const char* fuseArgv[] = {argv[0], "-o", mountOptions.c_str()};
    fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(fuseArgv));
    silenceHelpers();
    const fuse_operations ops = operations();
    const std::unique_ptr<fuse, FuseDeleter> fs(fuse_new(&args, &ops, sizeof(ops), nullptr));
    if (!fs || fuse_mount(fs.get(), options.mountPoint) != 0)
        return 1;
    fuse_session* session = fuse_get_session(fs.get());
    if (fuse_set_signal_handlers(session) != 0) {
        fuse_unmount(fs.get());
        return 1;
    }
    const std::unique_ptr<fuse_loop_config, LoopConfigDeleter> loop(fuse_loop_cfg_create());
    const int ended = fuse_loop_mt(fs.get(), loop.get());
    fuse_remove_signal_handlers(session);
    fuse_unmount(fs.get());
    fuse_opt_free_args(&args);
    return ended == 0 ? 0 : 1;
}
