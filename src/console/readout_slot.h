#pragma once

#include <QSize>
#include <QWidget>

class QLabel;

namespace tarnveil {

// Holds a read-out label (the clock, the times) in the window's layout. A label
// whose text changes asks its layout to arrange the whole window again, once a
// second for the clock alone; the slot passes that on only when the text
// needs another size, so that a new second costs one small repaint.
// GUI thread only.
class ReadoutSlot : public QWidget {
    Q_OBJECT

public:
    // Takes `label` as its child, filling the slot.
    ReadoutSlot(QLabel* label, QWidget* parent);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* label_;
    // What the layout was last told; a text that needs no other size leaves
    // the layout be.
    mutable QSize hint_;
    mutable QSize minimumHint_;
};

} // namespace tarnveil
