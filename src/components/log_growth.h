#pragma once

#include <cstdint>

namespace tarnveil {

// How the reader sees a log that a logger may still be recording: how far it
// can read now, and when the log stops growing. A WAV log grows by whole frames
// behind a stale header; a compressed stream grows by bytes whose frames are
// only known once decoded.
class LogGrowth {
public:
    virtual ~LogGrowth() = default;

    // Any thread: the frames known to be in the log at the last look.
    virtual int64_t frames() const = 0;
    // Any thread: the log no longer grows; frames() is its length.
    virtual bool settled() const = 0;

    // Reader thread: how many of `wanted` frames may be read from `position` now.
    virtual int64_t readableFrom(int64_t position, int64_t wanted) const = 0;
    // Reader thread: looks at the file again; true when it has grown since the last look.
    virtual bool refresh() = 0;
    // Reader thread: when the file shows that its logger has finished it, takes
    // its length as final and returns true.
    virtual bool settleIfFinished() = 0;
    // Reader thread: takes what the file holds now as final (a recording that
    // was never finished).
    virtual void settle() = 0;
};

} // namespace tarnveil
