#include "components/growing_stream.h"

#include <sys/stat.h>

#include <algorithm>

namespace tarnveil {

GrowingStream::GrowingStream(int fd, int64_t framesAtOpen) : fd_(fd), frames_(std::max<int64_t>(framesAtOpen, 0))
{
    lengthAtLastLook_ = length();
    lengthAtDecoderOpen_ = lengthAtLastLook_;
    if (lengthAtLastLook_ > 0)
        framesPerByte_ = static_cast<double>(frames()) / static_cast<double>(lengthAtLastLook_);
}

uint64_t GrowingStream::length() const
{
    struct stat status {};
    if (::fstat(fd_, &status) != 0)
        return 0;
    return static_cast<uint64_t>(status.st_size);
}

int64_t GrowingStream::readableFrom(int64_t position, int64_t wanted) const
{
    // Until the decoder runs dry, only reading tells how much there is.
    if (!dry_)
        return wanted;
    return std::clamp<int64_t>(frames() - position, 0, wanted);
}

bool GrowingStream::refresh()
{
    if (settled())
        return false;
    const uint64_t now = length();
    const bool grown = now > lengthAtLastLook_;
    lengthAtLastLook_ = std::max(now, lengthAtLastLook_);
    if (dry_ && now > lengthWhenDry_)
        dry_ = false;
    // The operator sees the log's length grow as it is recorded, not only as
    // far as the reader has decoded.
    const auto estimate = static_cast<int64_t>(framesPerByte_ * static_cast<double>(now));
    if (grown && estimate > frames())
        frames_.store(estimate, std::memory_order_release);
    return grown;
}

bool GrowingStream::settleIfFinished()
{
    if (!settled() && dry_ && length() == lengthWhenDry_)
        settle();
    return settled();
}

void GrowingStream::settle()
{
    settled_.store(true, std::memory_order_release);
}

void GrowingStream::decoderOpened()
{
    lengthAtDecoderOpen_ = length();
}

bool GrowingStream::grownSinceDecoderOpened() const
{
    return length() > lengthAtDecoderOpen_;
}

void GrowingStream::decodedTo(int64_t frontier, bool dry)
{
    if (dry) {
        // Where the decoder ran dry is where the stream ends for now, whatever
        // it estimated at open.
        dry_ = true;
        lengthWhenDry_ = length();
        frames_.store(frontier, std::memory_order_release);
        // What the decoder found in the whole file is a better measure of its
        // frames per byte than the count at open, which a coder of variable
        // rate or a header still to be written can put far off.
        if (lengthWhenDry_ > 0 && frontier > 0)
            framesPerByte_ = static_cast<double>(frontier) / static_cast<double>(lengthWhenDry_);
    } else if (frontier > frames()) {
        frames_.store(frontier, std::memory_order_release);
    }
}

} // namespace tarnveil
