#pragma once

#include "components/dac_timeline.h"
#include "components/live_follow.h"
#include "components/playback_feed.h"
#include "components/portaudio_session.h"

#include <portaudio.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class QObject;
class QTimer;

namespace tarnveil {

class AudioStream;
class FileReader;
class SoundFile;
struct LevelReading;
struct SeamRelay;

struct PlaybackDropouts {
    uint64_t deviceUnderflows = 0; // buffers the device ran out of (PortAudio's output underflow)
    uint64_t starvedBuffers = 0;   // buffers the reader had not filled in time
};

// The machinery behind WavePlayer: one open file, its reader thread, and a
// device stream while playing or paused. Positions are file frames inside and
// milliseconds outside. GUI thread only, except where a method says otherwise.
class PlaybackEngine {
public:
    enum class State { Idle, Playing, Paused };

    // `ended` runs on the GUI thread, from the event queue, once a file played
    // to its end (or until its data ran out) has been heard.
    explicit PlaybackEngine(std::function<void()> ended);
    ~PlaybackEngine() noexcept;
    PlaybackEngine(const PlaybackEngine&) = delete;
    PlaybackEngine& operator=(const PlaybackEngine&) = delete;

    // Closes what was open, then opens `file` at position 0 and starts decoding
    // ahead. Throws Failure; the player is then left without a file. With
    // `liveLog`, `file` is the log being recorded: playback follows it as it
    // grows and on into the next log (see LiveFollow).
    void open(const std::filesystem::path& file, LiveLogSource liveLog = {});
    // Closes what was open, then takes `opened` (the file at `file`, opened
    // elsewhere; growing when `liveLog` is given) as open() does; null leaves
    // the player without a file.
    void adopt(std::unique_ptr<SoundFile> opened, const std::filesystem::path& file, LiveLogSource liveLog = {});
    // The reader and the file are released on a thread of their own: on a share
    // that has stopped answering, either may wait in the kernel for ever.
    void close();
    bool isOpen() const { return file_ != nullptr; }
    bool following() const { return follow_ != nullptr; }

    // Runs on the GUI thread when the seam into the next log has been heard;
    // positions and the length refer to that log from then on.
    void setLogChanged(std::function<void(const std::filesystem::path&)> changed) { logChanged_ = std::move(changed); }
    // Runs on the GUI thread once a stall begins: while playing, the reader has
    // waited DriveDeadline for the file's drive and what is heard ran dry.
    void setDriveStalled(std::function<void()> stalled) { driveStalled_ = std::move(stalled); }

    int32_t lengthMs() const;
    int32_t positionMs() const;
    // Clamped to the file; takes effect in what is heard within the device's
    // latency and one buffer.
    void seek(int32_t ms);

    // Idle -> Playing on the device numbered `deviceId` in WaveOut's list.
    // Throws Failure(DeviceUnavailable) for a number without a device or a
    // device that cannot be opened, Failure(DeviceIoError) when it will not start.
    void play(int32_t deviceId);
    void pause();  // Playing -> Paused
    void resume(); // Paused -> Playing, on the device in use
    void stop();   // Playing or Paused -> Idle, keeping the position

    State state() const { return state_; }

    // Channels and rate handed to the device (32-bit float samples).
    StreamFormat outputFormat() const;
    LevelReading takeLevels();

    // While not playing: waits until the reader has queued enough from the
    // current position to start on (or reached the end); false when `timeout`
    // passed first.
    bool waitForBufferedAudio(std::chrono::milliseconds timeout);

    // Gaps in what was heard: the device's underflows over the engine's life,
    // the reader's since the file was opened.
    PlaybackDropouts dropouts() const;

private:
    friend struct SeamRelay;

    struct CallbackLink {
        PlaybackFeed* feed = nullptr;
        double fallbackLatency = 0.0;
        int sampleRate = 48000;
        DacTimeline timeline; // restarted with each start of the stream
        PlaybackEngine* engine = nullptr;
        // The callback thread's id, published by its first callback after each start.
        std::atomic<pid_t> thread{0};
    };

    // Audio callback thread.
    static int streamCallback(const void* input, void* output, unsigned long frames,
                              const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags flags,
                              void* userData);
    // PortAudio's thread, when a stream has become inactive.
    static void streamFinished(void* userData);

    void handleCompletion(uint64_t run);
    void handleDeviceLoss(uint64_t run);
    void finishPlayback();
    int64_t heardFrame() const;
    int64_t heardDeviceFrames(const HeardSnapshot& snapshot) const;
    int64_t fileFrameAt(const HeardSnapshot& snapshot, int64_t deviceFrames) const;
    // The file positions and the length refer to: the one being heard.
    SoundFile& playingFile() const;
    void watchSeams();
    void watchDrive();
    void raiseCallbackThread();
    void passHeardSeams(int64_t heardDeviceFrames);
    void requestSeek(int64_t frame);
    bool waitUntilPrimed(std::chrono::milliseconds timeout);
    void ensureReader(const StreamFormat& format);
    void openStream(int32_t deviceId);
    void startStream();
    void haltStream();

    std::function<void()> ended_;
    std::function<void(const std::filesystem::path&)> logChanged_;
    std::function<void()> driveStalled_;
    // Receives the queued completion calls; destroyed with the engine, which
    // discards calls still queued.
    std::unique_ptr<QObject> completionTarget_;
    // Started by the first Play: initialising PortAudio probes every card, which
    // would otherwise hold up the console's start.
    std::optional<PortAudioSession> session_;
    std::unique_ptr<SoundFile> file_;
    std::unique_ptr<LiveFollow> follow_;
    // Shared with the follower's seam notice, which may run after the engine has gone.
    std::shared_ptr<SeamRelay> seamRelay_;
    std::unique_ptr<FileReader> reader_;
    // Polls for the seam into the next log while one lies ahead in the ring.
    std::unique_ptr<QTimer> seamTimer_;
    // Looks for a reader stuck on the drive while playing.
    std::unique_ptr<QTimer> driveTimer_;
    struct DriveWatch {
        int64_t onDriveSinceNs = 0; // the reader's wait being watched, 0 for none
        uint64_t starvedPulls = 0;  // when the watch began
        bool reported = false;
    } driveWatch_;
    std::unique_ptr<AudioStream> stream_;
    CallbackLink link_;
    pid_t raisedThread_ = 0; // the callback thread last seen to, GUI thread only
    State state_ = State::Idle;
    int64_t heldFrame_ = 0;       // the position while no stream runs
    uint64_t seekGeneration_ = 0; // of the last seek asked of the reader
    bool readerAtHeld_ = false;   // the reader's queue starts at heldFrame_
    std::atomic<uint64_t> run_{0};
    std::atomic<bool> acceptingCompletions_{true};
    std::atomic<uint64_t> deviceUnderflows_{0};
};

} // namespace tarnveil
