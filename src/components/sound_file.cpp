#include "components/sound_file.h"

#include "platform/failure.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <vector>

namespace tarnveil {

namespace {
// The highest rate sound cards play (768 kHz, as in DXD studio equipment).
constexpr int MaxSampleRate = 768000;
} // namespace

SoundFile::SoundFile(const std::filesystem::path& file)
{
    const std::string name = file.string();
    // O_NONBLOCK keeps a FIFO or device node under a log's name from hanging the
    // open; such a file is refused below before anything is read from it.
    descriptor_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor_ < 0)
        throw fileFailure(errno, file, name);
    try {
        struct stat status {};
        if (fstat(descriptor_, &status) != 0)
            throw failureFromErrno(errno, name);
        if (S_ISDIR(status.st_mode))
            throw Failure(FailureCode::PathFileAccessError, name + " is a folder");
        if (!S_ISREG(status.st_mode))
            throw Failure(FailureCode::InvalidFileFormat, name + " is not a regular file");
        if (status.st_size == 0)
            throw Failure(FailureCode::InvalidFileFormat, name + " is empty");
        const int flags = fcntl(descriptor_, F_GETFL);
        if (flags >= 0)
            fcntl(descriptor_, F_SETFL, flags & ~O_NONBLOCK);

        openHandle(info_, name);
        if (info_.channels < 1 || info_.samplerate < 1 || info_.frames < 0)
            throw Failure(FailureCode::InvalidFileFormat, name + ": no playable audio");
        // A damaged header can claim any rate; the player's buffers grow with
        // it, so a rate no sound card plays would cost gigabytes before a
        // single sample is heard.
        if (info_.samplerate > MaxSampleRate)
            throw Failure(FailureCode::InvalidFileFormat,
                          name + ": sample rate of " + std::to_string(info_.samplerate) + " Hz");
        if (framesToMs(info_.frames, info_.samplerate) > std::numeric_limits<int32_t>::max())
            throw Failure(FailureCode::Overflow, name + " lasts longer than 24 days");

        channelMap_.resize(static_cast<size_t>(info_.channels));
        if (sf_command(handle_.get(), SFC_GET_CHANNEL_MAP_INFO, channelMap_.data(),
                       static_cast<int>(channelMap_.size() * sizeof(int))) != SF_TRUE)
            channelMap_.clear();
    } catch (...) {
        handle_.reset();
        ::close(descriptor_);
        throw;
    }
}

void SoundFile::openHandle(SF_INFO& info, const std::string& name)
{
    // libsndfile leaves the descriptor to us, so that it is closed exactly once
    // whether its open succeeds or not.
    handle_.reset(sf_open_fd(descriptor_, SFM_READ, &info, SF_FALSE));
    if (!handle_)
        throw Failure(FailureCode::InvalidFileFormat, name + ": " + sf_strerror(nullptr));
    position_ = 0;
}

SoundFile::~SoundFile()
{
    handle_.reset();
    ::close(descriptor_);
}

int64_t SoundFile::read(float* interleaved, int64_t count)
{
    if (!handle_)
        return 0;
    const sf_count_t got = sf_readf_float(handle_.get(), interleaved, count);
    if (got <= 0)
        return 0;
    position_ += got;
    return got;
}

bool SoundFile::seek(int64_t frame)
{
    if (!handle_)
        return false;
    if (info_.seekable) {
        if (sf_seek(handle_.get(), frame, SEEK_SET) < 0)
            return false;
        position_ = frame;
        return true;
    }
    if (frame < position_) {
        handle_.reset();
        if (lseek(descriptor_, 0, SEEK_SET) != 0)
            return false;
        // Other threads read info_: the reopened file's description goes elsewhere.
        SF_INFO again{};
        try {
            openHandle(again, {});
        } catch (const Failure&) {
            return false;
        }
    }
    return skip(frame - position_);
}

bool SoundFile::skip(int64_t frames)
{
    std::vector<float> scratch(static_cast<size_t>(4096 * info_.channels));
    while (frames > 0) {
        const int64_t got = read(scratch.data(), std::min<int64_t>(frames, 4096));
        if (got == 0)
            return false;
        frames -= got;
    }
    return true;
}

bool SoundFile::unlinked() const
{
    struct stat status {};
    return fstat(descriptor_, &status) == 0 && status.st_nlink == 0;
}

int64_t framesToMs(int64_t frames, int sampleRate)
{
    // Split so that logs of many hours at high rates cannot overflow.
    return frames / sampleRate * 1000 + frames % sampleRate * 1000 / sampleRate;
}

int64_t msToFrames(int64_t ms, int sampleRate)
{
    return ms / 1000 * sampleRate + (ms % 1000 * sampleRate + 999) / 1000;
}

} // namespace tarnveil
