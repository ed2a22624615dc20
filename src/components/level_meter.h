#pragma once

#include <QWidget>

namespace tarnveil {

struct LevelReading;

// Two-channel peak meter in dBFS with falling bars and peak hold.
class MMLevel : public QWidget {
    Q_OBJECT

public:
    explicit MMLevel(QWidget* parent = nullptr);

    // Floor of the scale; the meter shows MinimumDb .. 0 dBFS.
    static constexpr double MinimumDb = -50.0;

    // Called with each new reading while playing; an empty reading lets the bars fall.
    void showLevels(const LevelReading& reading);

    double barDb(int channel) const;
    double peakHoldDb(int channel) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Printed dB scale matching MMLevel: 11 ticks, every 5th larger.
class MMLevelScale : public QWidget {
    Q_OBJECT

public:
    explicit MMLevelScale(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace tarnveil
