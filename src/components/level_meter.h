#pragma once

#include <QElapsedTimer>
#include <QPixmap>
#include <QWidget>

#include <array>
#include <cstdint>

namespace tarnveil {

struct LevelReading;

// Two-channel horizontal peak meter in dBFS, 0 dBFS being 16-bit full scale:
// the left channel on top, the right below. Bars jump up to a new peak and fall
// back at a steady rate; a peak mark holds for a while before it falls too. A
// mono reading drives both bars. GUI thread only.
class MMLevel : public QWidget {
    Q_OBJECT

public:
    explicit MMLevel(QWidget* parent = nullptr);

    // Floor of the scale; the meter shows MinimumDb .. 0 dBFS.
    static constexpr double MinimumDb = -60.0;
    static constexpr double FallDbPerSecond = 24.0;
    static constexpr int PeakHoldMs = 1500;
    // Zones of the bar colours, in dBFS.
    static constexpr double YellowFromDb = -18.0;
    static constexpr double RedFromDb = -6.0;
    // Blank strip left and right of the bars; MMLevelScale keeps the same so
    // that its ticks stand under the matching dB values.
    static constexpr int SideMargin = 4;

    // Called with each new reading while playing; an empty reading lets the bars fall.
    void showLevels(const LevelReading& reading);
    // The same with the caller's clock (monotonic milliseconds).
    void showLevelsAt(const LevelReading& reading, int64_t nowMs);

    double barDb(int channel) const;
    double peakHoldDb(int channel) const;
    // True once bars and peak marks all stand at the floor: nothing left to animate.
    bool atRest() const;

    // Linear peak (1.0 = full scale) to dBFS, limited to MinimumDb .. 0.
    static double peakToDb(double peak);
    // Place of a dB value along the bar, 0 at the floor to 1 at 0 dBFS.
    static double fraction(double db);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Channel {
        double barDb = MinimumDb;
        double holdDb = MinimumDb;
        int64_t holdSinceMs = 0;
    };
    // What a bar shows at the present width: its first `lit` segments and the
    // one numbered `hold` (-1 for none) are lit.
    struct Segments {
        int lit = 0;
        int hold = -1;
        bool operator==(const Segments&) const = default;
    };
    Segments segmentsOf(const Channel& channel) const;
    int segmentCount() const;
    QRect segmentsRect(int channel, int first, int last) const;
    void updateChangedSegments();
    void drawStrips();

    std::array<Channel, 2> channels_;
    int64_t lastMs_ = -1;
    QElapsedTimer clock_;
    // The bars all dark and all lit, drawn once per size; a paint copies from them.
    QPixmap darkStrip_;
    QPixmap litStrip_;
    // What the screen shows, or is about to once the pending paint has run.
    std::array<Segments, 2> shown_;
};

// Printed dB scale matching MMLevel: 11 ticks from the floor to 0 dBFS, every
// 5th larger, hanging from the top edge (the side that faces the meter).
class MMLevelScale : public QWidget {
    Q_OBJECT

public:
    explicit MMLevelScale(QWidget* parent = nullptr);

    static constexpr int TickCount = 11;
    static constexpr int EnlargeEvery = 5;
    static constexpr int TickSize = 7; // length of the larger ticks

    // x of tick `index` (0 = floor, TickCount - 1 = 0 dBFS) at the present width.
    int tickX(int index) const;
    static double tickDb(int index);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace tarnveil
