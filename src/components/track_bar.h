#pragma once

#include <QWidget>

#include <cstdint>

namespace tarnveil {

// Position slider in milliseconds. It keeps whatever Position the program sets,
// also outside Min..Max (the thumb is then drawn at the nearer end), and raises
// ThumbMoved only for the user's own moves: drag, click on the groove, keys.
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

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void ThumbMoved();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int32_t min_ = 0;
    int32_t max_ = 0;
    int32_t position_ = 0;
    bool dragging_ = false;
};

} // namespace tarnveil
