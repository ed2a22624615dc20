#include "components/sound_file.h"

#include "components/fed_mpeg_decoder.h"
#include "components/flac_frames.h"
#include "components/growing_stream.h"
#include "components/growing_wave_io.h"
#include "components/sndfile_open.h"
#include "platform/failure.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <type_traits>
#include <vector>

namespace tarnveil {

namespace {
// The highest rate sound cards play (768 kHz, as in DXD studio equipment).
constexpr int MaxSampleRate = 768000;
// The end of a FLAC log looked at for its last frames: several frames at any rate.
constexpr off_t FlacTailBytes = 256 * 1024;

sf_count_t decode(SNDFILE* handle, float* interleaved, sf_count_t count)
{
    return sf_readf_float(handle, interleaved, count);
}

sf_count_t decode(SNDFILE* handle, int16_t* interleaved, sf_count_t count)
{
    return sf_readf_short(handle, interleaved, count);
}
} // namespace

SoundFile::SoundFile(const std::filesystem::path& file, Growth growth)
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

        bool waveShaped = false;
        if (growth != Growth::Fixed) {
            try {
                waveGrowth_ = std::make_unique<GrowingWaveIo>(descriptor_, name);
                waveShaped = true;
                if (growth == Growth::MayGrow && !waveGrowth_->headerBehindFile())
                    waveGrowth_.reset();
            } catch (const Failure&) {
                // Not a WAV layout that can be followed: see below.
            }
        }
        openHandle(info_, name);
        if (growth != Growth::Fixed && !waveShaped && (info_.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_WAV) {
            // A compressed log grows by bytes its decoder reads on into; whatever
            // its header says, a WAV file of another shape plays as far as that.
            const int64_t counted = info_.frames < SF_COUNT_MAX ? info_.frames : recordedFlacFrames();
            streamGrowth_ = std::make_unique<GrowingStream>(descriptor_, counted);
            if ((info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG)
                mpegFeed_ = std::make_unique<FedMpegDecoder>(descriptor_, info_.channels, info_.samplerate);
        }
        if (info_.channels < 1 || info_.samplerate < 1 || info_.frames < 0)
            throw Failure(FailureCode::InvalidFileFormat, name + ": no playable audio");
        // A damaged header can claim any rate; the player's buffers grow with
        // it, so a rate no sound card plays would cost gigabytes before a
        // single sample is heard.
        if (info_.samplerate > MaxSampleRate)
            throw Failure(FailureCode::InvalidFileFormat,
                          name + ": sample rate of " + std::to_string(info_.samplerate) + " Hz");
        if (framesToMs(frames(), info_.samplerate) > std::numeric_limits<int32_t>::max())
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
    std::string error;
    handle_.reset(openSndfile(
        [&] {
            if (waveGrowth_)
                return sf_open_virtual(waveGrowth_->callbacks(), SFM_READ, &info, waveGrowth_.get());
            return sf_open_fd(descriptor_, SFM_READ, &info, SF_FALSE);
        },
        error));
    if (!handle_)
        throw Failure(FailureCode::InvalidFileFormat, name + ": " + error);
    position_ = 0;
    openedEmpty_ = waveGrowth_ && waveGrowth_->frames() == 0;
    if (streamGrowth_)
        streamGrowth_->decoderOpened();
}

SoundFile::~SoundFile()
{
    handle_.reset();
    ::close(descriptor_);
}

int64_t SoundFile::frames() const
{
    const LogGrowth* growth = growing();
    return growth != nullptr ? growth->frames() : info_.frames;
}

LogGrowth* SoundFile::growing() const
{
    if (waveGrowth_)
        return waveGrowth_.get();
    return streamGrowth_.get();
}

void SoundFile::reopen()
{
    handle_.reset();
    if (!waveGrowth_ && lseek(descriptor_, 0, SEEK_SET) != 0)
        return;
    // Other threads read info_: the reopened file's description goes elsewhere.
    SF_INFO again{};
    try {
        openHandle(again, {});
    } catch (const Failure&) {
        // Reads and seeks report the file as unreadable from here on.
    }
}

int64_t SoundFile::read(float* interleaved, int64_t count)
{
    return readFrames(interleaved, count);
}

int64_t SoundFile::read(int16_t* interleaved, int64_t count)
{
    return readFrames(interleaved, count);
}

bool SoundFile::sixteenBitsOrFewer() const
{
    switch (info_.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
    case SF_FORMAT_GSM610:
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
        return true;
    default:
        return false;
    }
}

template <typename Sample>
int64_t SoundFile::readFrames(Sample* interleaved, int64_t count)
{
    if (waveGrowth_) {
        // Never past what is wholly recorded: a read that stops inside a frame
        // or a GSM block leaves the decoder out of step with the file.
        count = std::min(count, frames() - position_);
        if (count <= 0)
            return 0;
        if (openedEmpty_)
            reopen();
    }
    if (streamGrowth_)
        return readStream(interleaved, count);
    return readHandle(interleaved, count);
}

template <typename Sample>
int64_t SoundFile::readHandle(Sample* interleaved, int64_t count)
{
    if (!handle_)
        return 0;
    const sf_count_t got = decode(handle_.get(), interleaved, count);
    if (got <= 0)
        return 0;
    position_ += got;
    return got;
}

// What a FLAC log being recorded holds in whole frames, which its header does
// not state; 0 for other logs.
int64_t SoundFile::recordedFlacFrames() const
{
    struct stat status {};
    if ((info_.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_FLAC || fstat(descriptor_, &status) != 0)
        return 0;
    std::vector<uint8_t> tail(static_cast<size_t>(std::min<off_t>(status.st_size, FlacTailBytes)));
    const ssize_t got = ::pread(descriptor_, tail.data(), tail.size(), status.st_size - static_cast<off_t>(tail.size()));
    if (got != static_cast<ssize_t>(tail.size()))
        return 0;
    return samplesBeforeLastFlacFrame(tail);
}

template <typename Sample>
int64_t SoundFile::readStream(Sample* interleaved, int64_t count)
{
    // The fed MPEG decoder gives floats only; MPEG logs are never read as
    // 16-bit samples, since they do not count as sixteen bits or fewer.
    if constexpr (std::is_same_v<Sample, float>) {
        if (mpegFeed_) {
            const int64_t got = mpegFeed_->read(interleaved, count);
            position_ += got;
            streamGrowth_->decodedTo(position_, got < count);
            return got;
        }
    }
    int64_t got = resumePending_ ? 0 : readHandle(interleaved, count);
    if (got < count && streamGrowth_->grownSinceDecoderOpened()) {
        // A decoder that met the end of the file stays there. A FLAC decoder
        // takes up the bytes recorded since once it is sent back to where it
        // stopped; others keep the length they saw at open, so a fresh one
        // resumes there. Either way it decodes only whole frames.
        const int64_t resumeAt = position_;
        bool resumed = false;
        if (resumesInPlace()) {
            streamGrowth_->decoderOpened();
            resumed = handle_ && sf_seek(handle_.get(), resumeAt, SEEK_SET) == resumeAt;
        }
        // A FLAC decoder that met half a frame at the end refuses every seek
        // from then on: a fresh one is tried, and tried again after the next
        // growth if the frame is still not whole.
        if (!resumed) {
            reopen();
            resumed = handle_ && sf_seek(handle_.get(), resumeAt, SEEK_SET) == resumeAt;
        }
        if (!resumed && !resumesInPlace())
            handle_.reset();
        resumePending_ = !resumed && handle_;
        position_ = resumeAt;
        if (resumed)
            got += readHandle(interleaved + got * info_.channels, count - got);
    }
    streamGrowth_->decodedTo(position_, got < count);
    return got;
}

bool SoundFile::resumesInPlace() const
{
    return (info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC;
}

bool SoundFile::seek(int64_t frame)
{
    if (mpegFeed_) {
        if (!mpegFeed_->seek(frame))
            return false;
        position_ = frame;
        return true;
    }
    if (!handle_)
        return false;
    if (info_.seekable) {
        resumePending_ = false;
        if (sf_seek(handle_.get(), frame, SEEK_SET) < 0) {
            // The live edge of a FLAC log lies in a frame not yet whole: the
            // decoder goes there once the log has grown.
            if (!streamGrowth_ || !resumesInPlace())
                return false;
            resumePending_ = true;
        }
        position_ = frame;
        return true;
    }
    if (frame < position_ || openedEmpty_) {
        reopen();
        if (!handle_)
            return false;
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
