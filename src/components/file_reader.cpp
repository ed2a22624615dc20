#include "components/file_reader.h"

#include "components/live_follow.h"
#include "components/log_growth.h"
#include "components/player_settings.h"
#include "components/realtime_priority.h"
#include "components/sound_file.h"

#include <pthread.h>

#include <algorithm>
#include <vector>

namespace tarnveil {

namespace {
// How often the reader looks whether the log has been deleted under it.
constexpr int BlocksBetweenLinkChecks = 16;
// How long the reader waits at the end of a log being recorded before it looks
// again: the logger appends every few tens of milliseconds.
constexpr auto FollowPause = std::chrono::milliseconds(25);
// The longest the reader sleeps at the live edge, however much the ring holds.
constexpr auto LongestFollowPause = std::chrono::milliseconds(100);

size_t fullMarginFor(size_t blockFrames, const std::optional<Resampler>& resampler)
{
    return resampler ? resampler->maxOutputFrames(blockFrames) : blockFrames;
}

// While the callback plays from a full ring, the reader sleeps while up to a
// quarter of it plays away: the callback may wake nobody, and waking once a
// block has room would cost a wake-up per block.
std::chrono::microseconds roomWaitFor(size_t ringFrames, int sampleRate)
{
    return std::chrono::microseconds(static_cast<int64_t>(ringFrames) * 1'000'000 / 4 / sampleRate);
}

std::optional<Resampler> resamplerFor(const SoundFile& file, const StreamFormat& output)
{
    if (file.sampleRate() == output.sampleRate)
        return std::nullopt;
    return std::optional<Resampler>(std::in_place, output.channels, file.sampleRate(), output.sampleRate);
}

bool ranDryWhileGrowing(const SoundFile& file, int64_t position)
{
    const LogGrowth* growth = file.growing();
    return growth != nullptr && growth->readableFrom(position, 1) == 0;
}
} // namespace

FileReader::FileReader(SoundFile& file, StreamFormat output, int64_t startFrame, uint64_t seekGeneration,
                       LiveFollow* follow)
    : file_(&file), follow_(follow), format_(output), blockFrames_(PlayerSettings::bufferFrames(file.sampleRate())),
      roomWait_(roomWaitFor(PlayerSettings::NumBuffers * PlayerSettings::bufferFrames(output.sampleRate), output.sampleRate)),
      mixer_(file.channels(), file.channelMap(), output.channels),
      resampler_(resamplerFor(file, output)),
      feed_(output.channels, output.sampleRate, PlayerSettings::NumBuffers * PlayerSettings::bufferFrames(output.sampleRate),
            fullMarginFor(blockFrames_, resampler_)),
      seekFrame_(startFrame), seekGeneration_(seekGeneration)
{
    thread_ = std::thread([this] {
        run();
        {
            std::lock_guard lock(progressMutex_);
            finished_ = true;
        }
        progress_.notify_all();
    });
}

FileReader::~FileReader()
{
    {
        std::lock_guard lock(wakeMutex_);
        quit_.store(true);
    }
    wake_.notify_all();
    thread_.join();
}

bool FileReader::quitWithin(std::chrono::milliseconds timeout)
{
    {
        std::lock_guard lock(wakeMutex_);
        quit_.store(true);
    }
    wake_.notify_all();
    std::unique_lock lock(progressMutex_);
    return progress_.wait_for(lock, timeout, [this] { return finished_; });
}

void FileReader::seek(int64_t frame, uint64_t seekGeneration)
{
    {
        std::lock_guard lock(wakeMutex_);
        seekFrame_.store(frame, std::memory_order_relaxed);
        seekGeneration_.store(seekGeneration, std::memory_order_release);
    }
    wake_.notify_all();
}

void FileReader::handConsumerToCallback()
{
    {
        std::lock_guard lock(consumerMutex_);
        callbackConsumes_.store(true);
    }
    consumerChanged();
}

void FileReader::takeConsumerBack()
{
    {
        std::lock_guard lock(consumerMutex_);
        callbackConsumes_.store(false);
        // A seek the callback had no time to take is taken now.
        feed_.takePendingSegment(steadyNowNs());
    }
    feed_.dropQueuedPeaks();
    consumerChanged();
}

// The reader waits for room differently with and without the callback, and a
// segment taken here frees the ring: either way it must look again.
void FileReader::consumerChanged()
{
    {
        std::lock_guard lock(wakeMutex_);
        ++consumerChanges_;
    }
    wake_.notify_all();
}

bool FileReader::waitUntilPrimed(uint64_t seekGeneration, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        uint64_t seen = 0;
        {
            std::lock_guard progressLock(progressMutex_);
            seen = progressCount_;
        }
        bool tookSegment = false;
        bool primed = false;
        {
            std::lock_guard lock(consumerMutex_);
            // While the callback consumes, the feed's consumer state is not ours to look at.
            if (callbackConsumes_.load())
                return false;
            tookSegment = !feed_.segmentTaken();
            feed_.takePendingSegment(steadyNowNs());
            primed = feed_.primed(seekGeneration) ||
                     liveEdgeGeneration_.load(std::memory_order_acquire) == seekGeneration;
        }
        if (tookSegment)
            consumerChanged();
        if (primed)
            return true;
        std::unique_lock progressLock(progressMutex_);
        if (!progress_.wait_until(progressLock, deadline, [&] { return progressCount_ != seen; }))
            return false;
    }
}

void FileReader::notifyProgress()
{
    {
        std::lock_guard lock(progressMutex_);
        ++progressCount_;
    }
    progress_.notify_all();
}

// Sleeps until a seek after `seenSeek`, quit, or the end of `timeout` when one is given.
void FileReader::waitForWork(uint64_t seenSeek, std::optional<std::chrono::microseconds> timeout)
{
    std::unique_lock lock(wakeMutex_);
    const auto woken = [&] { return quit_.load() || seekGeneration_.load(std::memory_order_relaxed) != seenSeek; };
    if (timeout)
        wake_.wait_for(lock, *timeout, woken);
    else
        wake_.wait(lock, woken);
}

// Under wakeMutex_: quit, a seek after `seekGeneration`, or the consumer role
// changing hands since the count was `consumerSeen`.
bool FileReader::wokenSince(uint64_t seekGeneration, uint64_t consumerSeen) const
{
    return quit_.load() || seekGeneration_.load(std::memory_order_relaxed) != seekGeneration ||
           consumerChanges_ != consumerSeen;
}

// The ring is full. While the callback plays, nothing can tell the reader
// that room has come, so it sleeps a bounded step; otherwise only a seek, quit
// or the consumer role changing hands (which may free the ring) bring room,
// and each of those wakes it: a stopped or paused player's reader sleeps.
void FileReader::waitForRoom(uint64_t seekGeneration)
{
    std::unique_lock lock(wakeMutex_);
    const uint64_t consumerSeen = consumerChanges_;
    const auto woken = [&] { return wokenSince(seekGeneration, consumerSeen); };
    if (!callbackConsumes_.load()) {
        wake_.wait(lock, [&] { return woken() || feed_.writableFrames() > 0; });
        return;
    }
    wake_.wait_for(lock, roomStep_, woken);
    // A device that plays faster than the clock (a file) empties much of the
    // ring within a step: the steps shorten until the reader keeps up, and grow
    // back to the full step on a device that keeps time.
    const size_t room = feed_.writableFrames();
    if (room > feed_.capacityFrames() / 2)
        roomStep_ = std::max(roomStep_ / 2, std::chrono::microseconds(1000));
    else if (room < feed_.capacityFrames() / 4)
        roomStep_ = std::min(roomStep_ * 2, roomWait_);
}

// Nothing more is recorded yet. While the device plays, the reader looks again
// once part of what the ring holds has played; while it is stopped or paused,
// it sleeps until the device starts, a seek or quit.
void FileReader::waitAtLiveEdge(uint64_t seekGeneration)
{
    std::unique_lock lock(wakeMutex_);
    const uint64_t consumerSeen = consumerChanges_;
    const auto woken = [&] { return wokenSince(seekGeneration, consumerSeen); };
    if (callbackConsumes_.load()) {
        // Half of what the ring still holds goes by before the reader looks
        // again, so that its looks stay few without the ring running dry.
        const auto queued = static_cast<int64_t>(feed_.capacityFrames() - feed_.writableFrames());
        const std::chrono::microseconds holds(queued * 1'000'000 / format_.sampleRate);
        wake_.wait_for(lock, std::clamp<std::chrono::microseconds>(holds / 2, FollowPause, LongestFollowPause), woken);
    } else {
        wake_.wait(lock, woken);
    }
}

void FileReader::serveAsConsumer()
{
    if (feed_.segmentTaken())
        return;
    std::unique_lock lock(consumerMutex_, std::try_to_lock);
    if (lock.owns_lock() && !callbackConsumes_.load())
        feed_.takePendingSegment(steadyNowNs());
}

// Reader thread: queues all of `frames`, waiting for room. Gives up (false)
// when the player quits or seeks elsewhere meanwhile.
bool FileReader::push(const float* interleaved, size_t frames, uint64_t seekGeneration)
{
    const auto channels = static_cast<size_t>(format_.channels);
    for (;;) {
        const size_t written = feed_.write(interleaved, frames);
        if (written > 0)
            notifyProgress();
        interleaved += written * channels;
        frames -= written;
        if (frames == 0)
            return true;
        serveAsConsumer();
        waitForRoom(seekGeneration);
        if (quit_.load() || seekGeneration_.load(std::memory_order_acquire) != seekGeneration)
            return false;
    }
}

void FileReader::run()
{
    // A name of its own, so that its wake-ups can be told apart (top -H, /proc).
    pthread_setname_np(pthread_self(), "tarnveil-reader");
    // Beside a busy machine the ring must not run dry while builds take the cores.
    requestRealtimeScheduling();
    const auto inChannels = static_cast<size_t>(file_->channels());
    const auto outChannels = static_cast<size_t>(format_.channels);
    std::vector<float> decoded(blockFrames_ * inChannels);
    std::vector<float> mixed(blockFrames_ * outChannels);
    std::vector<float> converted;
    converted.reserve(fullMarginFor(blockFrames_, resampler_) * outChannels);

    uint64_t handledSeek = 0;
    int64_t filePosition = 0;
    bool ended = false;
    int blocksSinceLinkCheck = 0;
    while (!quit_.load()) {
        const uint64_t requestedSeek = seekGeneration_.load(std::memory_order_acquire);
        if (requestedSeek != handledSeek) {
            // The feed's mailbox holds one segment: the next waits until the consumer took it.
            serveAsConsumer();
            if (!feed_.segmentTaken()) {
                waitForWork(requestedSeek, std::chrono::milliseconds(1));
                continue;
            }
            handledSeek = requestedSeek;
            onDrive([&] {
                if (follow_)
                    file_ = &follow_->beginSegment();
                filePosition = std::clamp<int64_t>(seekFrame_.load(std::memory_order_relaxed), 0, file_->frames());
                ended = !file_->seek(filePosition);
            });
            if (resampler_)
                resampler_->reset();
            feed_.startSegment(filePosition, handledSeek);
            if (ended) {
                reachedDeclaredEnd_.store(false, std::memory_order_release);
                feed_.markEnd();
            }
            serveAsConsumer();
            notifyProgress();
            continue;
        }
        serveAsConsumer();
        if (ended) {
            waitForWork(handledSeek, std::nullopt);
            continue;
        }

        auto wanted = static_cast<int64_t>(blockFrames_);
        if (follow_) {
            const LiveFollow::Step step = onDrive([&] { return follow_->next(filePosition, wanted); });
            if (step.kind == LiveFollow::Step::Kind::Wait) {
                liveEdgeGeneration_.store(handledSeek, std::memory_order_release);
                notifyProgress();
                waitAtLiveEdge(handledSeek);
                continue;
            }
            if (step.kind == LiveFollow::Step::Kind::Rotated) {
                // The next log's samples join the same stretch: no gap, nothing dropped.
                file_ = &follow_->readerFile();
                filePosition = 0;
                follow_->markSeam(handledSeek, feed_.segmentFramesWritten());
                continue;
            }
            wanted = step.frames;
        }
        int64_t got = wanted > 0 ? onDrive([&] { return file_->read(decoded.data(), wanted); }) : 0;
        if (got == 0 && wanted > 0 && follow_ && ranDryWhileGrowing(*file_, filePosition)) {
            // A compressed log's decoder found its end only by reading: the
            // follower waits for more from here.
            continue;
        }
        if (++blocksSinceLinkCheck >= BlocksBetweenLinkChecks) {
            blocksSinceLinkCheck = 0;
            if (onDrive([&] { return file_->unlinked(); }))
                got = 0;
        }
        if (got > 0) {
            filePosition += got;
            const auto frames = static_cast<size_t>(got);
            mixer_.mix(decoded.data(), mixed.data(), frames);
            bool queued = true;
            if (resampler_) {
                converted.clear();
                resampler_->process(mixed.data(), frames, false, converted);
                queued = push(converted.data(), converted.size() / outChannels, handledSeek);
            } else {
                queued = push(mixed.data(), frames, handledSeek);
            }
            if (!queued)
                continue;
        } else {
            bool queued = true;
            if (resampler_) {
                converted.clear();
                resampler_->process(mixed.data(), 0, true, converted);
                queued = push(converted.data(), converted.size() / outChannels, handledSeek);
            }
            if (!queued)
                continue;
            reachedDeclaredEnd_.store(filePosition >= file_->frames(), std::memory_order_release);
            feed_.markEnd();
            ended = true;
            notifyProgress();
        }
    }
}

} // namespace tarnveil
