#pragma once

#include <QWidget>

#include <algorithm>

#include <cstdint>

namespace tarnveil {

// Position slider in milliseconds. It keeps whatever Position the program sets,
// also outside Min..Max (the thumb is then drawn at the nearer end), and raises
// ThumbMoved only for the user's own moves: drag, click on the groove, keys.
// The user's moves stay between Min and Max; when the program has left Max below
// Min the thumb travels between the two all the same, the lower one at the left.
// GUI thread only.
class TrackBar : public QWidget {
    Q_OBJECT

public:
    explicit TrackBar(QWidget* parent = nullptr);

    int32_t Min() const { return min_; }
    int32_t Max() const { return max_; }
    int32_t Position() const { return position_; }
    void setMin(int32_t value);
    void setMax(int32_t value);
    void setPosition(int32_t value);

    // Where the thumb stands and the stretch its centre travels, in widget
    // coordinates; the mouse and the painting share them.
    QRect thumbRect() const;
    QRect grooveRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static constexpr int BevelWidth = 5;
    static constexpr int ThumbWidth = 11;

    // The stretch the thumb's centre travels in a bar `width` wide, which
    // whatever is drawn in step with the slider shares.
    static int travelStart() { return BevelWidth + ThumbWidth / 2; }
    static int travelLength(int width) { return std::max(0, width - 2 * BevelWidth - ThumbWidth); }

signals:
    void ThumbMoved();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    int32_t lowEnd() const { return min_ < max_ ? min_ : max_; }
    int32_t highEnd() const { return min_ < max_ ? max_ : min_; }
    int travelLength() const { return travelLength(width()); }
    int thumbCentre() const;
    void updateThumbMove(const QRect& before);
    int32_t valueAt(int x) const;
    // A user's move: limited to the travel, ThumbMoved when the value changes.
    void moveByUser(int64_t value);
    int32_t step(int divisor) const;

    int32_t min_ = 0;
    int32_t max_ = 0;
    int32_t position_ = 0;
    bool dragging_ = false;
    int grabOffset_ = 0; // mouse x minus thumb centre when the drag began
};

} // namespace tarnveil
