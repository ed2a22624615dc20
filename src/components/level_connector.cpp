#include "components/level_connector.h"

#include "components/level_meter.h"
#include "components/wave_player.h"

namespace tarnveil {

MMConnector::MMConnector(QObject* parent) : QObject(parent)
{
    timer_.setInterval(IntervalMs);
    connect(&timer_, &QTimer::timeout, this, &MMConnector::poll);
}

void MMConnector::setInput(WavePlayer* player)
{
    if (input_ == player)
        return;
    if (input_)
        disconnect(input_, nullptr, this, nullptr);
    input_ = player;
    if (input_) {
        connect(input_, &WavePlayer::PlaybackRunning, this, &MMConnector::wake);
        // Stopping lets the bars fall; the poll notices the player is idle.
        connect(input_, &WavePlayer::PlaybackStopped, this, &MMConnector::wake);
    }
    wake();
}

void MMConnector::setLevel1(MMLevel* level)
{
    level1_ = level;
    wake();
}

void MMConnector::wake()
{
    if (level1_ && !timer_.isActive())
        timer_.start();
}

void MMConnector::poll()
{
    if (!level1_) {
        timer_.stop();
        return;
    }
    if (input_ && input_->isPlaying()) {
        level1_->showLevels(input_->takeLevels());
        return;
    }
    level1_->showLevels(LevelReading{});
    if (level1_->atRest())
        timer_.stop();
}

} // namespace tarnveil
