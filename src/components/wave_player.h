#pragma once

#include "components/live_follow.h"

#include <QObject>

#include <cstdint>
#include <filesystem>
#include <memory>

namespace tarnveil {

class PlaybackEngine;
class SoundFile;
class WavePlayer;
struct PlaybackDropouts;

// What the player knows of the open file; Length is 0 while no file is open.
class PlayerWave {
public:
    explicit PlayerWave(const WavePlayer& player) : player_(player) {}
    int32_t Length() const; // milliseconds, GUI thread only

private:
    const WavePlayer& player_;
};

// Peak levels of what is being heard, for the level meter. Values are linear
// peaks 0..1 of the audio that has started to sound since the previous read;
// reading resets them (GUI thread).
struct LevelReading {
    int channels = 0;
    float peak[2] = {0.0F, 0.0F};
};

// Plays one WAV file on one output device. Every method is for the GUI thread;
// decoding runs on a reader thread and the device is fed from a real-time
// callback. Failures are thrown as tarnveil::Failure.
//
// Events are always queued: they reach the GUI thread's handlers after the call
// that caused them has returned, in the order they were raised.
//  - PlaybackRunning after every Play and after Resume of a paused file.
//  - PlaybackStopped after Stop of a playing or paused file, when a new
//    FileName interrupts one, and once the last sample of a file played to its
//    end has been heard (also when the file was cut short or deleted meanwhile).
//  - LogChanged when playback following a live log has gone on into the next
//    log and its first sample is heard; FileName, Length and Position refer to
//    that log from then on.
//  - DriveStalled once the reader has waited DriveDeadline on the file's drive
//    while what is heard ran dry; playback goes on when the drive answers.
// Stop while idle, Resume unless paused, and Pause raise nothing. Samples
// reach the device as 32-bit floats, at the file's rate unless the device
// refuses it.
class WavePlayer : public QObject {
    Q_OBJECT

public:
    explicit WavePlayer(QObject* parent = nullptr);
    ~WavePlayer() override;

    // Device numbers are positions in WaveOut's list; 0 is the system default.
    // Taken at the next Play that starts a file (a Resume stays on its device).
    void setDeviceID(int32_t device);
    int32_t DeviceID() const { return deviceId_; }

    // Opens the file (stopping what plays); Length then reports it and Position is 0.
    // Throws when the file is missing, unreadable or no audio; no file is open then.
    // With `liveLog`, the file is the log being recorded: playback does not end
    // at what has been recorded so far but follows the log as it grows, and on
    // into the next log when `liveLog` names another one (see LiveFollow).
    void setFileName(const std::filesystem::path& file, LiveLogSource liveLog = {});
    // The same with `opened`, the file already opened off the GUI thread (a
    // file on a share may take any time to open; a log being recorded opened
    // as growing), or null when that open failed: no file is open then, and
    // Play reports that rather than trying the file again on the GUI thread.
    void setFileName(const std::filesystem::path& file, std::unique_ptr<SoundFile> opened,
                     LiveLogSource liveLog = {});
    // Whether the open file was opened as the log being recorded.
    bool isFollowing() const;
    const std::filesystem::path& FileName() const { return fileName_; }

    const PlayerWave& Wave() const { return wave_; }
    int32_t LengthMs() const;

    // The position being heard, in milliseconds. Setting it seeks, also while
    // playing or paused, and before Play; it is clamped to 0 .. Length. After the
    // end of a file it equals Length; after Stop it stays where playback stopped.
    int32_t Position() const;
    void setPosition(int32_t ms);

    // Plays the named file from Position. While playing it only raises
    // PlaybackRunning again; while paused it resumes. When the named file could
    // not be opened, it tries again and throws the reason.
    void Play();
    void Stop();
    void Pause();
    void Resume();

    bool isPlaying() const;
    bool isPaused() const;

    LevelReading takeLevels();
    // Gaps in what was heard, for benchmarks and soaks.
    PlaybackDropouts dropouts() const;

signals:
    void PlaybackRunning();
    void PlaybackStopped();
    // The position was set; emitted at once, before setPosition returns.
    void PositionMoved();
    void LogChanged(const std::filesystem::path& file);
    void DriveStalled();

private:
    void post(void (WavePlayer::*event)());
    void stopForNewFile();

    int32_t deviceId_ = 0;
    std::filesystem::path fileName_;
    bool openOnPlay_ = true; // Play may open the named file itself
    PlayerWave wave_{*this};
    std::unique_ptr<PlaybackEngine> engine_;
};

} // namespace tarnveil
