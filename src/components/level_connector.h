#pragma once

#include "components/level_meter.h"
#include "components/wave_player.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

namespace tarnveil {

// Links the player to the level meter: while the player plays, its peak levels
// reach the meter about 40 times a second; otherwise the meter gets empty
// readings until its bars have fallen to the floor, and the polling rests until
// the player runs again. GUI thread only.
class MMConnector : public QObject {
    Q_OBJECT

public:
    explicit MMConnector(QObject* parent = nullptr);

    static constexpr int IntervalMs = 25;

    void setInput(WavePlayer* player);
    WavePlayer* Input() const { return input_; }
    void setLevel1(MMLevel* level);
    MMLevel* Level1() const { return level1_; }

    // Whether the connector is feeding the meter at present.
    bool isPolling() const { return timer_.isActive(); }

private:
    void poll();
    void wake();

    QPointer<WavePlayer> input_;
    QPointer<MMLevel> level1_;
    QTimer timer_;
};

} // namespace tarnveil
