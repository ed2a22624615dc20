#include "components/playback_feed.h"

#include "components/player_settings.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace tarnveil {

int64_t steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

namespace {
// Buffers in flight between the callback and the meter: the device queues
// about ten and the meter reads every 25 ms; the rest is room for a meter that
// reads late and for devices with shorter periods.
constexpr size_t PeakQueueSlots = 128;
// A buffer whose peaks nobody took within this long after it was heard is
// stale: the meter was not looking (or the buffer was dropped unheard).
constexpr int64_t StalePeakNs = 250'000'000;
} // namespace

PlaybackFeed::PlaybackFeed(int channels, int sampleRate, size_t capacityFrames, size_t fullMarginFrames)
    : channels_(channels), sampleRate_(sampleRate), fullMarginFrames_(fullMarginFrames),
      primeFrames_(std::min(static_cast<size_t>(PlayerSettings::StartAheadMs) * static_cast<size_t>(sampleRate) / 1000,
                            capacityFrames - std::min(capacityFrames, fullMarginFrames) + 1)),
      ring_(capacityFrames * static_cast<size_t>(channels)), peakQueue_(PeakQueueSlots)
{
}

bool PlaybackFeed::segmentTaken() const
{
    return segmentAcknowledged_.load(std::memory_order_acquire) ==
           segmentGeneration_.load(std::memory_order_relaxed);
}

void PlaybackFeed::startSegment(int64_t fileFrame, uint64_t seekGeneration)
{
    endIndex_.store(NoEnd, std::memory_order_relaxed);
    segmentStartIndex_.store(ring_.producerIndex(), std::memory_order_relaxed);
    segmentStartFrame_.store(fileFrame, std::memory_order_relaxed);
    segmentSeekGeneration_.store(seekGeneration, std::memory_order_relaxed);
    segmentGeneration_.store(segmentGeneration_.load(std::memory_order_relaxed) + 1,
                             std::memory_order_release);
}

size_t PlaybackFeed::writableFrames() const
{
    return ring_.writable() / static_cast<size_t>(channels_);
}

size_t PlaybackFeed::write(const float* interleaved, size_t frames)
{
    const auto channels = static_cast<size_t>(channels_);
    // Whole frames only, so the consumer never sees half a frame.
    const size_t fitting = std::min(frames, writableFrames());
    return ring_.write(interleaved, fitting * channels) / channels;
}

void PlaybackFeed::markEnd()
{
    endIndex_.store(ring_.producerIndex(), std::memory_order_release);
}

void PlaybackFeed::takeSegment(uint64_t generation, int64_t nowNs)
{
    ring_.discardTo(segmentStartIndex_.load(std::memory_order_relaxed));
    consumerGeneration_ = generation;
    consumerSeekGeneration_ = segmentSeekGeneration_.load(std::memory_order_relaxed);
    consumerStartFrame_ = segmentStartFrame_.load(std::memory_order_relaxed);
    consumerFrames_ = 0;
    consumerSilenceAfterEnd_ = 0;
    completed_.store(false, std::memory_order_relaxed);
    segmentAcknowledged_.store(generation, std::memory_order_release);
    publish(0, nowNs);
}

void PlaybackFeed::takePendingSegment(int64_t nowNs)
{
    const uint64_t generation = segmentGeneration_.load(std::memory_order_acquire);
    if (generation != consumerGeneration_)
        takeSegment(generation, nowNs);
}

bool PlaybackFeed::pull(float* out, size_t frames, int64_t nowNs, int64_t dacTimeNs)
{
    uint64_t published = 0;
    uint64_t end = NoEnd;
    for (;;) {
        // The order matters: see the class comment.
        published = ring_.publishedIndex();
        end = endIndex_.load(std::memory_order_acquire);
        const uint64_t generation = segmentGeneration_.load(std::memory_order_acquire);
        if (generation == consumerGeneration_)
            break;
        takeSegment(generation, dacTimeNs);
    }
    const auto channels = static_cast<size_t>(channels_);
    const size_t wanted = frames * channels;
    const size_t got = ring_.read(out, wanted, published);
    std::fill(out + got, out + wanted, 0.0F);
    queuePeaks(out, got, dacTimeNs);

    const auto gotFrames = static_cast<int64_t>(got / channels);
    if (got < wanted && (end == NoEnd || ring_.readIndex() < end))
        starvedPulls_.fetch_add(1, std::memory_order_relaxed);
    publish(gotFrames, dacTimeNs);
    consumerFrames_ += gotFrames;
    pulls_.fetch_add(1, std::memory_order_relaxed);

    if (end != NoEnd && ring_.readIndex() >= end) {
        // The device drops what it still holds when the stream ends, so the
        // stream ends only once silence has pushed the last sample through and
        // the device's clock says it has sounded. A device that plays faster
        // than the clock (a file sink) is let go after a few queues of silence.
        if (gotFrames > 0 || consumerSilenceAfterEnd_ == 0)
            consumerEndHeardNs_ = dacTimeNs + gotFrames * 1'000'000'000 / sampleRate_;
        consumerSilenceAfterEnd_ += static_cast<int64_t>(frames) - gotFrames;
        const int64_t drain = drainFrames_.load(std::memory_order_relaxed);
        if (consumerSilenceAfterEnd_ >= drain && (nowNs >= consumerEndHeardNs_ || consumerSilenceAfterEnd_ >= 4 * drain)) {
            completed_.store(true, std::memory_order_release);
            return false;
        }
    }
    return true;
}

bool PlaybackFeed::primed(uint64_t seekGeneration) const
{
    const uint64_t published = ring_.publishedIndex();
    const uint64_t end = endIndex_.load(std::memory_order_acquire);
    if (segmentGeneration_.load(std::memory_order_acquire) != consumerGeneration_ ||
        consumerSeekGeneration_ != seekGeneration)
        return false;
    const size_t buffered = static_cast<size_t>(published - ring_.readIndex()) / static_cast<size_t>(channels_);
    return end != NoEnd || buffered >= primeFrames_;
}

void PlaybackFeed::publish(int64_t framesInBuffer, int64_t dacTimeNs)
{
    const uint64_t sequence = snapshotSequence_.load(std::memory_order_relaxed);
    snapshotSequence_.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    snapshotSeekGeneration_.store(consumerSeekGeneration_, std::memory_order_relaxed);
    snapshotStartFrame_.store(consumerStartFrame_, std::memory_order_relaxed);
    snapshotFramesBefore_.store(consumerFrames_, std::memory_order_relaxed);
    snapshotFramesInBuffer_.store(framesInBuffer, std::memory_order_relaxed);
    snapshotDacTimeNs_.store(dacTimeNs, std::memory_order_relaxed);
    snapshotSequence_.store(sequence + 2, std::memory_order_release);
}

HeardSnapshot PlaybackFeed::snapshot() const
{
    HeardSnapshot result;
    for (;;) {
        const uint64_t before = snapshotSequence_.load(std::memory_order_acquire);
        result.seekGeneration = snapshotSeekGeneration_.load(std::memory_order_relaxed);
        result.segmentStartFrame = snapshotStartFrame_.load(std::memory_order_relaxed);
        result.framesBefore = snapshotFramesBefore_.load(std::memory_order_relaxed);
        result.framesInBuffer = snapshotFramesInBuffer_.load(std::memory_order_relaxed);
        result.dacTimeNs = snapshotDacTimeNs_.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (before % 2 == 0 && snapshotSequence_.load(std::memory_order_relaxed) == before)
            return result;
    }
}

// The buffer's peaks are due when its loudest sample sounds: a click shows
// when it is heard, not up to a buffer earlier.
void PlaybackFeed::queuePeaks(const float* samples, size_t count, int64_t dacTimeNs)
{
    BufferPeaks peaks;
    const auto stride = static_cast<size_t>(channels_);
    const auto channels = std::min<size_t>(stride, 2);
    size_t loudestIndex = 0;
    float loudest = 0.0F;
    for (size_t channel = 0; channel < channels; ++channel) {
        for (size_t i = channel; i < count; i += stride) {
            const float level = std::fabs(samples[i]);
            if (level > peaks.peak[channel])
                peaks.peak[channel] = level;
            if (level > loudest) {
                loudest = level;
                loudestIndex = i;
            }
        }
    }
    peaks.dacTimeNs = dacTimeNs + static_cast<int64_t>(loudestIndex / stride) * 1'000'000'000 / sampleRate_;
    peakQueue_.push(peaks);
}

void PlaybackFeed::takeHeardPeaks(int64_t nowNs, float (&peaks)[2])
{
    peaks[0] = peaks[1] = 0.0F;
    for (;;) {
        if (!holdingNextPeaks_ && !peakQueue_.pop(nextPeaks_))
            return;
        holdingNextPeaks_ = true;
        if (nextPeaks_.dacTimeNs > nowNs)
            return;
        holdingNextPeaks_ = false;
        if (nowNs - nextPeaks_.dacTimeNs > StalePeakNs)
            continue;
        peaks[0] = std::max(peaks[0], nextPeaks_.peak[0]);
        peaks[1] = std::max(peaks[1], nextPeaks_.peak[1]);
    }
}

void PlaybackFeed::dropQueuedPeaks()
{
    holdingNextPeaks_ = false;
    while (peakQueue_.pop(nextPeaks_)) {
    }
}

} // namespace tarnveil
