#pragma once

#include "components/ring_buffer.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace tarnveil {

// Channels and rate of what is handed to the device.
struct StreamFormat {
    int channels = 2;
    int sampleRate = 48000;
    bool operator==(const StreamFormat&) const = default;
};

// Where the audio most recently handed to the device lies in the file, as the
// consumer last published it.
struct HeardSnapshot {
    uint64_t seekGeneration = 0; // the seek this stretch follows
    int64_t segmentStartFrame = 0; // file frame at which that seek started the audio
    int64_t framesBefore = 0;      // device frames handed over since then, before this buffer
    int64_t framesInBuffer = 0;    // device frames of audio in this buffer
    int64_t dacTimeNs = 0;         // steady-clock time at which the buffer's first frame is heard
};

// The samples between the reader thread and the audio callback, plus what the
// callback tells the rest of the player. Nothing here locks or allocates after
// construction.
//
// A seek starts a new segment: the reader fills a small mailbox (start index in
// the ring, file frame), publishes it with a release store of the segment
// generation, and keeps the mailbox untouched until the consumer has
// acknowledged it. The consumer, before it reads, loads the ring's write index
// and then the generation (both acquire): a write index that already covers
// samples of a new segment therefore comes with that segment's generation, so
// old and new samples are never mixed up; taking a segment drops the older
// samples still in the ring.
//
// "The consumer" is the audio callback while the stream runs; while it is
// stopped the role passes to whoever the player lets hold it (see FileReader).
class PlaybackFeed {
public:
    static constexpr uint64_t NoEnd = std::numeric_limits<uint64_t>::max();

    PlaybackFeed(int channels, int sampleRate, size_t capacityFrames, size_t fullMarginFrames);

    int channels() const { return channels_; }
    size_t capacityFrames() const { return ring_.capacity() / static_cast<size_t>(channels_); }

    // Reader thread: whether the consumer has taken the last segment started.
    bool segmentTaken() const;
    // Reader thread, only once segmentTaken(): later samples belong to a new stretch from `fileFrame`.
    void startSegment(int64_t fileFrame, uint64_t seekGeneration);
    // Reader thread.
    size_t writableFrames() const;
    size_t write(const float* interleaved, size_t frames);
    // Reader thread: the samples written so far end the current segment.
    void markEnd();
    // Reader thread: frames written since the current segment started.
    int64_t segmentFramesWritten() const
    {
        return static_cast<int64_t>((ring_.producerIndex() - segmentStartIndex_.load(std::memory_order_relaxed)) /
                                    static_cast<uint64_t>(channels_));
    }

    // GUI thread, stream stopped: frames of silence that push the device's
    // queue out after the last sample, so that it is heard before the stream ends.
    void setDrainFrames(int64_t frames) { drainFrames_.store(frames, std::memory_order_relaxed); }

    // Consumer: fills `out` with `frames` frames, silence where the reader is
    // behind; `dacTimeNs` is when the first of them will be heard. Returns false
    // once the segment's last sample has been handed over, pushed through the
    // device by silence, and its time to be heard has come.
    bool pull(float* out, size_t frames, int64_t nowNs, int64_t dacTimeNs);
    // Consumer: takes a segment the reader has started, if any.
    void takePendingSegment(int64_t nowNs);
    // Consumer: the segment of `seekGeneration` is taken and the ring holds
    // enough to start the device on (PlayerSettings::StartAheadMs, or as much as
    // the reader ever queues if that is less), or the segment's end.
    bool primed(uint64_t seekGeneration) const;

    // Any thread.
    HeardSnapshot snapshot() const;
    bool completed() const { return completed_.load(std::memory_order_acquire); }
    uint64_t pulls() const { return pulls_.load(std::memory_order_relaxed); }
    // Buffers the consumer had to fill in part with silence before the
    // segment's end because the reader was behind: gaps in what is heard.
    uint64_t starvedPulls() const { return starvedPulls_.load(std::memory_order_relaxed); }

    // One thread at a time (the meter's): linear peaks per channel of the
    // buffers whose loudest sample has been heard by `nowNs` and not taken yet.
    // Buffers heard long ago (while nobody asked) are left out.
    void takeHeardPeaks(int64_t nowNs, float (&peaks)[2]);
    // The meter's thread, once the stream has stopped: a stopped device drops
    // what it held unheard, so the peaks still waiting to be shown are dropped
    // too; the next run's peaks come in time of their own.
    void dropQueuedPeaks();

private:
    void takeSegment(uint64_t generation, int64_t nowNs);
    void publish(int64_t framesInBuffer, int64_t dacTimeNs);
    void queuePeaks(const float* samples, size_t count, int64_t dacTimeNs);

    const int channels_;
    const int sampleRate_;
    const size_t fullMarginFrames_;
    const size_t primeFrames_;
    SpscRing<float> ring_;

    // Reader -> consumer mailbox.
    std::atomic<uint64_t> segmentGeneration_{0};
    std::atomic<uint64_t> segmentStartIndex_{0};
    std::atomic<int64_t> segmentStartFrame_{0};
    std::atomic<uint64_t> segmentSeekGeneration_{0};
    std::atomic<uint64_t> endIndex_{NoEnd};
    // Consumer -> reader.
    std::atomic<uint64_t> segmentAcknowledged_{0};

    // The consumer's own state.
    uint64_t consumerGeneration_ = 0;
    uint64_t consumerSeekGeneration_ = 0;
    int64_t consumerStartFrame_ = 0;
    int64_t consumerFrames_ = 0;
    int64_t consumerSilenceAfterEnd_ = 0;
    int64_t consumerEndHeardNs_ = 0;
    std::atomic<int64_t> drainFrames_{0};

    // Consumer -> any thread: a sequence lock around the snapshot (odd while
    // written). The writer never waits; a reader retries the few loads.
    std::atomic<uint64_t> snapshotSequence_{0};
    std::atomic<uint64_t> snapshotSeekGeneration_{0};
    std::atomic<int64_t> snapshotStartFrame_{0};
    std::atomic<int64_t> snapshotFramesBefore_{0};
    std::atomic<int64_t> snapshotFramesInBuffer_{0};
    std::atomic<int64_t> snapshotDacTimeNs_{0};

    std::atomic<bool> completed_{false};
    std::atomic<uint64_t> pulls_{0};
    std::atomic<uint64_t> starvedPulls_{0};

    // Consumer -> meter: each buffer's peaks with the time they sound, so that
    // the meter shows a peak when it is heard, not when it was handed over a
    // device latency earlier. A full queue (nobody reading) drops the newest.
    struct BufferPeaks {
        int64_t dacTimeNs = 0;
        float peak[2] = {0.0F, 0.0F};
    };
    SpscRing<BufferPeaks> peakQueue_;
    // The meter's side: a buffer taken from the queue that is not heard yet.
    BufferPeaks nextPeaks_;
    bool holdingNextPeaks_ = false;
};

// Nanoseconds of the steady clock; safe in the audio callback (no system call).
int64_t steadyNowNs();

} // namespace tarnveil
