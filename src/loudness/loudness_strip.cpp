#include "loudness/loudness_strip.h"

#include "components/track_bar.h"
#include "loudness/silence_defaults.h"

#include <QApplication>
#include <QDateTime>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace tarnveil {

namespace {

// The curve spans -60 LUFS (the floor) to 0 LUFS; the line marks -23 LUFS.
constexpr double FloorLufs = -60.0;
constexpr double TargetLufs = -23.0;

const QColor Background(0x10, 0x10, 0x30);
const QColor Curve(0x40, 0xC0, 0x60);
const QColor Silence(0xD0, 0x40, 0x40, 0xB0);
const QColor Target(0xFF, 0xFF, 0x80, 0x80);
const QColor PlayLine(Qt::white);

QString positionText(double ms)
{
    const auto tenths = static_cast<int64_t>(ms / 100);
    const int64_t seconds = tenths / 10;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'))
        .arg(tenths % 10);
}

QString decibelText(double value, const char* unit)
{
    return std::isfinite(value) ? QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(unit))
                                : QStringLiteral("silent");
}

} // namespace

LoudnessStrip::LoudnessStrip(TrackBar& trackBar, QWidget* parent) : QWidget(parent), trackBar_(trackBar)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize LoudnessStrip::sizeHint() const
{
    return {240, StripHeight};
}

QSize LoudnessStrip::minimumSizeHint() const
{
    return {2 * TrackBar::BevelWidth + 3 * TrackBar::ThumbWidth, StripHeight};
}

void LoudnessStrip::setProfile(std::shared_ptr<const LoudnessProfile> profile)
{
    profile_ = std::move(profile);
    silences_.clear();
    if (profile_) {
        ProfiledLog log{LogSpan{}, profile_};
        silences_ = findSilences({log}, DefaultSilenceThresholdDbfs, DefaultSilenceMinimumMs);
    }
    backdrop_ = QPixmap();
    update();
}

void LoudnessStrip::followTrackBar()
{
    const int positionX = static_cast<int>(std::lround(xAt(trackBar_.Position())));
    if (trackBar_.Min() != drawnMin_ || trackBar_.Max() != drawnMax_) {
        update();
        return;
    }
    // Over the same span only the play line moves: its old and new columns.
    if (positionX != drawnPositionX_) {
        update(lineColumn(drawnPositionX_));
        update(lineColumn(positionX));
    }
}

QRect LoudnessStrip::lineColumn(int positionX) const
{
    return {std::clamp(positionX, travelStart(), travelStart() + travelLength()), 0, 1, height()};
}

int LoudnessStrip::travelStart() const
{
    return TrackBar::travelStart();
}

// Never 0: the mapping divides by it.
int LoudnessStrip::travelLength() const
{
    return std::max(1, TrackBar::travelLength(width()));
}

double LoudnessStrip::msAt(double x) const
{
    const double low = std::min(trackBar_.Min(), trackBar_.Max());
    const double high = std::max(trackBar_.Min(), trackBar_.Max());
    return low + (x - travelStart()) / travelLength() * (high - low);
}

double LoudnessStrip::xAt(double ms) const
{
    const double low = std::min(trackBar_.Min(), trackBar_.Max());
    const double high = std::max(trackBar_.Min(), trackBar_.Max());
    return high > low ? travelStart() + (ms - low) / (high - low) * travelLength() : travelStart();
}

int LoudnessStrip::yAt(double lufs) const
{
    const double share = std::clamp((lufs - FloorLufs) / -FloorLufs, 0.0, 1.0);
    return static_cast<int>(std::lround((height() - 1) * (1.0 - share)));
}

void LoudnessStrip::paintEvent(QPaintEvent*)
{
    if (backdrop_.isNull() || trackBar_.Min() != drawnMin_ || trackBar_.Max() != drawnMax_)
        drawBackdrop();
    drawnPositionX_ = static_cast<int>(std::lround(xAt(trackBar_.Position())));

    QPainter painter(this);
    painter.drawPixmap(0, 0, backdrop_);
    if (trackBar_.Min() != trackBar_.Max()) {
        painter.setPen(PlayLine);
        const QRect line = lineColumn(drawnPositionX_);
        painter.drawLine(line.x(), 0, line.x(), height());
    }
}

// Everything but the play line, drawn once per profile, span and size: the
// line's moves repaint only its columns from here.
void LoudnessStrip::drawBackdrop()
{
    drawnMin_ = trackBar_.Min();
    drawnMax_ = trackBar_.Max();
    const qreal ratio = devicePixelRatioF();
    backdrop_ = QPixmap(size() * ratio);
    backdrop_.setDevicePixelRatio(ratio);

    QPainter painter(&backdrop_);
    painter.fillRect(rect(), Background);
    if (profile_ && profile_->steps() > 0) {
        // One column per pixel: the loudest 3 s loudness of the steps under it,
        // so a short burst in a long span still shows.
        QPainterPath curve;
        curve.moveTo(travelStart(), height());
        const double lengthMs = static_cast<double>(profile_->steps()) * LoudnessProfile::StepMs;
        for (int x = travelStart(); x <= travelStart() + travelLength(); ++x) {
            const double from = std::max(0.0, msAt(x - 0.5));
            const double to = std::min(lengthMs, msAt(x + 0.5));
            double loudest = FloorLufs;
            for (auto step = static_cast<size_t>(from / LoudnessProfile::StepMs);
                 step < profile_->steps() && step * LoudnessProfile::StepMs < to; ++step)
                loudest = std::max(loudest, static_cast<double>(profile_->shortTerm[step]));
            curve.lineTo(x, from < to ? yAt(loudest) : height());
        }
        curve.lineTo(travelStart() + travelLength(), height());
        curve.closeSubpath();
        painter.fillPath(curve, Curve);

        for (const SilentStretch& silence : silences_) {
            const double left = std::max<double>(xAt(silence.startMs), travelStart());
            const double right = std::min<double>(xAt(silence.endMs), travelStart() + travelLength());
            if (right >= left)
                painter.fillRect(QRectF(left, 0, std::max(1.0, right - left), height()), Silence);
        }
    }
    painter.setPen(QPen(Target, 1, Qt::DotLine));
    painter.drawLine(travelStart(), yAt(TargetLufs), travelStart() + travelLength(), yAt(TargetLufs));
}

void LoudnessStrip::resizeEvent(QResizeEvent*)
{
    backdrop_ = QPixmap();
}

// The slider does the seeking, so a click here lands exactly where one on the
// slider in the same column would, with the same thumb grab and limits.
void LoudnessStrip::forwardToTrackBar(QMouseEvent* event)
{
    const QPointF at(event->position().x(), trackBar_.height() / 2.0);
    QMouseEvent forwarded(event->type(), at, trackBar_.mapToGlobal(at), event->button(), event->buttons(),
                          event->modifiers());
    QApplication::sendEvent(&trackBar_, &forwarded);
    event->accept();
}

void LoudnessStrip::mousePressEvent(QMouseEvent* event)
{
    forwardToTrackBar(event);
}

void LoudnessStrip::mouseMoveEvent(QMouseEvent* event)
{
    forwardToTrackBar(event);
}

void LoudnessStrip::mouseReleaseEvent(QMouseEvent* event)
{
    forwardToTrackBar(event);
}

bool LoudnessStrip::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    auto* help = static_cast<QHelpEvent*>(event);
    const double ms = msAt(help->pos().x());
    if (!profile_ || trackBar_.Min() == trackBar_.Max() || ms < 0) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    const auto step = static_cast<size_t>(ms / LoudnessProfile::StepMs);
    // The moment the operator would hear there; the position until the log's start is known.
    QString text = logStartMs_ ? QDateTime::fromMSecsSinceEpoch(*logStartMs_ + static_cast<int64_t>(ms))
                                     .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                               : positionText(ms);
    if (step < profile_->steps())
        text += QStringLiteral("\nshort-term %1\nmomentary %2\npeak %3")
                    .arg(decibelText(profile_->shortTerm[step], "LUFS"),
                         decibelText(profile_->momentary[step], "LUFS"), decibelText(profile_->peak[step], "dBFS"));
    QToolTip::showText(help->globalPos(), text, this);
    return true;
}

} // namespace tarnveil
