#pragma once

#include "components/channel_mixer.h"
#include "components/playback_feed.h"
#include "components/resampler.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace tarnveil {

class LiveFollow;
class SoundFile;

// Decodes a file ahead of playback on its own thread: reads blocks through
// libsndfile, folds the channels to the device's, converts the rate when the
// device wants another, and queues the result in a PlaybackFeed. A slow or
// stalling file share only empties the queue; the audio callback never waits.
//
// While the device stream is stopped, the reader itself plays the feed's
// consumer for seeks, so that a seek made while paused or before Play is ready
// the moment the stream starts. The hand-over is guarded by a mutex that only
// the GUI thread and the reader take, never the callback.
class FileReader {
public:
    // Starts reading `file` at `startFrame`; the file must outlive the reader.
    // With `follow`, the reader reads on as the log grows and into the logs
    // after it (see LiveFollow), which must outlive the reader too.
    FileReader(SoundFile& file, StreamFormat output, int64_t startFrame, uint64_t seekGeneration,
               LiveFollow* follow = nullptr);
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    PlaybackFeed& feed() { return feed_; }
    const StreamFormat& format() const { return format_; }

    // GUI thread: continue from `frame`; the feed marks the new stretch with `seekGeneration`.
    void seek(int64_t frame, uint64_t seekGeneration);

    // GUI thread: before the stream starts / after it has stopped.
    void handConsumerToCallback();
    void takeConsumerBack();

    // GUI thread: waits until the feed is primed for `seekGeneration`; false at
    // once while the callback holds the consumer role.
    bool waitUntilPrimed(uint64_t seekGeneration, std::chrono::milliseconds timeout);

    // GUI thread: tells the thread to end and waits for it at most `timeout`;
    // false when it is still inside a read (the reader may then only be
    // destroyed where waiting does no harm).
    bool quitWithin(std::chrono::milliseconds timeout);

    // Any thread: the last end of data came at the file's declared length
    // (rather than from a file cut short or removed).
    bool reachedDeclaredEnd() const { return reachedDeclaredEnd_.load(std::memory_order_acquire); }

    // Any thread: since when (steadyNowNs()) the reader has been waiting for a
    // call on the file's drive to return; 0 while it is not in one.
    int64_t onDriveSinceNs() const { return onDriveSinceNs_.load(std::memory_order_relaxed); }

private:
    // Reader thread: runs `call`, which may wait on the file's drive, marked as such.
    template <typename Call>
    auto onDrive(Call&& call)
    {
        struct Mark {
            std::atomic<int64_t>& since;
            ~Mark() { since.store(0, std::memory_order_relaxed); }
        } mark{onDriveSinceNs_};
        onDriveSinceNs_.store(steadyNowNs(), std::memory_order_relaxed);
        return call();
    }

    void run();
    void serveAsConsumer();
    bool push(const float* interleaved, size_t frames, uint64_t seekGeneration);
    void waitForWork(uint64_t seenSeek, std::optional<std::chrono::microseconds> timeout);
    void waitForRoom(uint64_t seekGeneration);
    void waitAtLiveEdge(uint64_t seekGeneration);
    bool wokenSince(uint64_t seekGeneration, uint64_t consumerSeen) const;
    void notifyProgress();
    void consumerChanged();

    SoundFile* file_;
    LiveFollow* const follow_;
    const StreamFormat format_;
    const size_t blockFrames_;
    const std::chrono::microseconds roomWait_;
    std::chrono::microseconds roomStep_{roomWait_}; // reader thread only
    ChannelMixer mixer_;
    std::optional<Resampler> resampler_;
    PlaybackFeed feed_;

    std::atomic<int64_t> seekFrame_;
    std::atomic<uint64_t> seekGeneration_;
    std::atomic<bool> quit_{false};
    bool finished_ = false; // under progressMutex_
    std::atomic<bool> reachedDeclaredEnd_{false};
    std::atomic<int64_t> onDriveSinceNs_{0};
    // The seek whose stretch has caught up with the recording: nothing more to prime.
    std::atomic<uint64_t> liveEdgeGeneration_{0};

    std::mutex wakeMutex_;
    std::condition_variable wake_;
    uint64_t consumerChanges_ = 0; // under wakeMutex_

    std::mutex progressMutex_;
    std::condition_variable progress_;
    uint64_t progressCount_ = 0;

    std::mutex consumerMutex_;
    // Written under consumerMutex_; the reader reads it without, to choose how to wait.
    std::atomic<bool> callbackConsumes_{false};

    std::thread thread_;
};

} // namespace tarnveil
