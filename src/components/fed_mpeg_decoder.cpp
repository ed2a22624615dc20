#include "components/fed_mpeg_decoder.h"

#include "platform/failure.h"

#include <mpg123.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace tarnveil {

namespace {
// Bytes handed over at a time: a few dozen frames at broadcast bit rates.
constexpr size_t FeedBytes = 64 * 1024;
// LAME's encoder delay and libmpg123's own decoder delay, which the tag that
// LAME writes into its first frame on closing tells a decoder to drop.
constexpr int64_t LameDelay = 576 + 529;
// Bytes after the first frame's header that LAME leaves zero while it records:
// past where the finished tag begins (36 bytes in at most, 38 with a CRC).
constexpr size_t PlaceholderBytes = 60;

// LAME reserves the first frame of a file for its tag and fills it only when
// the file is finished: until then it is a frame header followed by zeros.
bool startsWithTagPlaceholder(int fd)
{
    unsigned char head[4 + PlaceholderBytes] = {};
    if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head) || head[0] != 0xFF ||
        (head[1] & 0xE0) != 0xE0)
        return false;
    for (size_t i = 4; i < sizeof head; ++i) {
        if (head[i] != 0)
            return false;
    }
    return true;
}
} // namespace

FedMpegDecoder::FedMpegDecoder(int fd, int channels, int sampleRate)
    : fd_(fd), channels_(channels), sampleRate_(sampleRate), bytes_(FeedBytes)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { mpg123_init(); });
    if (!start()) {
        mpg123_delete(handle_);
        throw Failure(FailureCode::InvalidFileFormat, "the MPEG stream's first frames cannot be decoded");
    }
}

// A decoder from the file's first byte, with the stream's format known.
bool FedMpegDecoder::start()
{
    handle_ = mpg123_new(nullptr, nullptr);
    if (handle_ == nullptr)
        return false;
    // As libsndfile decodes a finished log, so that both give the same samples.
    mpg123_param(handle_, MPG123_REMOVE_FLAGS, MPG123_AUTO_RESAMPLE, 0.0);
    mpg123_param(handle_, MPG123_ADD_FLAGS,
                 MPG123_FORCE_FLOAT | MPG123_GAPLESS | MPG123_NO_FRANKENSTEIN | MPG123_QUIET, 0.0);
    unsigned char none = 0;
    size_t decoded = 0;
    int result = MPG123_NEED_MORE;
    if (mpg123_open_feed(handle_) == MPG123_OK) {
        do {
            result = mpg123_read(handle_, &none, 0, &decoded);
        } while (result == MPG123_NEED_MORE && feed());
    }
    if (result != MPG123_NEW_FORMAT || !formatMatches())
        return false;
    // The finished log will be decoded without the reserved frame and the
    // delays: the recording is heard the same from the start.
    if (startsWithTagPlaceholder(fd_))
        lead_ = mpg123_spf(handle_) + LameDelay;
    toDrop_ = lead_;
    return true;
}

FedMpegDecoder::~FedMpegDecoder()
{
    mpg123_delete(handle_);
}

bool FedMpegDecoder::formatMatches()
{
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    return mpg123_getformat(handle_, &rate, &channels, &encoding) == MPG123_OK && rate == sampleRate_ &&
           channels == channels_ && encoding == MPG123_ENC_FLOAT_32;
}

// Hands the decoder the next bytes of the file; false when it holds no more yet.
bool FedMpegDecoder::feed()
{
    ssize_t got = 0;
    do {
        got = ::pread(fd_, bytes_.data(), bytes_.size(), static_cast<off_t>(fedTo_));
    } while (got < 0 && errno == EINTR);
    if (got <= 0 || mpg123_feed(handle_, bytes_.data(), static_cast<size_t>(got)) != MPG123_OK)
        return false;
    fedTo_ += static_cast<uint64_t>(got);
    return true;
}

int64_t FedMpegDecoder::read(float* interleaved, int64_t count)
{
    while (toDrop_ > 0) {
        const int64_t dropped = decode(interleaved, std::min(toDrop_, count));
        if (dropped == 0)
            return 0;
        toDrop_ -= dropped;
    }
    return decode(interleaved, count);
}

int64_t FedMpegDecoder::decode(float* interleaved, int64_t count)
{
    const auto frameBytes = sizeof(float) * static_cast<size_t>(channels_);
    int64_t done = 0;
    while (done < count) {
        size_t bytes = 0;
        const int result = mpg123_read(handle_, reinterpret_cast<unsigned char*>(interleaved + done * channels_),
                                       static_cast<size_t>(count - done) * frameBytes, &bytes);
        done += static_cast<int64_t>(bytes / frameBytes);
        if (result == MPG123_OK)
            continue;
        // A stream that changes its rate or channels midway cannot join what was heard.
        if (result == MPG123_NEW_FORMAT && formatMatches())
            continue;
        if (result != MPG123_NEED_MORE || !feed())
            break;
    }
    return done;
}

bool FedMpegDecoder::seek(int64_t frame)
{
    off_t resumeAt = 0;
    off_t result = MPG123_NEED_MORE;
    do {
        result = mpg123_feedseek(handle_, static_cast<off_t>(frame + lead_), SEEK_SET, &resumeAt);
    } while (result == MPG123_NEED_MORE && feed());
    if (result < 0)
        return false;
    fedTo_ = static_cast<uint64_t>(resumeAt);
    toDrop_ = 0;
    return true;
}

} // namespace tarnveil
