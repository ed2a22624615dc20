#include "components/level_meter.h"

#include "components/wave_player.h"

#include <QPaintEvent>
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

        channel.barDb = bar;
        channel.holdDb = hold;
    }
    updateChangedSegments();
}

int MMLevel::segmentCount() const
{
    const int length = std::max(1, width() - 2 * SideMargin);
    return length < SegmentWidth ? 0 : (length - SegmentWidth) / SegmentPitch + 1;
}

MMLevel::Segments MMLevel::segmentsOf(const Channel& channel) const
{
    const int left = SideMargin;
    const int length = std::max(1, width() - 2 * SideMargin);
    const int count = segmentCount();
    Segments segments;
    // A segment is lit when it starts before the bar's end, or holds the peak mark.
    if (channel.barDb > MinimumDb) {
        const int litTo = barX(left, length, channel.barDb);
        segments.lit = std::clamp((litTo - left + SegmentPitch - 1) / SegmentPitch, 0, count);
    }
    if (channel.holdDb > MinimumDb) {
        const int hold = (barX(left, length, channel.holdDb) - left) / SegmentPitch;
        segments.hold = hold < count ? hold : -1;
    }
    return segments;
}

QRect MMLevel::segmentsRect(int channel, int first, int last) const
{
    const int barHeight = std::max(1, (height() - 3 * BarGap) / 2);
    const int top = BarGap + channel * (barHeight + BarGap);
    return {SideMargin + first * SegmentPitch, top, (last - first) * SegmentPitch + SegmentWidth, barHeight};
}

// Most readings move a bar within one segment and change nothing on screen;
// the rest repaint the few segments that went on or off.
void MMLevel::updateChangedSegments()
{
    for (int i = 0; i < 2; ++i) {
        const Segments now = segmentsOf(channels_[static_cast<size_t>(i)]);
        Segments& was = shown_[static_cast<size_t>(i)];
        if (now == was)
            continue;
        QRegion changed;
        if (now.lit != was.lit)
            changed += segmentsRect(i, std::min(now.lit, was.lit), std::max(now.lit, was.lit) - 1);
        if (now.hold != was.hold) {
            for (const int hold : {now.hold, was.hold}) {
                if (hold >= 0)
                    changed += segmentsRect(i, hold, hold);
            }
        }
        was = now;
        update(changed);
    }
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

void MMLevel::resizeEvent(QResizeEvent*)
{
    darkStrip_ = QPixmap();
    litStrip_ = QPixmap();
    // A resize repaints the whole meter at the new width.
    for (int i = 0; i < 2; ++i)
        shown_[static_cast<size_t>(i)] = segmentsOf(channels_[static_cast<size_t>(i)]);
}

void MMLevel::drawStrips()
{
    const qreal ratio = devicePixelRatioF();
    const int left = SideMargin;
    const int length = std::max(1, width() - 2 * SideMargin);
    for (const bool lit : {false, true}) {
        QPixmap strip(size() * ratio);
        strip.setDevicePixelRatio(ratio);
        QPainter painter(&strip);
        painter.fillRect(rect(), Qt::black);
        for (int i = 0; i < 2; ++i) {
            const QRect bar = segmentsRect(i, 0, 0);
            for (int x = left; x + SegmentWidth <= left + length; x += SegmentPitch) {
                // A segment takes the zone of its middle, so the colours change on
                // segment boundaries and never within one.
                const double segmentDb = MinimumDb + (x + SegmentWidth / 2.0 - left) / length * -MinimumDb;
                const QColor colour = zoneColour(segmentDb);
                painter.fillRect(x, bar.top(), SegmentWidth, bar.height(), lit ? colour : colour.darker(450));
            }
        }
        painter.end();
        (lit ? litStrip_ : darkStrip_) = strip;
    }
}

void MMLevel::paintEvent(QPaintEvent* event)
{
    if (darkStrip_.isNull())
        drawStrips();
    const qreal ratio = devicePixelRatioF();
    const auto source = [ratio](const QRect& area) {
        return QRectF(area.x() * ratio, area.y() * ratio, area.width() * ratio, area.height() * ratio);
    };
    QPainter painter(this);
    painter.setClipRegion(event->region());
    for (const QRect& area : event->region())
        painter.drawPixmap(QRectF(area), darkStrip_, source(area));
    for (int i = 0; i < 2; ++i) {
        const Segments segments = segmentsOf(channels_[static_cast<size_t>(i)]);
        if (segments.lit > 0) {
            const QRect lit = segmentsRect(i, 0, segments.lit - 1);
            painter.drawPixmap(QRectF(lit), litStrip_, source(lit));
        }
        if (segments.hold >= 0) {
            const QRect hold = segmentsRect(i, segments.hold, segments.hold);
            painter.drawPixmap(QRectF(hold), litStrip_, source(hold));
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
