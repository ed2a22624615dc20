#include "components/track_bar.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QWheelEvent>
#include <qdrawutil.h>

#include <algorithm>
#include <cmath>

namespace tarnveil {

namespace {
constexpr int GrooveHeight = 4;

// Body, groove and thumb all wear the system's scroll-bar colour. Qt keeps no
// role for it; scroll-bar tracks are the button face a shade darker (the
// classic light-grey face gives the classic #C8C8C8).
QColor scrollBarColour(const QPalette& palette)
{
    return palette.color(QPalette::Button).darker(120);
}
} // namespace

TrackBar::TrackBar(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TrackBar::setMin(int32_t value)
{
    const QRect before = thumbRect();
    min_ = value;
    updateThumbMove(before);
}

void TrackBar::setMax(int32_t value)
{
    const QRect before = thumbRect();
    max_ = value;
    updateThumbMove(before);
}

void TrackBar::setPosition(int32_t value)
{
    const QRect before = thumbRect();
    position_ = value;
    updateThumbMove(before);
}

// Playback moves the values every tick, the thumb only now and then by a
// pixel: only then, and only where it was and is, does the slider repaint.
void TrackBar::updateThumbMove(const QRect& before)
{
    const QRect after = thumbRect();
    if (after != before)
        update(QRegion(before) + after);
}

QSize TrackBar::sizeHint() const
{
    return {240, 2 * BevelWidth + 22};
}

QSize TrackBar::minimumSizeHint() const
{
    return {2 * BevelWidth + 3 * ThumbWidth, 2 * BevelWidth + 12};
}

int TrackBar::thumbCentre() const
{
    const int64_t low = lowEnd();
    const int64_t span = int64_t{highEnd()} - low;
    double fraction = 0.0;
    if (span > 0)
        fraction = std::clamp(static_cast<double>(position_ - low) / static_cast<double>(span), 0.0, 1.0);
    else
        fraction = position_ > highEnd() ? 1.0 : 0.0;
    return travelStart() + static_cast<int>(std::lround(fraction * travelLength()));
}

QRect TrackBar::thumbRect() const
{
    const int height = std::max(6, this->height() - 2 * BevelWidth - 4);
    const int top = (this->height() - height) / 2;
    return {thumbCentre() - ThumbWidth / 2, top, ThumbWidth, height};
}

QRect TrackBar::grooveRect() const
{
    return {travelStart(), (height() - GrooveHeight) / 2, travelLength() + 1, GrooveHeight};
}

int32_t TrackBar::valueAt(int x) const
{
    const int64_t low = lowEnd();
    const int64_t span = int64_t{highEnd()} - low;
    const int length = travelLength();
    if (span <= 0 || length <= 0)
        return lowEnd();
    const double fraction = std::clamp(static_cast<double>(x - travelStart()) / length, 0.0, 1.0);
    return static_cast<int32_t>(low + std::llround(fraction * static_cast<double>(span)));
}

void TrackBar::moveByUser(int64_t value)
{
    const auto limited = static_cast<int32_t>(std::clamp<int64_t>(value, lowEnd(), highEnd()));
    if (limited == position_)
        return;
    position_ = limited;
    update();
    emit ThumbMoved();
}

// One hundredth of the travel for the arrows, a tenth for the page keys; never
// less than a millisecond, so a key always moves a short span.
int32_t TrackBar::step(int divisor) const
{
    const int64_t span = int64_t{highEnd()} - lowEnd();
    return static_cast<int32_t>(std::max<int64_t>(1, span / divisor));
}

void TrackBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& pal = palette();
    const QBrush body(scrollBarColour(pal));

    // Bevel: a raised outer edge, the body colour, a sunken inner edge; five pixels in all.
    painter.fillRect(rect(), body);
    qDrawShadePanel(&painter, rect(), pal, false, 1);
    qDrawShadePanel(&painter, rect().adjusted(BevelWidth - 1, BevelWidth - 1, -(BevelWidth - 1), -(BevelWidth - 1)),
                    pal, true, 1);

    qDrawShadePanel(&painter, grooveRect(), pal, true, 1, &body);
    qDrawShadePanel(&painter, thumbRect(), pal, false, 2, &body);

    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(BevelWidth, BevelWidth, -BevelWidth, -BevelWidth);
        option.backgroundColor = body.color();
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void TrackBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPoint point = event->position().toPoint();
    dragging_ = true;
    if (thumbRect().contains(point)) {
        // Grabbing the thumb off-centre must not make it jump.
        grabOffset_ = point.x() - thumbCentre();
    } else {
        grabOffset_ = 0;
        moveByUser(valueAt(point.x()));
    }
    event->accept();
}

void TrackBar::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging_) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    moveByUser(valueAt(event->position().toPoint().x() - grabOffset_));
    event->accept();
}

void TrackBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && dragging_) {
        dragging_ = false;
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void TrackBar::keyPressEvent(QKeyEvent* event)
{
    const int64_t from = std::clamp<int64_t>(position_, lowEnd(), highEnd());
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down: moveByUser(from - step(100)); break;
    case Qt::Key_Right:
    case Qt::Key_Up: moveByUser(from + step(100)); break;
    case Qt::Key_PageDown: moveByUser(from - step(10)); break;
    case Qt::Key_PageUp: moveByUser(from + step(10)); break;
    case Qt::Key_Home: moveByUser(lowEnd()); break;
    case Qt::Key_End: moveByUser(highEnd()); break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

void TrackBar::wheelEvent(QWheelEvent* event)
{
    const int notches = event->angleDelta().y() / QWheelEvent::DefaultDeltasPerStep;
    if (notches == 0) {
        event->ignore();
        return;
    }
    const int64_t from = std::clamp<int64_t>(position_, lowEnd(), highEnd());
    moveByUser(from + int64_t{notches} * step(100));
    event->accept();
}

} // namespace tarnveil
