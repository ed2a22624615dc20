#include "components/level_meter.h"

#include "components/wave_player.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace tarnveil {

namespace {
constexpr int SegmentWidth = 3;
constexpr int SegmentPitch = 4; // segment plus a one-pixel gap
constexpr int BarGap = 3;

QColor zoneColour(double db)
{
    if (db >= MMLevel::RedFromDb)
        return {0xFF, 0x20, 0x20};
    if (db >= MMLevel::YellowFromDb)
        return {0xFF, 0xE0, 0x00};
    return {0x00, 0xE0, 0x00};
}

// x of a dB value along a bar that runs from `left` over `length` pixels.
int barX(int left, int length, double db)
{
    return left + static_cast<int>(std::lround(MMLevel::fraction(db) * length));
}
} // namespace

MMLevel::MMLevel(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    clock_.start();
}

double MMLevel::peakToDb(double peak)
{
    // NaN is no reading; an infinite peak is as loud as it gets.
    if (std::isnan(peak) || peak <= 0.0)
        return MinimumDb;
    return std::clamp(20.0 * std::log10(peak), MinimumDb, 0.0);
}

double MMLevel::fraction(double db)
{
    return std::clamp((db - MinimumDb) / -MinimumDb, 0.0, 1.0);
}

void MMLevel::showLevels(const LevelReading& reading)
{
    showLevelsAt(reading, clock_.elapsed());
}

void MMLevel::showLevelsAt(const LevelReading& reading, int64_t nowMs)
{
    const double elapsedS = lastMs_ < 0 ? 0.0 : std::max<int64_t>(0, nowMs - lastMs_) / 1000.0;
    lastMs_ = nowMs;
    const double fall = FallDbPerSecond * elapsedS;

    bool changed = false;
    for (int i = 0; i < 2; ++i) {
        double incoming = MinimumDb;
        if (reading.channels == 1)
            incoming = peakToDb(reading.peak[0]);
        else if (reading.channels >= 2)
            incoming = peakToDb(reading.peak[i]);

        Channel& channel = channels_[static_cast<size_t>(i)];
        const double bar = std::max({incoming, channel.barDb - fall, MinimumDb});

        double hold = channel.holdDb;
        if (incoming >= hold) {
            hold = incoming;
            channel.holdSinceMs = nowMs;
        } else if (nowMs - channel.holdSinceMs >= PeakHoldMs) {
            hold = std::max(hold - fall, MinimumDb);
        }
        // The mark never sits below its own bar.
        hold = std::max(hold, bar);

        changed = changed || bar != channel.barDb || hold != channel.holdDb;
        channel.barDb = bar;
        channel.holdDb = hold;
    }
    if (changed)
        update();
}

double MMLevel::barDb(int channel) const
{
    return channels_.at(static_cast<size_t>(channel)).barDb;
}

double MMLevel::peakHoldDb(int channel) const
{
    return channels_.at(static_cast<size_t>(channel)).holdDb;
}

bool MMLevel::atRest() const
{
    return std::all_of(channels_.begin(), channels_.end(), [](const Channel& channel) {
        return channel.barDb <= MinimumDb && channel.holdDb <= MinimumDb;
    });
}

QSize MMLevel::sizeHint() const
{
    return {300, 3 * BarGap + 2 * 8};
}

QSize MMLevel::minimumSizeHint() const
{
    return {2 * SideMargin + 10 * SegmentPitch, 3 * BarGap + 2 * 3};
}

void MMLevel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);

    const int left = SideMargin;
    const int length = std::max(1, width() - 2 * SideMargin);
    const int barHeight = std::max(1, (height() - 3 * BarGap) / 2);

    for (int i = 0; i < 2; ++i) {
        const Channel& channel = channels_[static_cast<size_t>(i)];
        const int top = BarGap + i * (barHeight + BarGap);
        const int litTo = channel.barDb > MinimumDb ? barX(left, length, channel.barDb) : left;
        const int holdX = channel.holdDb > MinimumDb ? barX(left, length, channel.holdDb) : -1;

        for (int x = left; x + SegmentWidth <= left + length; x += SegmentPitch) {
            // A segment takes the zone of its middle, so the colours change on
            // segment boundaries and never within one.
            const double segmentDb = MinimumDb + (x + SegmentWidth / 2.0 - left) / length * -MinimumDb;
            const QColor colour = zoneColour(segmentDb);
            const bool lit = x < litTo || (holdX >= x && holdX < x + SegmentPitch);
            painter.fillRect(x, top, SegmentWidth, barHeight, lit ? colour : colour.darker(450));
        }
    }
}

MMLevelScale::MMLevelScale(QWidget* parent) : QWidget(parent)
{
    // Stands in for the stored "Small Fonts", 8 pixels high.
    QFont small = font();
    small.setPixelSize(8);
    setFont(small);
    setAutoFillBackground(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

double MMLevelScale::tickDb(int index)
{
    return MMLevel::MinimumDb + index * (-MMLevel::MinimumDb / (TickCount - 1));
}

int MMLevelScale::tickX(int index) const
{
    const int length = std::max(1, width() - 2 * MMLevel::SideMargin);
    return barX(MMLevel::SideMargin, length, tickDb(index));
}

QSize MMLevelScale::sizeHint() const
{
    return {300, TickSize + 2 + fontMetrics().height()};
}

QSize MMLevelScale::minimumSizeHint() const
{
    return {2 * MMLevel::SideMargin + 2 * TickCount, sizeHint().height()};
}

void MMLevelScale::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics = fontMetrics();

    // Label every tick when the labels fit side by side, else only the larger ticks.
    const int spacing = tickX(1) - tickX(0);
    const int widest = metrics.horizontalAdvance(QStringLiteral("-60"));
    const bool labelAll = spacing >= widest + 4;

    const int smallSize = TickSize / 2;
    for (int i = 0; i < TickCount; ++i) {
        const bool large = i % EnlargeEvery == 0;
        const int x = tickX(i);
        painter.drawLine(x, 0, x, (large ? TickSize : smallSize) - 1);
        if (!large && !labelAll)
            continue;
        const QString text = QString::number(static_cast<int>(std::lround(tickDb(i))));
        const int textWidth = metrics.horizontalAdvance(text);
        const int textX = std::clamp(x - textWidth / 2, 0, std::max(0, width() - textWidth));
        painter.drawText(textX, TickSize + 1 + metrics.ascent(), text);
    }
}

} // namespace tarnveil
