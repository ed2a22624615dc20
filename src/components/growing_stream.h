#pragma once

#include "components/log_growth.h"

#include <atomic>
#include <cstdint>

namespace tarnveil {

// A compressed log (MP3, Ogg, FLAC, ...) that a logger may still be writing.
// Its frames are known only once decoded, so the reader reads until the decoder
// runs dry; once the file has grown since, the decoder resumes where it
// stopped, sent back there or opened again (see SoundFile::read). Nothing
// here writes to the file.
class GrowingStream final : public LogGrowth {
public:
    // `fd` stays the caller's and must outlive this. `framesAtOpen` is the
    // decoder's own count at open, or 0 when it cannot tell.
    GrowingStream(int fd, int64_t framesAtOpen);

    // The decoder's count at open, grown with the file in proportion to its
    // bytes, or the frames decoded so far when more; where the decoder ran
    // dry, exactly what was decoded.
    int64_t frames() const override { return frames_.load(std::memory_order_acquire); }
    bool settled() const override { return settled_.load(std::memory_order_acquire); }
    int64_t readableFrom(int64_t position, int64_t wanted) const override;
    bool refresh() override;
    // A stream holds no sizes that its logger writes last: asked once its
    // logger has moved on, it is finished when the decoder has taken all that
    // the file holds.
    bool settleIfFinished() override;
    void settle() override;

    // Reader thread, for the decoder's owner: a decoder has just been opened,
    // or sent back to take up what the file holds now.
    void decoderOpened();
    // Reader thread: the file holds bytes the open decoder has not seen.
    bool grownSinceDecoderOpened() const;
    // Reader thread: the decoder has reached frame `frontier`; `dry` when it
    // gave fewer frames than asked for.
    void decodedTo(int64_t frontier, bool dry);

private:
    uint64_t length() const;

    const int fd_;
    std::atomic<int64_t> frames_;
    std::atomic<bool> settled_{false};
    // Reader thread only.
    bool dry_ = false;
    uint64_t lengthAtDecoderOpen_ = 0;
    uint64_t lengthWhenDry_ = 0;
    uint64_t lengthAtLastLook_ = 0;
    double framesPerByte_ = 0; // at open, then where the decoder last ran dry; 0 until known
};

} // namespace tarnveil
