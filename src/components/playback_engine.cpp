#include "components/playback_engine.h"

#include "components/audio_stream.h"
#include "components/file_reader.h"
#include "components/player_settings.h"
#include "components/realtime_priority.h"
#include "components/sound_file.h"
#include "components/wave_player.h"
#include "platform/failure.h"
#include "share/drive_lane.h"
#include "share/posted_call.h"

#include <QObject>
#include <QTimer>

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tarnveil {

// The seam notice's way back to the engine. A released reader may still mark a
// seam after the engine has let it go or has been destroyed; once cut, the
// notice reaches nothing.
struct SeamRelay {
    std::mutex mutex;
    PlaybackEngine* engine = nullptr; // under mutex; null once cut
    QObject* target = nullptr;        // under mutex

    void notify()
    {
        std::lock_guard lock(mutex);
        if (engine != nullptr)
            postCall(target, [engine = engine] { engine->watchSeams(); });
    }
    void cut()
    {
        std::lock_guard lock(mutex);
        engine = nullptr;
        target = nullptr;
    }
};

namespace {
// How often the GUI thread looks whether the seam into the next log has been heard.
constexpr int SeamPollMs = 10;
// How often the GUI thread looks whether the reader is stuck on the drive.
constexpr int DriveWatchMs = 250;

// The GUI thread waits on the reader no longer than this: a reader stuck on a
// share that has stopped answering must not freeze the console.
constexpr std::chrono::milliseconds LongestReaderWait{50};

// A file and its reader on their way out; the reader, which uses the file, goes first.
// The follower owns the logs after the first, so it goes after the reader too.
struct ReleasedFile {
    std::unique_ptr<SoundFile> file;
    std::unique_ptr<LiveFollow> follow;
    std::unique_ptr<FileReader> reader;
};

// Formats to offer a device, best first: the file's own rate and channels (up
// to two), stereo for devices that will not play mono, then the device's rate
// and the common rates, converted.
std::vector<StreamFormat> candidateFormats(const SoundFile& file, const PaDeviceInfo& device)
{
    const int deviceChannels = std::max(1, device.maxOutputChannels);
    const int wanted = std::min({file.channels(), 2, deviceChannels});
    std::vector<StreamFormat> formats;
    auto add = [&](int channels, int rate) {
        const StreamFormat format{channels, rate};
        if (rate > 0 && channels <= deviceChannels && std::find(formats.begin(), formats.end(), format) == formats.end())
            formats.push_back(format);
    };
    for (const int rate : {file.sampleRate(), static_cast<int>(std::lround(device.defaultSampleRate)), 48000, 44100}) {
        add(wanted, rate);
        add(2, rate);
    }
    return formats;
}
} // namespace

PlaybackEngine::PlaybackEngine(std::function<void()> ended)
    : ended_(std::move(ended)), completionTarget_(std::make_unique<QObject>())
{
}

PlaybackEngine::~PlaybackEngine() noexcept
{
    acceptingCompletions_.store(false);
    try {
        close();
    } catch (const std::exception&) {
        // No thread could be had to release the reader on: it was released
        // here instead, and nothing more is left to do for an engine on its way out.
    }
}

void PlaybackEngine::close()
{
    stream_.reset();
    if (seamTimer_)
        seamTimer_->stop();
    if (seamRelay_)
        std::exchange(seamRelay_, nullptr)->cut();
    if (file_ || follow_ || reader_)
        releaseOwnedInBackground(ReleasedFile{std::move(file_), std::move(follow_), std::move(reader_)});
    state_ = State::Idle;
    heldFrame_ = 0;
    readerAtHeld_ = false;
}

void PlaybackEngine::open(const std::filesystem::path& file, LiveLogSource liveLog)
{
    close();
    // Decided before the source is moved away: argument order is the compiler's.
    const auto growth = liveLog ? SoundFile::Growth::Growing : SoundFile::Growth::Fixed;
    adopt(std::make_unique<SoundFile>(file, growth), file, std::move(liveLog));
}

void PlaybackEngine::adopt(std::unique_ptr<SoundFile> opened, const std::filesystem::path& file, LiveLogSource liveLog)
{
    close();
    if (!opened)
        return;
    file_ = std::move(opened);
    // The device is not known yet; most take the file as it is, and Play
    // rebuilds the reader for the few that do not.
    const StreamFormat tentative{std::min(file_->channels(), 2), file_->sampleRate()};
    try {
        if (liveLog) {
            follow_ = std::make_unique<LiveFollow>(*file_, file, std::move(liveLog));
            seamRelay_ = std::make_shared<SeamRelay>();
            seamRelay_->engine = this;
            seamRelay_->target = completionTarget_.get();
            follow_->setSeamNotice([relay = seamRelay_] { relay->notify(); });
            follow_->aim();
        }
        reader_ = std::make_unique<FileReader>(*file_, tentative, 0, ++seekGeneration_, follow_.get());
    } catch (...) {
        close();
        throw;
    }
    readerAtHeld_ = true;
}

SoundFile& PlaybackEngine::playingFile() const
{
    return follow_ ? follow_->heardFile() : *file_;
}

int32_t PlaybackEngine::lengthMs() const
{
    if (!file_)
        return 0;
    const SoundFile& file = playingFile();
    return static_cast<int32_t>(framesToMs(file.frames(), file.sampleRate()));
}

int32_t PlaybackEngine::positionMs() const
{
    if (!file_)
        return 0;
    const int64_t frame = state_ == State::Playing ? heardFrame() : heldFrame_;
    return static_cast<int32_t>(framesToMs(frame, playingFile().sampleRate()));
}

void PlaybackEngine::seek(int32_t ms)
{
    if (!file_)
        return;
    const SoundFile& file = playingFile();
    const int32_t clamped = std::clamp(ms, 0, lengthMs());
    const int64_t frame = std::min(msToFrames(clamped, file.sampleRate()), file.frames());
    if (state_ != State::Playing) {
        requestSeek(frame);
        return;
    }
    // What the device holds is from the old place: dropping it lets the new
    // one be heard at once instead of after the device's queue.
    stream_->abort();
    reader_->takeConsumerBack();
    requestSeek(frame);
    try {
        startStream();
    } catch (const Failure&) {
        // The device has gone meanwhile; the playback ends at the new position.
        finishPlayback();
    }
}

void PlaybackEngine::requestSeek(int64_t frame)
{
    heldFrame_ = frame;
    if (follow_)
        follow_->aim();
    reader_->seek(frame, ++seekGeneration_);
    readerAtHeld_ = state_ != State::Playing;
}

int64_t PlaybackEngine::fileFrameAt(const HeardSnapshot& snapshot, int64_t deviceFrames) const
{
    const StreamFormat format = reader_->format();
    const SoundFile& file = playingFile();
    int64_t startFrame = snapshot.segmentStartFrame;
    if (follow_) {
        // Heard past a seam: the stretch continues in the next log from its start.
        if (const std::optional<int64_t> seam = follow_->heardStart(snapshot.seekGeneration)) {
            startFrame = 0;
            deviceFrames -= *seam;
        }
    }
    const int64_t frame = startFrame + deviceFrames * file.sampleRate() / format.sampleRate;
    return std::clamp<int64_t>(frame, 0, file.frames());
}

int64_t PlaybackEngine::heardFrame() const
{
    const HeardSnapshot snapshot = reader_->feed().snapshot();
    // A seek the callback has not reached yet is what the operator asked to hear.
    if (snapshot.seekGeneration != seekGeneration_)
        return heldFrame_;
    return fileFrameAt(snapshot, heardDeviceFrames(snapshot));
}

int64_t PlaybackEngine::heardDeviceFrames(const HeardSnapshot& snapshot) const
{
    // The device plays on between callbacks: count forward from the moment the
    // last buffer handed over starts to sound, but never past its end.
    const double elapsed = static_cast<double>(steadyNowNs() - snapshot.dacTimeNs) * 1e-9;
    const double sinceBuffer = elapsed * reader_->format().sampleRate;
    const int64_t handedOver = snapshot.framesBefore + snapshot.framesInBuffer;
    return std::clamp<int64_t>(snapshot.framesBefore + static_cast<int64_t>(std::floor(sinceBuffer)), 0,
                               handedOver);
}

void PlaybackEngine::watchSeams()
{
    if (!follow_)
        return;
    if (!seamTimer_) {
        seamTimer_ = std::make_unique<QTimer>();
        seamTimer_->setInterval(SeamPollMs);
        QObject::connect(seamTimer_.get(), &QTimer::timeout, [this] {
            if (!follow_ || !follow_->seamPending()) {
                seamTimer_->stop();
                return;
            }
            if (state_ != State::Playing)
                return;
            const HeardSnapshot snapshot = reader_->feed().snapshot();
            if (snapshot.seekGeneration == seekGeneration_)
                passHeardSeams(heardDeviceFrames(snapshot));
        });
    }
    seamTimer_->start();
}

// A share that stops answering only empties the ring, and the device plays
// silence: the operator is told once per stall, and playback goes on when the
// share answers.
void PlaybackEngine::watchDrive()
{
    if (state_ != State::Playing) {
        driveTimer_->stop();
        return;
    }
    raiseCallbackThread();
    const int64_t since = reader_->onDriveSinceNs();
    const uint64_t starved = reader_->feed().starvedPulls();
    if (since != driveWatch_.onDriveSinceNs) {
        driveWatch_ = DriveWatch{since, starved, false};
        return;
    }
    const bool ranDry = starved != driveWatch_.starvedPulls;
    const auto waited = std::chrono::nanoseconds(steadyNowNs() - since);
    if (since == 0 || driveWatch_.reported || !ranDry || waited < DriveDeadline)
        return;
    driveWatch_.reported = true;
    if (driveStalled_)
        driveStalled_();
}

// The callback thread is raised to real-time scheduling once it has named
// itself, on a thread of its own, so that neither the callback nor the GUI
// waits for a broker's round trip. PortAudio's own raise is not used: it runs
// after the callback thread has started, and fails the start when that thread
// has already ended, as it does for a log that ends at once.
void PlaybackEngine::raiseCallbackThread()
{
    const pid_t thread = link_.thread.load(std::memory_order_relaxed);
    if (thread == 0 || thread == raisedThread_)
        return;
    raisedThread_ = thread;
    if (sched_getscheduler(thread) == SCHED_OTHER)
        std::thread([thread] { requestRealtimeScheduling(thread); }).detach();
}

void PlaybackEngine::passHeardSeams(int64_t heardDeviceFrames)
{
    while (const std::optional<std::filesystem::path> next = follow_->advance(seekGeneration_, heardDeviceFrames)) {
        if (logChanged_)
            logChanged_(*next);
    }
}

void PlaybackEngine::ensureReader(const StreamFormat& format)
{
    if (reader_->format() == format) {
        if (!readerAtHeld_)
            requestSeek(heldFrame_);
        return;
    }
    // One reader at a time may use the file: the old one goes first. One that
    // is stuck on a share that has stopped answering takes the file with it.
    const StreamFormat previous = reader_->format();
    if (!reader_->quitWithin(LongestReaderWait)) {
        close();
        throw Failure(FailureCode::DeviceIoError, "the log does not answer");
    }
    reader_.reset();
    if (follow_)
        follow_->aim();
    try {
        reader_ = std::make_unique<FileReader>(playingFile(), format, heldFrame_, ++seekGeneration_, follow_.get());
    } catch (...) {
        reader_ = std::make_unique<FileReader>(playingFile(), previous, heldFrame_, ++seekGeneration_, follow_.get());
        throw;
    }
    readerAtHeld_ = true;
}

void PlaybackEngine::openStream(int32_t deviceId)
{
    const std::string card = "sound card " + std::to_string(deviceId);
    std::string why = "no such device";
    if (!session_)
        session_.emplace();
    for (int attempt = 0; attempt < 2; ++attempt) {
        // PortAudio sees a restarted sound server, or a card plugged in since it
        // started, only after a fresh initialisation.
        if (attempt > 0)
            session_->rescan();
        const auto& devices = session_->outputDevices();
        if (deviceId < 0 || static_cast<size_t>(deviceId) >= devices.size())
            continue;
        const PaDeviceIndex device = devices[static_cast<size_t>(deviceId)];
        const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
        if (info == nullptr)
            continue;
        for (const StreamFormat& format : candidateFormats(*file_, *info)) {
            if (!AudioStream::supports(device, format, PlayerSettings::DeviceLatency, why))
                continue;
            ensureReader(format);
            link_.feed = &reader_->feed();
            link_.fallbackLatency = 0.0;
            link_.sampleRate = format.sampleRate;
            link_.engine = this;
            try {
                stream_ = std::make_unique<AudioStream>(device, format, PlayerSettings::bufferFrames(format.sampleRate),
                                                        PlayerSettings::DeviceLatency, &streamCallback,
                                                        &streamFinished, &link_);
            } catch (const Failure& failure) {
                // A device that takes the format and then fails to open is in
                // trouble as a whole: start afresh.
                why = failure.description();
                break;
            }
            link_.fallbackLatency = stream_->outputLatency();
            reader_->feed().setDrainFrames(
                static_cast<int64_t>(std::ceil(link_.fallbackLatency * format.sampleRate)) +
                static_cast<int64_t>(PlayerSettings::bufferFrames(format.sampleRate)));
            return;
        }
    }
    throw Failure(FailureCode::DeviceUnavailable, card + ": " + why);
}

bool PlaybackEngine::waitForBufferedAudio(std::chrono::milliseconds timeout)
{
    return state_ != State::Playing && waitUntilPrimed(timeout);
}

bool PlaybackEngine::waitUntilPrimed(std::chrono::milliseconds timeout)
{
    return reader_ && reader_->waitUntilPrimed(seekGeneration_, timeout);
}

PlaybackDropouts PlaybackEngine::dropouts() const
{
    PlaybackDropouts dropouts;
    dropouts.deviceUnderflows = deviceUnderflows_.load(std::memory_order_relaxed);
    if (reader_)
        dropouts.starvedBuffers = reader_->feed().starvedPulls();
    return dropouts;
}

// The stream is stopped, or playing and aborted for a seek.
void PlaybackEngine::startStream()
{
    // Starting on queued audio keeps a sluggish first read from being heard as a gap.
    waitUntilPrimed(std::min(std::chrono::milliseconds(PlayerSettings::PrimeTimeoutMs), LongestReaderWait));
    run_.fetch_add(1);
    reader_->handConsumerToCallback();
    link_.thread.store(0, std::memory_order_relaxed);
    link_.timeline.restart();
    try {
        stream_->start();
    } catch (...) {
        reader_->takeConsumerBack();
        throw;
    }
    readerAtHeld_ = false;
    if (!driveTimer_) {
        driveTimer_ = std::make_unique<QTimer>();
        driveTimer_->setInterval(DriveWatchMs);
        QObject::connect(driveTimer_.get(), &QTimer::timeout, [this] { watchDrive(); });
    }
    driveTimer_->start();
}

void PlaybackEngine::haltStream()
{
    const int64_t heard = heardFrame();
    stream_->abort();
    reader_->takeConsumerBack();
    // What the device still held is gone: the reader starts again where the ear left off.
    requestSeek(heard);
}

void PlaybackEngine::play(int32_t deviceId)
{
    if (!file_ || state_ != State::Idle)
        return;
    openStream(deviceId);
    try {
        startStream();
    } catch (...) {
        stream_.reset();
        throw;
    }
    state_ = State::Playing;
}

void PlaybackEngine::pause()
{
    if (state_ != State::Playing)
        return;
    haltStream();
    state_ = State::Paused;
}

void PlaybackEngine::resume()
{
    if (state_ != State::Paused)
        return;
    startStream();
    state_ = State::Playing;
}

void PlaybackEngine::stop()
{
    if (state_ == State::Playing)
        haltStream();
    stream_.reset();
    state_ = State::Idle;
}

StreamFormat PlaybackEngine::outputFormat() const
{
    return reader_ ? reader_->format() : StreamFormat{};
}

LevelReading PlaybackEngine::takeLevels()
{
    LevelReading reading;
    if (!reader_)
        return reading;
    reading.channels = reader_->format().channels;
    reader_->feed().takeHeardPeaks(steadyNowNs(), reading.peak);
    return reading;
}

int PlaybackEngine::streamCallback(const void* /*input*/, void* output, unsigned long frames,
                                   const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags flags,
                                   void* userData)
{
    auto* link = static_cast<CallbackLink*>(userData);
    if (link->thread.load(std::memory_order_relaxed) == 0)
        link->thread.store(gettid(), std::memory_order_relaxed);
    if ((flags & paOutputUnderflow) != 0)
        link->engine->deviceUnderflows_.fetch_add(1, std::memory_order_relaxed);
    double latency = time != nullptr ? time->outputBufferDacTime - time->currentTime : -1.0;
    if (!(latency >= 0.0 && latency < 10.0))
        latency = link->fallbackLatency;
    const int64_t nowNs = steadyNowNs();
    const auto bufferNs = static_cast<int64_t>(frames) * 1'000'000'000 / link->sampleRate;
    const int64_t dacTimeNs = link->timeline.bufferDue(nowNs, nowNs + static_cast<int64_t>(latency * 1e9), bufferNs,
                                                       static_cast<int64_t>(link->fallbackLatency * 1e9) + bufferNs);
    return link->feed->pull(static_cast<float*>(output), frames, nowNs, dacTimeNs) ? paContinue : paComplete;
}

void PlaybackEngine::streamFinished(void* userData)
{
    auto* link = static_cast<CallbackLink*>(userData);
    PlaybackEngine* engine = link->engine;
    if (!engine->acceptingCompletions_.load())
        return;
    const uint64_t run = engine->run_.load();
    if (link->feed->completed()) {
        postCall(engine->completionTarget_.get(), [engine, run] { engine->handleCompletion(run); });
        return;
    }
    // Stops and pauses end the stream too; the GUI thread tells those apart
    // from a device that failed under a running playback.
    postCall(engine->completionTarget_.get(), [engine, run] { engine->handleDeviceLoss(run); });
}

// The stream ended before the data did while nobody stopped it: the device has
// gone (the sound server died, the card was pulled). The playback ends where it
// was last heard, as after Stop, so that the console does not show a playback
// that nobody hears; a later Play opens the device afresh.
void PlaybackEngine::handleDeviceLoss(uint64_t run)
{
    if (run != run_.load() || state_ != State::Playing || !stream_ || stream_->isActive())
        return;
    haltStream();
    finishPlayback();
}

void PlaybackEngine::handleCompletion(uint64_t run)
{
    if (run != run_.load() || state_ != State::Playing)
        return;
    stream_->stop();
    reader_->takeConsumerBack();
    const HeardSnapshot snapshot = reader_->feed().snapshot();
    if (snapshot.seekGeneration != seekGeneration_) {
        // The operator moved the position while the last buffer played out: go on from there.
        try {
            startStream();
        } catch (const Failure&) {
            // The device has gone meanwhile; the playback ends at the new position.
            finishPlayback();
        }
        return;
    }
    const int64_t handedOver = snapshot.framesBefore + snapshot.framesInBuffer;
    if (follow_)
        passHeardSeams(handedOver);
    heldFrame_ = reader_->reachedDeclaredEnd() ? playingFile().frames() : fileFrameAt(snapshot, handedOver);
    finishPlayback();
}

void PlaybackEngine::finishPlayback()
{
    stream_.reset();
    state_ = State::Idle;
    readerAtHeld_ = false;
    ended_();
}

} // namespace tarnveil
