#include "components/wave_player.h"

#include "components/playback_engine.h"
#include "components/sound_file.h"
#include "platform/failure.h"

namespace tarnveil {

int32_t PlayerWave::Length() const
{
    return player_.LengthMs();
}

WavePlayer::WavePlayer(QObject* parent)
    : QObject(parent),
      // On a fast device the end can be reported before Play has queued its
      // PlaybackRunning; queueing this one too keeps the two in order.
      engine_(std::make_unique<PlaybackEngine>([this] { post(&WavePlayer::PlaybackStopped); }))
{
    engine_->setLogChanged([this](const std::filesystem::path& file) {
        fileName_ = file;
        QMetaObject::invokeMethod(this, [this, file] { emit LogChanged(file); }, Qt::QueuedConnection);
    });
    engine_->setDriveStalled([this] { post(&WavePlayer::DriveStalled); });
}

WavePlayer::~WavePlayer() = default;

void WavePlayer::post(void (WavePlayer::*event)())
{
    QMetaObject::invokeMethod(this, [this, event] { emit(this->*event)(); }, Qt::QueuedConnection);
}

void WavePlayer::setDeviceID(int32_t device)
{
    deviceId_ = device;
}

void WavePlayer::stopForNewFile()
{
    if (engine_->state() != PlaybackEngine::State::Idle) {
        engine_->stop();
        post(&WavePlayer::PlaybackStopped);
    }
}

void WavePlayer::setFileName(const std::filesystem::path& file, LiveLogSource liveLog)
{
    stopForNewFile();
    fileName_ = file;
    openOnPlay_ = true;
    engine_->open(file, std::move(liveLog));
}

void WavePlayer::setFileName(const std::filesystem::path& file, std::unique_ptr<SoundFile> opened,
                             LiveLogSource liveLog)
{
    stopForNewFile();
    fileName_ = file;
    openOnPlay_ = false;
    engine_->adopt(std::move(opened), file, std::move(liveLog));
}

bool WavePlayer::isFollowing() const
{
    return engine_->following();
}

int32_t WavePlayer::LengthMs() const
{
    return engine_->lengthMs();
}

int32_t WavePlayer::Position() const
{
    return engine_->positionMs();
}

void WavePlayer::setPosition(int32_t ms)
{
    engine_->seek(ms);
    emit PositionMoved();
}

void WavePlayer::Play()
{
    switch (engine_->state()) {
    case PlaybackEngine::State::Idle:
        if (!engine_->isOpen()) {
            if (fileName_.empty())
                throw Failure(FailureCode::BadFileName, "no wave file named");
            if (!openOnPlay_)
                throw Failure(FailureCode::PathFileAccessError, fileName_.string());
            engine_->open(fileName_);
        }
        engine_->play(deviceId_);
        break;
    case PlaybackEngine::State::Paused:
        engine_->resume();
        break;
    case PlaybackEngine::State::Playing:
        break;
    }
    post(&WavePlayer::PlaybackRunning);
}

void WavePlayer::Stop()
{
    if (engine_->state() == PlaybackEngine::State::Idle)
        return;
    engine_->stop();
    post(&WavePlayer::PlaybackStopped);
}

void WavePlayer::Pause()
{
    engine_->pause();
}

void WavePlayer::Resume()
{
    if (engine_->state() != PlaybackEngine::State::Paused)
        return;
    engine_->resume();
    post(&WavePlayer::PlaybackRunning);
}

bool WavePlayer::isPlaying() const
{
    return engine_->state() == PlaybackEngine::State::Playing;
}

bool WavePlayer::isPaused() const
{
    return engine_->state() == PlaybackEngine::State::Paused;
}

LevelReading WavePlayer::takeLevels()
{
    return engine_->takeLevels();
}

PlaybackDropouts WavePlayer::dropouts() const
{
    return engine_->dropouts();
}

} // namespace tarnveil
