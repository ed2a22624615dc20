#include "timeline/log_source.h"

#include "components/sndfile_open.h"
#include "console/wave_header.h"
#include "platform/failure.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace tarnveil {

namespace {

int64_t readFully(int fd, void* into, int64_t count, int64_t offset)
{
    int64_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd, static_cast<char*>(into) + done, static_cast<size_t>(count - done),
                                    static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return done > 0 ? done : -1;
        }
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

} // namespace

LogSource::LogSource(const std::filesystem::path& file, bool live)
{
    const std::string name = file.string();
    // O_NONBLOCK keeps a FIFO under a log's name from hanging the open.
    fd_ = UniqueFd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd_)
        throw failureFromErrno(errno, name);
    struct stat status {};
    if (::fstat(fd_.get(), &status) != 0)
        throw failureFromErrno(errno, name);
    if (!S_ISREG(status.st_mode))
        throw Failure(FailureCode::InvalidFileFormat, name + " is not a regular file");
    length_ = status.st_size;
    modified_ = QDateTime::fromMSecsSinceEpoch(int64_t{status.st_mtim.tv_sec} * 1000 + status.st_mtim.tv_nsec / 1000000);

    if (live) {
        std::vector<uint8_t> head(static_cast<size_t>(std::min<int64_t>(length_, WaveHeaderReadLimit)));
        const int64_t got = readFully(fd_.get(), head.data(), static_cast<int64_t>(head.size()), 0);
        if (got < 0)
            throw failureFromErrno(errno, name);
        head.resize(static_cast<size_t>(got));
        if (const std::optional<WaveSizeFix> fix = locateWaveSizes(head, static_cast<uint64_t>(length_))) {
            riffSize_ = Patch{4, fix->riffSize};
            dataSize_ = Patch{static_cast<int64_t>(fix->dataSizeOffset), fix->dataSize};
        }
    }

    SF_VIRTUAL_IO io{&LogSource::length, &LogSource::seek, &LogSource::read, &LogSource::write, &LogSource::tell};
    std::string error;
    handle_.reset(openSndfile([&] { return sf_open_virtual(&io, SFM_READ, &info_, this); }, error));
    if (!handle_)
        throw Failure(FailureCode::InvalidFileFormat, name + ": " + error);
    if (info_.channels < 1 || info_.samplerate < 1 || info_.frames < 0)
        throw Failure(FailureCode::InvalidFileFormat, name + ": no audio");
}

LogSource::~LogSource() = default;

std::optional<SF_BROADCAST_INFO> LogSource::broadcastInfo() const
{
    if ((info_.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_WAV)
        return std::nullopt;
    SF_BROADCAST_INFO bext{};
    if (sf_command(handle_.get(), SFC_GET_BROADCAST_INFO, &bext, sizeof bext) != SF_TRUE)
        return std::nullopt;
    return bext;
}

sf_count_t LogSource::length(void* self)
{
    return static_cast<LogSource*>(self)->length_;
}

sf_count_t LogSource::seek(sf_count_t offset, int whence, void* self)
{
    auto& source = *static_cast<LogSource*>(self);
    switch (whence) {
    case SEEK_SET: source.position_ = offset; break;
    case SEEK_CUR: source.position_ += offset; break;
    case SEEK_END: source.position_ = source.length_ + offset; break;
    default: return -1;
    }
    source.position_ = std::max<int64_t>(source.position_, 0);
    return source.position_;
}

sf_count_t LogSource::read(void* into, sf_count_t count, void* self)
{
    auto& source = *static_cast<LogSource*>(self);
    // The length is the one seen at the open: what the logger appends later is
    // not part of this reading, so the sizes stay true to it.
    const int64_t wanted = std::clamp<int64_t>(source.length_ - source.position_, 0, count);
    const int64_t got = readFully(source.fd_.get(), into, wanted, source.position_);
    if (got <= 0)
        return 0;
    for (const auto& patch : {source.riffSize_, source.dataSize_}) {
        if (!patch)
            continue;
        const uint8_t bytes[4] = {static_cast<uint8_t>(patch->value), static_cast<uint8_t>(patch->value >> 8),
                                  static_cast<uint8_t>(patch->value >> 16), static_cast<uint8_t>(patch->value >> 24)};
        for (int64_t i = 0; i < 4; ++i) {
            const int64_t at = patch->offset + i - source.position_;
            if (at >= 0 && at < got)
                static_cast<uint8_t*>(into)[at] = bytes[i];
        }
    }
    source.position_ += got;
    return got;
}

sf_count_t LogSource::write(const void*, sf_count_t, void*)
{
    return 0;
}

sf_count_t LogSource::tell(void* self)
{
    return static_cast<LogSource*>(self)->position_;
}

} // namespace tarnveil
